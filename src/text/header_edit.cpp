// header_edit.cpp - line-by-line rewriting of header records.
//
// A line of 2048 bytes or more cannot be read as a line. The rewrite ends
// there as it would at a stop line, and that line and everything after it
// are kept unchanged behind the edited part, so no byte of the record is lost.
#include "text/header_edit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "files/blocks.h"
#include "frame/events.h"
#include "text/header_record.h"

namespace zz {
namespace {

bool has_stop(const char *stop) {
  return stop != nullptr && *stop != '\0';
}

void append_line(std::string *out, const char *line) {
  out->append(line);
  out->append("\r\n");
}

// rewrite_header - feeds every normalised header line to `keep` (which writes
// it or not); at the stop line (or a line too long to read) `before_tail` runs,
// then the stop line and the untouched rest are appended.
void rewrite_header(const uint8_t *data, uint32_t length, const char *stop, std::string *out,
                    const std::function<void(const char *)> &keep,
                    const std::function<void()> &before_tail) {
  TextCursor cursor = make_cursor(data, length);
  char line[kLineSize];
  for (;;) {
    const TextCursor line_start = cursor;
    if (!read_line(&cursor, line)) {
      before_tail();
      if (line_start.Left != 0)
        out->append(reinterpret_cast<const char *>(line_start.Pos), line_start.Left);
      return;
    }
    normalise(line);
    if (*line == '\0') continue;
    if (has_stop(stop) && cmp_prefix(line, stop) == 0) {
      before_tail();
      append_line(out, line);
      if (cursor.Left != 0) out->append(reinterpret_cast<const char *>(cursor.Pos), cursor.Left);
      return;
    }
    keep(line);
  }
}

// replace_record - the new block takes the record's place; 0 / 0xFFFFFFFF
uint32_t replace_record(const std::string &text, uint8_t **data, uint32_t *length,
                        const char *function) {
  void *block = std::malloc(text.size() + kSpareBytes);
  if (block == nullptr) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", function);
    return kFailed;
  }
  std::memcpy(block, text.data(), text.size());
  std::free(*data);
  *data = static_cast<uint8_t *>(block);
  *length = static_cast<uint32_t>(text.size());
  return kOk;
}

}  // namespace

uint32_t del_first_string_upto_mask(int mode, uint8_t **data, uint32_t *length, const char *name,
                                    const char *stop) {
  std::string out;
  out.reserve(*length + kSpareBytes);
  bool first_seen = false;
  std::string set_aside;
  auto keep = [&](const char *line) {
    if (cmp_prefix(line, name) != 0) {
      append_line(&out, line);
    } else if (!first_seen) {
      first_seen = true;
      if (mode == kMoveFirst) set_aside = line;
      if (mode == kKeepFirst) append_line(&out, line);
    } else if (mode != kKeepFirst) {
      append_line(&out, line);
    }
  };
  // The moved line becomes the last header line, before the stop line.
  auto before_tail = [&] {
    if (mode == kMoveFirst && first_seen) append_line(&out, set_aside.c_str());
  };
  rewrite_header(*data, *length, stop, &out, keep, before_tail);
  if (!first_seen) {
    report_failure(OXT_EV_NO_LINE_TO_EDIT, "(!First)", "del_first_string_upto_mask");
    return kFailed;
  }
  return replace_record(out, data, length, "del_first_string_upto_mask");
}

uint32_t replace_repeat_info(uint8_t **data, uint32_t *length, const char *hash, uint32_t time,
                             uint32_t number, const char *stop) {
  const bool with_hash = hash != nullptr;
  std::string out;
  out.reserve(*length + kLineSize);
  char field[kLineSize + 32];
  if (with_hash) {
    std::snprintf(field, sizeof field, "%s:%.2040s\r\n", "MessageHash", hash);
    out.append(field);
  }
  if (time != 0) {
    std::snprintf(field, sizeof field, "%s:%lu\r\n", "CurrentTime",
                  static_cast<unsigned long>(time));
    out.append(field);
  }
  if (number != 0) {
    std::snprintf(field, sizeof field, "%s:%lu\r\n", "RepeatNumber",
                  static_cast<unsigned long>(number));
    out.append(field);
  }
  auto keep = [&](const char *line) {
    if (with_hash && cmp_prefix(line, "MessageHash") == 0) return;
    if (time != 0 &&
        (cmp_prefix(line, "CurrentTime") == 0 || cmp_prefix(line, "RepeatNumber") == 0))
      return;
    append_line(&out, line);
  };
  rewrite_header(*data, *length, stop, &out, keep, [] {});
  return replace_record(out, data, length, "replace_repeat_info");
}

}  // namespace zz
