// cp1251.h - conversions between the module's code page 1251 texts and the
// UTF-8 and UTF-16 of the host's files, terminals and logs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zz::host_common {

extern const char16_t kCp1251ToUnicode[256];

// to_utf8 - every 1251 byte has a character (0x98 becomes U+FFFD)
std::string cp1251_to_utf8(std::string_view text);
// utf8_to_cp1251 - false when the text is not UTF-8 or holds a character with
// no 1251 form; `bad` then names the offending code point (or -1 for bad bytes)
bool utf8_to_cp1251(std::string_view text, std::string *out, long *bad = nullptr);
// utf8_to_cp1251_lossy - the same, each character without a 1251 form (and
// each byte that is not UTF-8) written as "?"
std::string utf8_to_cp1251_lossy(std::string_view text);
// utf16le_to_cp1251 - the same for UTF-16LE bytes (no BOM)
bool utf16le_to_cp1251(std::string_view bytes, std::string *out, long *bad = nullptr);
// unicode_to_cp1251 - one code point; false when it has no 1251 form
bool unicode_to_cp1251(uint32_t code_point, char *out);

}  // namespace zz::host_common
