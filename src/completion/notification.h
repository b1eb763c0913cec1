// notification.h - telling the administrator that a send request was moved
// to the bad-files directory: a new send request, addressed to the
// administrator, written into the output directory the failed one stood in.
#pragma once

#include <cstdint>

namespace zz {

// send_notification - 0 the request is complete, -1 failure (no empty directory left)
int32_t send_notification(const char *output_dir, const char *address, const char *type,
                          const char *moved_path);

}  // namespace zz
