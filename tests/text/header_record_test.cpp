// header_record_test.cpp - reading header records: lookups and their stop
// marker, numbers, blocks, and lines too long to read.
#include "text/header_record.h"

#include <gtest/gtest.h>

#include <string>

namespace zz {
namespace {

TextCursor cursor_of(const std::string &text) {
  return make_cursor(text.data(), static_cast<uint32_t>(text.size()));
}

struct Lookup {
  const char *name;
  std::string record;
  const char *field;
  const char *stop;
  int found;
  std::string value;
};

TEST(HeaderRecord, FindValue) {
  const Lookup rows[] = {
      {"prefix, any case", "subject:Hello\r\n", "Subject", "Body", 1, "Hello"},
      {"separators around", " Name::Value :\r\n", "Name", nullptr, 1, "Value"},
      {"blank separator", "Name Value\n", "Name", nullptr, 1, "Value"},
      {"colons inside stay", "Email:SMTP:addr\n", "Email", nullptr, 1, "SMTP:addr"},
      {"trailing colon and blanks go", "Subject: Re: \n", "Subject", nullptr, 1, "Re"},
      {"name alone", "Subject\n", "Subject", nullptr, 0, ""},
      {"name and colon", "Subject:\n", "Subject", nullptr, 0, ""},
      {"name, colon, blanks", "Subject:   \t\n", "Subject", nullptr, 0, ""},
      {"after the stop line", "A:1\nBody:\nSubject:x\n", "Subject", "Body", 0, ""},
      {"stop line with text", "Body:text\nSubject:x\n", "Subject", "Body", 0, ""},
      {"stop marker before name test", "Bodyguard:x\n", "Body", "Body", 0, ""},
      {"longer name answers a prefix", "EmailNum:2\nEmail:a\n", "Email", nullptr, 1, "Num:2"},
      {"empty lines skipped", "\r\n\n  \r\nFrom:x\n", "From", nullptr, 1, "x"},
      {"last line without LF", "A:1\nB:2", "B", nullptr, 1, "2"},
      {"zero byte ends the text", std::string("Name:ab\0cd\n", 11), "Name", nullptr, 1, "ab"},
      {"only separators", ":: \t\r\n::\n", "Name", nullptr, 0, ""},
      {"empty record", "", "Name", nullptr, 0, ""},
  };
  for (const Lookup &row : rows) {
    char value[kLineSize] = "untouched";
    EXPECT_EQ(find_value(cursor_of(row.record), value, row.field, row.stop), row.found) << row.name;
    if (row.found) {
      EXPECT_EQ(std::string(value), row.value) << row.name;
    }
  }
}

TEST(HeaderRecord, LinesOfTwoThousandFortyEightBytesEndEveryLookup) {
  const std::string longest_text(2046, 'x');
  std::string record = "A:" + std::string(2044, 'v') + "\nB:1\n";  // 2046 + LF: readable
  char value[kLineSize];
  EXPECT_EQ(find_value(cursor_of(record), value, "B", nullptr), 1);
  record = "A:" + std::string(2045, 'v') + "\nB:1\n";  // 2047 + LF: too long
  EXPECT_EQ(find_value(cursor_of(record), value, "B", nullptr), 0);
  const std::string counted = "B:1\n" + record;
  EXPECT_EQ(count_values(cursor_of(counted), "B", nullptr), 1u);

  std::string last = "A:" + std::string(2045, 'v');  // a last line of 2047 without LF
  EXPECT_EQ(find_value(cursor_of(last), value, "A", nullptr), 1);
  EXPECT_EQ(std::string(value).size(), 2045u);
  const std::string longer = last + "v";
  EXPECT_EQ(find_value(cursor_of(longer), value, "A", nullptr), 0);

  const std::string too_long = last + "vv\nB:1\n";
  TextCursor cursor = cursor_of(too_long);
  char line[kLineSize];
  EXPECT_EQ(read_line(&cursor, line), 0);
  EXPECT_EQ(cursor.Left, last.size() + 7);  // unchanged
}

TEST(HeaderRecord, Numbers) {
  const std::pair<std::string, uint32_t> rows[] = {
      {"Length-Sign:12", 12},  {"Length-Sign:abc", 0},         {"Length-Sign:4294967295", 0},
      {"Length-Sign:12x", 12}, {"Length-Sign:4294967296", 0},  {"Length-Sign: 007", 7},
      {"Length-Sign:-1", 0},   {"Length-Sign:-2", 0xFFFFFFFE},
  };
  for (const auto &[record, number] : rows) {
    uint32_t value = 99;
    EXPECT_EQ(find_number(cursor_of(record), "Length-Sign", &value, nullptr), 1) << record;
    EXPECT_EQ(value, number) << record;
  }
}

TEST(HeaderRecord, WalkingRepeatedFieldsAndCounting) {
  const std::string record = "Email:a\r\nX:1\r\nEmail:b\r\nEmail\r\nBody:\r\nEmail:c\r\n";
  EXPECT_EQ(count_values(cursor_of(record), "Email", "Body"), 2u);
  EXPECT_EQ(count_values(cursor_of(record), "Email", nullptr), 3u);
  TextCursor cursor = cursor_of(record);
  char value[kLineSize];
  std::vector<std::string> seen;
  while (find_next_value(&cursor, value, "Email", "Body")) seen.emplace_back(value);
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));

  cursor = cursor_of(record);
  EXPECT_EQ(skip_past(&cursor, "Body"), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(cursor.Pos), cursor.Left), "Email:c\r\n");
  EXPECT_EQ(next_line_is(cursor, "email"), 1);
  EXPECT_EQ(next_line_is(cursor_of("\nEmail:a"), "Email"), 0);
}

TEST(HeaderRecord, SignedFileContainer) {
  const std::string record =
      "Length-File:5\r\nFile-Data:\r\nhello"
      "Name-Signer:Ivanov\r\nLength-Sign:3\r\nSign:\r\n\x01\x02\x03"
      "Name-Signer:Petrov\r\nLength-Sign:9\r\nSign:\r\nxyz";
  TextCursor cursor = cursor_of(record);
  ASSERT_EQ(next_line_is(cursor, "Length-File"), 1);
  uint32_t length = 0;
  ASSERT_EQ(seek_number(&cursor, "Length-File", &length), 1);
  const uint8_t *block = nullptr;
  ASSERT_EQ(seek_block(&cursor, "File-Data", length, &block), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(block), length), "hello");

  char signer[kLineSize];
  ASSERT_EQ(seek_value(&cursor, "Name-Signer", signer), 1);
  EXPECT_STREQ(signer, "Ivanov");
  ASSERT_EQ(seek_number(&cursor, "Length-Sign", &length), 1);
  ASSERT_EQ(seek_block(&cursor, "Sign", length, &block), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(block), 3), "\x01\x02\x03");

  ASSERT_EQ(seek_value(&cursor, "Name-Signer", signer), 1);
  ASSERT_EQ(seek_number(&cursor, "Length-Sign", &length), 1);
  EXPECT_EQ(seek_block(&cursor, "Sign", length, &block), 0);  // claims 9, holds 3
  EXPECT_EQ(cursor.Left, 3u);                                 // left behind the "Sign" line
}

TEST(HeaderText, SplitAddress) {
  struct Row {
    const char *value, *type, *address;
  } rows[] = {
      {"EX:/o=org", "EX", "/o=org"},
      {"addr", "SMTP", "addr"},
      {"SMTP:addr", "SMTP", "addr"},
      {"X400:addr", "SMTP", "addr"},
      {"notes:A B/C", "NOTES", "A B/C"},
      {"ex:a:b", "EX", "a:b"},
      {":x", "SMTP", "x"},
      {"", "SMTP", ""},
  };
  for (const Row &row : rows) {
    char type[kAddressTypeSize];
    char address[kLineSize];
    split_address(row.value, type, address);
    EXPECT_STREQ(type, row.type) << row.value;
    EXPECT_STREQ(address, row.address) << row.value;
  }
}

TEST(HeaderText, TrimFindAndPrefix) {
  char text[] = " \t:Value: \r";
  trim(text);
  EXPECT_STREQ(text, "Value");
  char only[] = ": \t\r:";
  trim(only);
  EXPECT_STREQ(only, "");
  EXPECT_EQ(is_empty_text(nullptr), 1);
  EXPECT_EQ(is_empty_text(""), 1);
  EXPECT_EQ(cmp_prefix("Email:x", "EMAIL"), 0);
  EXPECT_NE(cmp_prefix("Ema", "Email"), 0);
  const std::string block("ab\0Message digest:XY", 20);
  EXPECT_EQ(find_text(reinterpret_cast<const uint8_t *>(block.data()), 20, "digest:"), 18u);
  EXPECT_EQ(find_text(reinterpret_cast<const uint8_t *>(block.data()), 20, "absent"), 0u);
  EXPECT_EQ(find_text(reinterpret_cast<const uint8_t *>(block.data()), 20, ""), 0u);
  char *end = nullptr;
  EXPECT_EQ(to_number("1A", &end, 16), 26u);
  EXPECT_STREQ(end, "");
}

}  // namespace
}  // namespace zz
