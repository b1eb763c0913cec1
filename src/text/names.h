// names.h - made-up names: working names that claim an outgoing file or
// descriptor and hide it from every scan, TMP_ names for new directories,
// and GUID texts for the message database.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

// make_work_name - "<dir>\qmt-<time>-<sequence>-<thread>.tmp" into a 2048-byte buffer
void make_work_name(const char *directory, char *out);
// is_work_name - "qmt…" and ".tmp", case ignored, at least 8 characters
int is_work_name(const char *name);
// make_tmp_name - appends a separator when needed and "TMP_<date><time>_<random>"
void make_tmp_name(char *path);
// get_random_guid - a new owned 36-character text; 0, or 0xFFFFFFFF with events
uint32_t get_random_guid(CCA_CONTEXT *crypto, char **out);

}  // namespace zz
