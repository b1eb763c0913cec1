// blocks_test.cpp - owned blocks and the release of records made of them.
// AddressSanitizer's leak check turns every missed free into a failure.
#include "files/blocks.h"

#include <gtest/gtest.h>

#include <cstring>

#include "outgoing/outgoing_record.h"
#include "support/test_host.h"

namespace zz::test {
namespace {

// The spare bytes are written into: under AddressSanitizer a block without
// them is an overflow.
TEST(Blocks, CopiesCarryEightSpareBytes) {
  char *text = nullptr;
  ASSERT_EQ(create_string(&text, ""), kOk);
  EXPECT_EQ(text[0], '\0');
  std::memset(text + 1, 0x55, 7);
  std::free(text);

  void *memory = nullptr;
  ASSERT_EQ(create_memory(&memory, 16), kOk);
  const char zeros[24] = {};
  EXPECT_EQ(std::memcmp(memory, zeros, 24), 0);
  std::free(memory);

  void *data = nullptr;
  ASSERT_EQ(create_data(&data, "abc", 3), kOk);
  EXPECT_EQ(std::memcmp(data, "abc", 3), 0);
  std::memset(static_cast<char *>(data) + 3, 0x55, 8);
  std::free(data);
  EXPECT_TRUE(host().events.empty());
}

TEST(Blocks, ReleaseFunctionsAcceptNullAndPartlyFilledRecords) {
  free_pairs(nullptr, 3);
  free_file_entries(nullptr, 2);

  void *block = nullptr;
  ASSERT_EQ(create_memory(&block, 2 * sizeof(AddressEntry)), kOk);
  auto *pairs = static_cast<AddressEntry *>(block);
  create_string(&pairs[0].Type, "SMTP");
  create_string(&pairs[0].Address, "a@b");
  free_pairs(pairs, 2);

  OutgoingMessage msg{};
  ASSERT_EQ(create_memory(&block, sizeof(FileEntry)), kOk);
  msg.File = static_cast<FileEntry *>(block);
  msg.NumberFile = 1;
  create_string(&msg.File[0].Name, "report.txt");
  create_data(&block, "abc", 3);
  msg.File[0].Data = static_cast<uint8_t *>(block);
  create_string(&msg.Subject, "subject");
  create_string(&msg.SendDirName, "dir");
  create_string(&msg.InfoWorkPath, "work");
  free_outgoing_message(&msg);
  const OutgoingMessage zero{};
  EXPECT_EQ(std::memcmp(&msg, &zero, sizeof msg), 0);
  free_outgoing_message(&msg);  // a second release finds it zero
}

}  // namespace
}  // namespace zz::test
