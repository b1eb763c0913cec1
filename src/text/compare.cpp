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

}  // namespace zz
