// compare.h - comparisons of code page 1251 texts without regard to case.
#pragma once

namespace zz {

// equal_ignoring_case - lstrcmpiA equality: Latin and Cyrillic letters fold
bool equal_ignoring_case(const char *a, const char *b);

}  // namespace zz
