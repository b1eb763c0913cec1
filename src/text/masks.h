// masks.h - masks ("*" any run, "?" one character, compared in the upper
// case of code page 1251), name templates that reuse what a mask matched and
// insert the date, date subdirectories, and cutting texts at separators.
// Masks, names and templates are at most 2047 characters; longer ones are
// cut to that. Result buffers are 2048 bytes.
#pragma once

#include <cstddef>

namespace zz {

constexpr size_t kNameSize = 2048;

// replace_invalid_chars - each of  " * / : < > ? \ |  becomes "_"
void replace_invalid_chars(char *text);
int is_mask(const char *text);
int is_empty(const char *text);
// find_pattern - offset just past the first match ("?" any character), 0 when none
size_t find_pattern(const char *text, const char *pattern);
// match_mask - 0 when the text matches the mask, 1 otherwise
int match_mask(const char *mask, const char *text);
// cmp_upper_str - 0 when equal in upper case, else -1 or 1 by the first differing byte
int cmp_upper_str(const char *a, const char *b);
// transform_name - 0 with the new name in `result`; 1 when the mask does not match
int transform_name(const char *mask, const char *name, const char *pattern, char *result);
void split_name_ext(const char *path, char *base, char *ext);
// add_date_subdir - 'D', 'M' or 'Y' appends a separator and the date; 1 when appended
int add_date_subdir(char grouping, char *path);
int add_date_string(char grouping, char *text);
int get_string_after_mask(char *result, const char *text, const char *separator);
int get_string_upto_mask(char *result, const char *text, const char *separator);
int get_string_after_last_mask(char *result, const char *text, const char *separator);
int get_string_upto_last_mask(char *result, const char *text, const char *separator);

}  // namespace zz
