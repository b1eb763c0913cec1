// text_body.h - a single text file sent as the message body: its bytes are
// turned from code page 866 into 1251, wholly (when the rule says so) or,
// when the text looks like 866, letter by letter.
#pragma once

#include <cstdint>

namespace zz {

// looks_like_866 - some byte only 866 uses for letters, and none only 1251 uses
bool looks_like_866(const uint8_t *data, uint32_t length);
// convert_866_letters - the 66 Cyrillic letters of 866 become those of 1251, in place
void convert_866_letters(uint8_t *data, uint32_t length);

}  // namespace zz
