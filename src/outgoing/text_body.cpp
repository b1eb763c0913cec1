// text_body.cpp - code page 866 detection and letter conversion.
#include "outgoing/text_body.h"

namespace zz {
namespace {

// Bytes that are letters in 866 but not in 1251's letter range.
bool only_866(uint8_t b) {
  return (b >= 0x80 && b <= 0xA7) || (b >= 0xA9 && b <= 0xAF);
}
// Bytes that 1251 uses for letters and 866 for drawing or rare letters.
bool only_1251(uint8_t b) {
  return b == 0xB8 || (b >= 0xC0 && b <= 0xDF) || b >= 0xF2;
}

}  // namespace

bool looks_like_866(const uint8_t *data, uint32_t length) {
  bool seen_866 = false;
  for (uint32_t i = 0; i < length; ++i) {
    if (only_1251(data[i])) return false;
    seen_866 = seen_866 || only_866(data[i]);
  }
  return seen_866;
}

void convert_866_letters(uint8_t *data, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t b = data[i];
    if (b >= 0x80 && b <= 0xAF) {
      data[i] = static_cast<uint8_t>(b + 0x40);
    } else if (b >= 0xE0 && b <= 0xEF) {
      data[i] = static_cast<uint8_t>(b + 0x10);
    } else if (b == 0xF0) {
      data[i] = 0xA8;
    } else if (b == 0xF1) {
      data[i] = 0xB8;
    }
  }
}

}  // namespace zz
