// seed.h - the runtime's pseudo-random generator (TMP_ names) is seeded once
// per process, by the first operation that may need it.
#pragma once

namespace zz {

void seed_random_once();

}  // namespace zz
