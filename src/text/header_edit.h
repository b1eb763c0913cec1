// header_edit.h - edits of a header record held in an owned block: the
// block is replaced by a new one (the old one freed) and the length updated.
// The edited header part comes out normalised with CR LF line ends and no
// empty lines; everything after the stop line is kept byte for byte.
// Results: 0 success, 0xFFFFFFFF failure (the record is then unchanged).
#pragma once

#include <cstdint>

namespace zz {

constexpr int kDeleteFirst = 1;  // drop the first line of the name
constexpr int kKeepFirst = 2;    // drop every later line of the name
constexpr int kMoveFirst = 3;    // move the first line of the name to the end of the header

uint32_t del_first_string_upto_mask(int mode, uint8_t **data, uint32_t *length, const char *name,
                                    const char *stop);
// replace_repeat_info - "MessageHash", "CurrentTime" and "RepeatNumber" written
// first (each when given: a hash that is not null, numbers not 0), and their
// old lines dropped (the two numbers go together with the time)
uint32_t replace_repeat_info(uint8_t **data, uint32_t *length, const char *hash, uint32_t time,
                             uint32_t number, const char *stop);

}  // namespace zz
