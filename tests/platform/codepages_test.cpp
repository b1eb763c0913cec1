// codepages_test.cpp - the code page 1251 upper case and the 866 to 1251
// conversion, which give the same bytes on Linux and on Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "platform/os.h"

namespace zz::test {
namespace {

TEST(CodePages, UpperCaseOf1251FoldsLatinAndCyrillicOnly) {
  struct Row {
    unsigned char in, out;
  } rows[] = {
      {'a', 'A'},
      {'z', 'Z'},
      {'A', 'A'},
      {'1', '1'},
      {0xE0, 0xC0} /* а */,
      {0xFF, 0xDF} /* я */,
      {0xB8, 0xA8} /* ё */,
      {0xA8, 0xA8} /* Ё */,
      {0xB3, 0xB2} /* і */,
      {0xBF, 0xAF} /* ї */,
      {0xB5, 0xB5} /* µ stays */,
      {0xAB, 0xAB} /* « stays */,
      {0x9A, 0x8A} /* љ */,
      {0x00, 0x00},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(static_cast<unsigned char>(os::upper_1251(static_cast<char>(row.in))), row.out)
        << "byte " << int(row.in);
  }
  char text[] = "\xE5\xF9\xB8 abc";
  os::upper_1251(text);
  EXPECT_STREQ(text, "\xC5\xD9\xA8 ABC");
}

// The buffer form takes ASCII eight bytes at a time: every byte, at every
// place within a word and beside every kind of neighbour, must come out as
// the single-character form gives it.
TEST(CodePages, UpperCaseOfABufferAgreesWithOneByteAtATime) {
  const unsigned char neighbours[] = {'a', 'Z', '@', '`', '{', 0x7F, 0xE0};
  for (unsigned char neighbour : neighbours) {
    for (int byte = 0; byte < 256; ++byte) {
      for (size_t place = 0; place < 19; ++place) {
        char in[19];
        std::fill(std::begin(in), std::end(in), static_cast<char>(neighbour));
        in[place] = static_cast<char>(byte);
        char out[19];
        os::upper_1251(in, out, sizeof in);
        for (size_t i = 0; i < sizeof in; ++i) {
          ASSERT_EQ(out[i], os::upper_1251(in[i]))
              << "byte " << byte << " at " << place << " beside " << int(neighbour);
        }
      }
    }
  }
}

TEST(CodePages, Oem866BecomesCp1251) {
  // "Привет", "ё", "Ё", "№", then a box-drawing line and corner.
  char text[] = "\x8F\xE0\xA8\xA2\xA5\xE2\xF1\xF0\xFC\xC4\xDA";
  os::oem866_to_1251(text, sizeof text - 1);
  EXPECT_STREQ(text, "\xCF\xF0\xE8\xE2\xE5\xF2\xB8\xA8\xB9-+");
}

}  // namespace
}  // namespace zz::test
