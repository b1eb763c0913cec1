// header_edit_fuzz.cpp - both edits of header records on arbitrary records:
// the first byte picks the mode, the edit must neither leak nor lose the
// bytes behind its stop line.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "text/header_edit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const int mode = 1 + data[0] % 3;
  uint32_t length = static_cast<uint32_t>(size - 1);
  auto *record = static_cast<uint8_t *>(std::malloc(length + 8));
  if (length != 0) std::memcpy(record, data + 1, length);
  zz::del_first_string_upto_mask(mode, &record, &length, "Email", "Body");
  zz::replace_repeat_info(&record, &length, (data[0] & 4) ? "ABCDEF" : nullptr,
                          data[0] & 8 ? 77 : 0, data[0] & 16 ? 2 : 0, "Body");
  zz::del_first_string_upto_mask(mode, &record, &length, "", nullptr);
  std::free(record);
  return 0;
}
