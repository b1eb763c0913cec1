// compare.cpp - case-insensitive comparisons through the 1251 upper case.
#include "text/compare.h"

#include "platform/os.h"

namespace zz {

bool equal_ignoring_case(const char *a, const char *b) {
  for (;; ++a, ++b) {
    if (os::upper_1251(*a) != os::upper_1251(*b)) return false;
    if (*a == '\0') return true;
  }
}

bool equal_ascii_ignoring_case(const char *a, const char *b) {
  return equal_ascii_ignoring_case(a, b, static_cast<size_t>(-1));
}

bool equal_ascii_ignoring_case(const char *a, const char *b, size_t n) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  for (size_t i = 0; i < n; ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

}  // namespace zz
