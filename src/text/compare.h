// compare.h - comparisons of code page 1251 texts without regard to case.
#pragma once

#include <cstddef>

namespace zz {

// equal_ignoring_case - lstrcmpiA equality: Latin and Cyrillic letters fold
bool equal_ignoring_case(const char *a, const char *b);
// equal_ascii_ignoring_case - _stricmp equality: only ASCII letters fold
bool equal_ascii_ignoring_case(const char *a, const char *b);
// equal_ascii_ignoring_case - the same over at most n characters (_strnicmp)
bool equal_ascii_ignoring_case(const char *a, const char *b, size_t n);

}  // namespace zz
