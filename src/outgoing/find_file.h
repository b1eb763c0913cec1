// find_file.h - the scan for loose files: claims one file of a rule
// directory by moving it to a working name and hands out its content.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

// find_file - 0 one file taken (array of one entry), 1 none, -1 failed.
// With 1, `subdirectories` tells whether the listing held any directory
// besides "." and ".." (a scan for send directories then has nothing to find).
int32_t find_file(GetFileCtx *ctx, const char *directory, FileEntry **files, uint32_t *count,
                  const char *mask, bool *subdirectories = nullptr);

}  // namespace zz
