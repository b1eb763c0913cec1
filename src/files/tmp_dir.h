// tmp_dir.h - a new directory under a fresh TMP_ name: names are drawn again
// while a directory of that name exists, then the one level is created.
#pragma once

namespace zz {

// create_tmp_dir - `created` (2048 bytes) gets the new path, also when the
// creation fails; true when the directory was created. Reports nothing.
bool create_tmp_dir(const char *parent, char *created);

}  // namespace zz
