// target_path.h - where an incoming file goes: date, "RSA" and own TMP_
// subdirectories (created one level at a time), sanitised names and names
// made unique with "~" and a counter. Paths are 2048-byte buffers.
#pragma once

#include <cstdint>

namespace zz {

// append_text - appends to a 2048-byte buffer, cut at 2047 characters
void append_text(char *buffer, const char *text);
// enter_date_subdir - appends the date directory of 'D', 'M' or 'Y' (nothing
// for other codes), creating it when missing; false after reporting 0xE0090015
bool enter_date_subdir(char grouping, char *dir);
// enter_named_subdir - appends `name`, creating it when missing; false after 0xE0090015
bool enter_named_subdir(const char *name, char *dir);
// enter_new_tmp_subdir - creates a TMP_ directory no one has yet and enters it;
// `created` receives its path without a final "\"; false after 0xE0090015
bool enter_new_tmp_subdir(char *dir, char *created);
// make_unique_path - "base~N.ext" for the first N from 1 that names no file
void make_unique_path(char *path);
// write_unique - write_to_file under `path` when nothing has that name, else
// under make_unique_path's name, which `path` then holds
int write_unique(char *path, const void *data, uint32_t length);

}  // namespace zz
