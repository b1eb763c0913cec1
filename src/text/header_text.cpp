// header_text.cpp - trimming, prefix names, numbers and address values.
#include "text/header_text.h"

#include <cstring>

namespace zz {
namespace {

char ascii_upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

void copy_text(char *out, size_t size, const char *text) {
  size_t length = std::strlen(text);
  if (length >= size) length = size - 1;
  std::memcpy(out, text, length);
  out[length] = '\0';
}

}  // namespace

bool is_trim_char(char c) {
  return c == ' ' || c == '\t' || c == ':' || c == '\r';
}

void trim_right(char *text) {
  size_t length = std::strlen(text);
  while (length > 0 && is_trim_char(text[length - 1])) text[--length] = '\0';
}

void trim(char *text) {
  trim_right(text);
  size_t skip = 0;
  while (text[skip] != '\0' && is_trim_char(text[skip])) ++skip;
  if (skip != 0) std::memmove(text, text + skip, std::strlen(text + skip) + 1);
}

int is_empty_text(const char *text) {
  return text == nullptr || *text == '\0' ? 1 : 0;
}

int cmp_prefix(const char *text, const char *name) {
  for (; *name != '\0'; ++text, ++name) {
    if (*text == '\0' || ascii_upper(*text) != ascii_upper(*name)) return 1;
  }
  return 0;
}

uint32_t find_text(const uint8_t *block, uint32_t length, const char *pattern) {
  size_t n = pattern != nullptr ? std::strlen(pattern) : 0;
  if (block == nullptr || n == 0 || n > length) return 0;
  for (uint32_t i = 0; i + n <= length; ++i) {
    if (std::memcmp(block + i, pattern, n) == 0) return static_cast<uint32_t>(i + n);
  }
  return 0;
}

// The module's numbers are those of a 32-bit strtoul: leading blanks and a
// sign are taken, a negative value wraps, and overflow gives 0xFFFFFFFF,
// which the module treats as "no number" (0).
uint32_t to_number(const char *text, char **end, int base) {
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
      digit_value(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == '0' ? 8 : 10;
  }
  if (base < 2 || base > 36) {
    if (end != nullptr) *end = const_cast<char *>(text);
    return 0;
  }
  const char *digits = p;
  uint64_t value = 0;
  bool overflow = false;
  for (; digit_value(*p) < base; ++p) {
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit_value(*p));
    if (value > 0xFFFFFFFFull) {
      overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  if (end != nullptr) *end = const_cast<char *>(p == digits ? text : p);
  if (p == digits) return 0;
  uint32_t result = static_cast<uint32_t>(value);
  if (overflow)
    result = 0xFFFFFFFFu;
  else if (negative)
    result = 0u - result;
  return result == 0xFFFFFFFFu ? 0 : result;
}

void split_address(const char *value, char *type, char *address) {
  const char *colon = std::strchr(value, ':');
  if (colon == nullptr) {
    copy_text(type, kAddressTypeSize, "SMTP");
    copy_text(address, kLineSize, value);
    return;
  }
  const char *kind = cmp_prefix(value, "EX") == 0      ? "EX"
                     : cmp_prefix(value, "NOTES") == 0 ? "NOTES"
                                                       : "SMTP";
  copy_text(type, kAddressTypeSize, kind);
  copy_text(address, kLineSize, colon + 1);
}

}  // namespace zz
