// send_request_test.cpp - what a descriptor's lines make of the message:
// the protection word and the address values.
#include "outgoing/send_request.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/temp_dir.h"

namespace zz::test {
namespace {

TEST(SendRequest, ProtectionWord) {
  const std::pair<std::string, uint32_t> rows[] = {
      {"Protection:Plain\r\n", 4},
      {"Protection:Sign\r\nProtection:Plain\r\n", 2},
      {"Protection:Plain\r\nProtection:Sign\r\n", 2},
      {"Protection:Signed\r\n", 2},
      {"Protection:none\r\n", 0},
      {"Protection: crypt \r\nProtection:SIGN\r\n", 3},
      {"Body:\r\nProtection:Sign\r\n", 0},
      {"", 0},
  };
  for (const auto &[text, word] : rows) {
    EXPECT_EQ(protection_word(make_cursor(text.data(), static_cast<uint32_t>(text.size()))), word)
        << text;
  }
}

// The address table itself is split_address's (header_record_test); here
// only that a descriptor's value goes through it into owned texts.
TEST(SendRequest, AddressValueBecomesAnOwnedEntry) {
  AddressEntry entry{};
  ASSERT_EQ(make_descriptor_address("notes: Desk/Org ", &entry), 0u);
  EXPECT_STREQ(entry.Type, "NOTES");
  EXPECT_STREQ(entry.Address, "Desk/Org");
  std::free(entry.Type);
  std::free(entry.Address);
}

TEST(SendRequest, CountFilesLeavesOutDirectoriesAndWorkingNames) {
  TempDir dir;
  write_file(dir.posix("a"), "");
  write_file(dir.posix("qmt-1-2-3.tmp"), "");
  make_dir(dir.posix("sub"));
  EXPECT_EQ(count_files((dir.path() + "\\*").c_str()), 1u);
  EXPECT_EQ(count_files((dir.path() + "\\missing\\*").c_str()), 0u);
}

}  // namespace
}  // namespace zz::test
