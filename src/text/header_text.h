// header_text.h - the small text functions behind header records: the trim
// set (space, TAB, ":" and CR), prefix names compared in ASCII upper case,
// numbers read as the 32-bit strtoul reads them, and "type:address" values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zz {

constexpr size_t kLineSize = 2048;  // every line, value and name buffer
constexpr size_t kAddressTypeSize = 8;

bool is_trim_char(char c);
// trim_right - trim-set characters removed from the end, in place
void trim_right(char *text);
// trim - trim_right, then the start (the text is shifted)
void trim(char *text);
// is_empty_text - 1 for a null pointer or an empty text
int is_empty_text(const char *text);
// cmp_prefix - 0 when `text` begins with `name` (ASCII case ignored), else non-zero
int cmp_prefix(const char *text, const char *name);
// find_text - offset just past the first `pattern` in the block, 0 when none
uint32_t find_text(const uint8_t *block, uint32_t length, const char *pattern);
// to_number - the 32-bit strtoul; its overflow answer 0xFFFFFFFF becomes 0
uint32_t to_number(const char *text, char **end, int base);
// split_address - "EX:x", "NOTES:x" or anything else ("SMTP") into type and address
void split_address(const char *value, char *type /* kAddressTypeSize */,
                   char *address /* kLineSize */);

}  // namespace zz
