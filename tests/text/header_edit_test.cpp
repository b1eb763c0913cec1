// header_edit_test.cpp - the edits of header records: what each mode keeps,
// the stop line and the untouched rest, failures that leave the record as it was.
#include "text/header_edit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "support/test_host.h"
#include "zozerez_host.h"

namespace zz::test {
namespace {

// Record - an owned block as the module keeps one.
struct Record {
  explicit Record(const std::string &text) : length(static_cast<uint32_t>(text.size())) {
    data = static_cast<uint8_t *>(std::malloc(text.size() + 8));
    std::memcpy(data, text.data(), text.size());
  }
  ~Record() { std::free(data); }
  std::string text() const { return std::string(reinterpret_cast<char *>(data), length); }
  uint8_t *data;
  uint32_t length;
};

TEST(DelFirstStringUptoMask, Modes) {
  struct Row {
    const char *name;
    int mode;
    std::string record;
    std::string result;
  } rows[] = {
      {"move, no stop", 3, "Email:a\nEmail:b\n", "Email:b\r\nEmail:a\r\n"},
      {"move before stop", 3, "Email:a\r\nEmail:b\r\nBody:\r\ntext",
       "Email:b\r\nEmail:a\r\nBody\r\ntext"},
      {"delete first", 1, "From:x\nEmail:a\n\nEmail:b\nBody:\nEmail:c\n",
       "From:x\r\nEmail:b\r\nBody\r\nEmail:c\n"},
      {"keep first only", 2, "Email:a\nEmail:b\nX: 1 \nEmailNum:3\nBody\nEmail:z",
       "Email:a\r\nX: 1\r\nBody\r\nEmail:z"},
      {"name without value counts", 1, "Email\nEmail:b\n", "Email:b\r\n"},
      {"rest kept byte for byte", 1, "Email:a\nBody:\n  raw \r\n\n\x01\x02",
       "Body\r\n  raw \r\n\n\x01\x02"},
  };
  for (const Row &row : rows) {
    Record record(row.record);
    ASSERT_EQ(del_first_string_upto_mask(row.mode, &record.data, &record.length, "Email", "Body"),
              0u)
        << row.name;
    EXPECT_EQ(record.text(), row.result) << row.name;
  }
  EXPECT_TRUE(host().events.empty());
}

TEST(DelFirstStringUptoMask, NoLineOfTheNameLeavesTheRecordAndReports) {
  for (int mode : {1, 2, 3}) {
    host().events.clear();
    Record record("From:x\nBody:\nEmail:after the stop\n");
    const uint8_t *before = record.data;
    EXPECT_EQ(del_first_string_upto_mask(mode, &record.data, &record.length, "Email", "Body"),
              0xFFFFFFFFu);
    EXPECT_EQ(record.data, before);
    EXPECT_EQ(record.text(), "From:x\nBody:\nEmail:after the stop\n");
    EXPECT_EQ(host().events, (Events{{3, OXT_EV_NO_LINE_TO_EDIT, {}},
                                     summary("(!First)", "del_first_string_upto_mask")}));
  }
}

TEST(DelFirstStringUptoMask, LineTooLongToReadKeepsItAndTheRestBehindTheEdit) {
  const std::string long_line = "X:" + std::string(3000, 'y') + "\r\n";
  Record record("Email:a\nEmail:b\n" + long_line + "Email:c\n");
  ASSERT_EQ(del_first_string_upto_mask(3, &record.data, &record.length, "Email", "Body"), 0u);
  EXPECT_EQ(record.text(), "Email:b\r\nEmail:a\r\n" + long_line + "Email:c\n");
}

TEST(ReplaceRepeatInfo, StampsFirstAndDropsOldStamps) {
  struct Row {
    const char *name;
    const char *hash;
    uint32_t time, number;
    std::string record, result;
  } rows[] = {
      {"all three", "AB", 100, 2, "CurrentTime:5\nRepeatNumber:3\nEmail:x\n",
       "MessageHash:AB\r\nCurrentTime:100\r\nRepeatNumber:2\r\nEmail:x\r\n"},
      {"last repeat removes the number", "AB", 100, 0,
       "MessageHash:old\nRepeatNumber:1\nBody:\nRepeatNumber:9",
       "MessageHash:AB\r\nCurrentTime:100\r\nBody\r\nRepeatNumber:9"},
      {"hash alone keeps the times", "CD", 0, 0, "MessageHash:AB\nCurrentTime:7\n",
       "MessageHash:CD\r\nCurrentTime:7\r\n"},
      {"nothing given", nullptr, 0, 0, "A:1\n\nB:2", "A:1\r\nB:2\r\n"},
  };
  for (const Row &row : rows) {
    Record record(row.record);
    ASSERT_EQ(
        replace_repeat_info(&record.data, &record.length, row.hash, row.time, row.number, "Body"),
        0u);
    EXPECT_EQ(record.text(), row.result) << row.name;
  }
}

}  // namespace
}  // namespace zz::test
