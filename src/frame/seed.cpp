// seed.cpp - the process-wide seeded flag. Like the registry key buffer it is
// shared without a lock: a second seeding by a racing thread does no harm.
#include "frame/seed.h"

#include <cstdlib>

#include "platform/os.h"

namespace zz {
namespace {
bool g_seeded = false;
}

void seed_random_once() {
  if (g_seeded) return;
  std::srand(static_cast<unsigned>(os::current().unix_time()));
  g_seeded = true;
}

}  // namespace zz
