// send_dirs.h - turning loose files into send directories: groups of files
// within a rule's limits, and a collected file that is to be sent separately
// to several addresses or with guaranteed delivery.
#pragma once

#include <cstdint>

#include "rules/output_rules.h"
#include "zozerez.h"

namespace zz {

constexpr uint32_t kSeparateSending = 1;
constexpr uint32_t kGuaranteedDelivery = 2;

// group_files_to_subdir - 0 a send directory was made, 1 nothing to group, -1 failure
int32_t group_files_to_subdir(GetFileCtx *ctx, const char *directory, const AddressEntry *addresses,
                              uint32_t address_count, const char *mask, const SendOptions &options,
                              const char *subject);
// create_dir_for_send_file - the files written into a new send directory with
// a separate-sending (mode 1) or guaranteed-delivery (other modes) descriptor;
// each entry's CopyPath names its copy. 0, or -1 with nothing left behind
int32_t create_dir_for_send_file(uint32_t mode, const char *directory, FileEntry *files,
                                 uint32_t count, const AddressEntry *addresses,
                                 uint32_t address_count, uint32_t repeat_number,
                                 uint32_t repeat_timeout, const char *subject);

}  // namespace zz
