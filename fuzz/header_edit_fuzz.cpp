// header_edit_fuzz.cpp - both edits of header records on arbitrary records:
// the first byte picks the mode and what is stamped. Besides neither leaking
// nor losing the bytes behind the stop line, a record written back must read
// back with the values just written, and keeping the first line of a name
// must be done once for all.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/header_edit.h"
#include "text/header_record.h"

namespace {

// fault - stops the run so the input is kept as a finding
void fault(bool broken) {
  if (broken) std::abort();
}

// all_lines_readable - no line of 2,047 bytes or more before its LF
bool all_lines_readable(const uint8_t *data, uint32_t length) {
  uint32_t start = 0;
  for (uint32_t i = 0; i <= length; ++i) {
    if (i == length || data[i] == '\n') {
      if (i - start >= 2047) return false;
      start = i + 1;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const int mode = 1 + data[0] % 3;
  uint32_t length = static_cast<uint32_t>(size - 1);
  auto *record = static_cast<uint8_t *>(std::malloc(length + 8));
  if (length != 0) std::memcpy(record, data + 1, length);

  if (zz::del_first_string_upto_mask(mode, &record, &length, "Email", "Body") == 0 &&
      mode == zz::kKeepFirst && all_lines_readable(record, length)) {
    // Keeping the first line of a name is done once: a second pass changes
    // nothing. (Not when a line written back with its CR LF grew past what a
    // reader takes: a 2,046-byte last line without LF is readable, the same
    // line ended by CR LF is not, and the second pass stops before it.)
    const std::string once(reinterpret_cast<const char *>(record), length);
    fault(zz::del_first_string_upto_mask(mode, &record, &length, "Email", "Body") != 0 ||
          once != std::string(reinterpret_cast<const char *>(record), length));
  }

  const char *hash = (data[0] & 4) ? "ABCDEF" : nullptr;
  const uint32_t time = data[0] & 8 ? 77 : 0;
  const uint32_t number = data[0] & 16 ? 2 : 0;
  if (zz::replace_repeat_info(&record, &length, hash, time, number, "Body") == 0) {
    const zz::TextCursor back = zz::make_cursor(record, length);
    char value[zz::kLineSize];
    uint32_t read = 0;
    if (hash != nullptr) {
      fault(!zz::find_value(back, value, "MessageHash", "Body") || std::strcmp(value, hash) != 0);
    }
    if (time != 0 && number != 0) {
      fault(!zz::find_number(back, "CurrentTime", &read, "Body") || read != time);
      fault(!zz::find_number(back, "RepeatNumber", &read, "Body") || read != number);
    }
  }
  zz::del_first_string_upto_mask(mode, &record, &length, "", nullptr);
  std::free(record);
  return 0;
}
