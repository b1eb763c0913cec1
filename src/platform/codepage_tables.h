// codepage_tables.h - the byte tables behind upper_1251 and oem866_to_1251
// where the system has no such calls.
#pragma once

namespace zz::os {

extern const unsigned char kUpper1251[256];
extern const unsigned char kOem866To1251[256];

}  // namespace zz::os
