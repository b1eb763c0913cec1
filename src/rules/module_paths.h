// module_paths.h - the module-wide settings outside any rule: the error
// directories for incoming and outgoing files, the administrator's address
// and the data directory. Each reads under the registry key the caller has
// fetched, clears its outputs first and sets the switch only when the whole
// setting is valid. Results: 0, or 0xFFFFFFFF with the failure reported.
#pragma once

#include <cstdint>

namespace zz {

constexpr uint32_t kAdminTypeSize = 5;

uint32_t get_config_dir_store_files_if_error(char *directory, uint32_t *enabled);
uint32_t get_config_dir_store_bad_files(char *directory, uint32_t *enabled);
uint32_t get_config_admin_address(char *address, char *type /* kAdminTypeSize */,
                                  uint32_t *enabled);
// get_log_path - "Filename", or the temporary directory when it is empty; ends in a separator
uint32_t get_log_path(char *directory);

}  // namespace zz
