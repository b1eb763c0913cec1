// header_record.h - reading header records, the one text format of every
// small file the module handles (descriptors, signature lists, receipt
// notices, signed-file containers, message bodies): LF-separated lines of a
// name, separators and a value, possibly followed by raw blocks whose length
// an earlier line gave. A line of 2048 bytes or more, LF included, ends every
// reading operation with "not found". Results: 1 found, 0 not found.
#pragma once

#include <cstdint>

#include "text/header_text.h"

namespace zz {

// TextCursor - the next unread byte of a record and the count of bytes left.
struct TextCursor {
  const uint8_t *Pos;
  uint32_t Left;
};

inline TextCursor make_cursor(const void *data, uint32_t length) {
  return TextCursor{static_cast<const uint8_t *>(data), length};
}

// normalise - trim-set characters removed from the end, then from the start
void normalise(char *line);

// read_line - the next raw line (LF removed, not trimmed); the cursor moves past its LF
int read_line(TextCursor *cursor, char *line /* kLineSize */);
// find_value - the value of the first line of `name` before the stop line
int find_value(TextCursor record, char *value, const char *name, const char *stop);
// find_next_value - as find_value from the cursor, which moves past the found line
int find_next_value(TextCursor *cursor, char *value, const char *name, const char *stop);
int seek_value(TextCursor *cursor, const char *name, char *value);
int seek_number(TextCursor *cursor, const char *name, uint32_t *number);
int find_number(TextCursor record, const char *name, uint32_t *number, const char *stop);
// count_values - lines of `name` (longer than the name) before the stop line or the end
uint32_t count_values(TextCursor record, const char *name, const char *stop);
// skip_past - past the first line that begins with `name`
int skip_past(TextCursor *cursor, const char *name);
// next_line_is - the very next line, normalised, is not empty and begins with `name`
int next_line_is(TextCursor cursor, const char *name);
// seek_block - the `length` raw bytes after the line of `name`; `out` points into the record
int seek_block(TextCursor *cursor, const char *name, uint32_t length, const uint8_t **out);

}  // namespace zz
