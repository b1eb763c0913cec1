// tmp_dir.cpp - drawing a free TMP_ name and creating the directory.
#include "files/tmp_dir.h"

#include <cstdio>

#include "files/file_ops.h"
#include "host/settings.h"
#include "platform/os.h"
#include "text/names.h"

namespace zz {
namespace {
// Names of one second differ only by a random number; this many draws find a
// free one long before they run out.
constexpr int kDraws = 100000;
}  // namespace

bool create_tmp_dir(const char *parent, char *created) {
  int draws = 0;
  do {
    std::snprintf(created, host::kTextSize, "%s", parent);
    make_tmp_name(created);
  } while (is_dir(created) && ++draws < kDraws);
  return os::current().create_directory(created);
}

}  // namespace zz
