// cp1251.cpp - code page 1251 to and from UTF-8 and UTF-16LE.
#include "common/cp1251.h"

namespace zz::host_common {
namespace {

void append_utf8(uint32_t cp, std::string *out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// next_utf8 - decodes one code point; false for a malformed sequence.
bool next_utf8(std::string_view text, size_t *pos, uint32_t *cp) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(*pos);
  size_t extra = 0;
  uint32_t value = 0;
  if (lead < 0x80) {
    value = lead;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    extra = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    extra = 2;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    extra = 3;
    value = lead & 0x07;
  } else {
    return false;
  }
  for (size_t i = 1; i <= extra; ++i) {
    if (*pos + i >= text.size() || (byte(*pos + i) & 0xC0) != 0x80) return false;
    value = (value << 6) | (byte(*pos + i) & 0x3F);
  }
  if ((extra == 2 && (value < 0x800 || (value >= 0xD800 && value < 0xE000))) ||
      (extra == 3 && (value < 0x10000 || value > 0x10FFFF))) {
    return false;
  }
  *pos += extra + 1;
  *cp = value;
  return true;
}

}  // namespace

bool unicode_to_cp1251(uint32_t code_point, char *out) {
  if (code_point < 0x80) {
    *out = static_cast<char>(code_point);
    return true;
  }
  for (int b = 0x80; b < 256; ++b) {
    if (kCp1251ToUnicode[b] == code_point && code_point != 0xFFFD) {
      *out = static_cast<char>(b);
      return true;
    }
  }
  return false;
}

std::string cp1251_to_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) append_utf8(kCp1251ToUnicode[static_cast<unsigned char>(c)], &out);
  return out;
}

bool utf8_to_cp1251(std::string_view text, std::string *out, long *bad) {
  out->clear();
  size_t pos = 0;
  while (pos < text.size()) {
    uint32_t cp = 0;
    char c = 0;
    if (!next_utf8(text, &pos, &cp)) {
      if (bad != nullptr) *bad = -1;
      return false;
    }
    if (!unicode_to_cp1251(cp, &c)) {
      if (bad != nullptr) *bad = static_cast<long>(cp);
      return false;
    }
    out->push_back(c);
  }
  return true;
}

std::string utf8_to_cp1251_lossy(std::string_view text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t at = pos;
    uint32_t cp = 0;
    char c = '?';
    if (!next_utf8(text, &pos, &cp)) {
      pos = at + 1;  // one bad byte, one question mark
    } else if (!unicode_to_cp1251(cp, &c)) {
      c = '?';
    }
    out.push_back(c);
  }
  return out;
}

bool utf16le_to_cp1251(std::string_view bytes, std::string *out, long *bad) {
  out->clear();
  if (bytes.size() % 2 != 0) {
    if (bad != nullptr) *bad = -1;
    return false;
  }
  for (size_t i = 0; i < bytes.size(); i += 2) {
    uint32_t unit = static_cast<unsigned char>(bytes[i]) |
                    (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    uint32_t cp = unit;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      uint32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                     (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    char c = 0;
    if (!unicode_to_cp1251(cp, &c)) {
      if (bad != nullptr) *bad = static_cast<long>(cp);
      return false;
    }
    out->push_back(c);
  }
  return true;
}

}  // namespace zz::host_common
