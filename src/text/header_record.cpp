// header_record.cpp - the reading operations of header records.
#include "text/header_record.h"

#include <cstring>

namespace zz {
namespace {

constexpr uint32_t kMaxText = kLineSize - 1;  // a line's text with a last line's missing LF

bool has_stop(const char *stop) {
  return stop != nullptr && *stop != '\0';
}

// next_normalised - the next non-empty normalised line; false at the end or at a too long line
bool next_normalised(TextCursor *cursor, char *line) {
  while (read_line(cursor, line)) {
    normalise(line);
    if (*line != '\0') return true;
  }
  return false;
}

// lookup - the field lookup shared by every value reader
int lookup(TextCursor *cursor, char *value, const char *name, const char *stop) {
  char line[kLineSize];
  const size_t name_length = std::strlen(name);
  while (next_normalised(cursor, line)) {
    if (has_stop(stop) && cmp_prefix(line, stop) == 0) return 0;
    if (std::strlen(line) > name_length && cmp_prefix(line, name) == 0) {
      std::memmove(value, line + name_length, std::strlen(line + name_length) + 1);
      normalise(value);
      return 1;
    }
  }
  return 0;
}

}  // namespace

void normalise(char *line) {
  trim(line);
}

int read_line(TextCursor *cursor, char *line) {
  if (cursor->Left == 0) return 0;
  const uint32_t window = cursor->Left < kMaxText ? cursor->Left : kMaxText;
  const void *lf = std::memchr(cursor->Pos, '\n', window);
  uint32_t text = 0;
  uint32_t consumed = 0;
  if (lf != nullptr) {
    text = static_cast<uint32_t>(static_cast<const uint8_t *>(lf) - cursor->Pos);
    consumed = text + 1;
  } else if (cursor->Left <= kMaxText) {
    text = consumed = cursor->Left;  // the last line, without LF
  } else {
    return 0;  // too long: the cursor stays at its start
  }
  std::memcpy(line, cursor->Pos, text);
  line[text] = '\0';
  cursor->Pos += consumed;
  cursor->Left -= consumed;
  return 1;
}

int find_value(TextCursor record, char *value, const char *name, const char *stop) {
  return lookup(&record, value, name, stop);
}

int find_next_value(TextCursor *cursor, char *value, const char *name, const char *stop) {
  return lookup(cursor, value, name, stop);
}

int seek_value(TextCursor *cursor, const char *name, char *value) {
  return lookup(cursor, value, name, nullptr);
}

int seek_number(TextCursor *cursor, const char *name, uint32_t *number) {
  char value[kLineSize];
  if (!lookup(cursor, value, name, nullptr)) return 0;
  *number = to_number(value, nullptr, 10);
  return 1;
}

int find_number(TextCursor record, const char *name, uint32_t *number, const char *stop) {
  char value[kLineSize];
  if (!lookup(&record, value, name, stop)) return 0;
  *number = to_number(value, nullptr, 10);
  return 1;
}

uint32_t count_values(TextCursor record, const char *name, const char *stop) {
  char line[kLineSize];
  const size_t name_length = std::strlen(name);
  uint32_t count = 0;
  while (next_normalised(&record, line)) {
    if (has_stop(stop) && cmp_prefix(line, stop) == 0) break;
    if (std::strlen(line) > name_length && cmp_prefix(line, name) == 0) ++count;
  }
  return count;
}

int skip_past(TextCursor *cursor, const char *name) {
  char line[kLineSize];
  while (next_normalised(cursor, line)) {
    if (cmp_prefix(line, name) == 0) return 1;
  }
  return 0;
}

int next_line_is(TextCursor cursor, const char *name) {
  char line[kLineSize];
  if (!read_line(&cursor, line)) return 0;
  normalise(line);
  return *line != '\0' && cmp_prefix(line, name) == 0 ? 1 : 0;
}

int seek_block(TextCursor *cursor, const char *name, uint32_t length, const uint8_t **out) {
  char line[kLineSize];
  while (next_normalised(cursor, line)) {
    if (cmp_prefix(line, name) != 0) continue;
    if (length > cursor->Left) return 0;
    *out = cursor->Pos;
    cursor->Pos += length;
    cursor->Left -= length;
    return 1;
  }
  return 0;
}

}  // namespace zz
