// message_text_test.cpp - write buffers and their growth, digest texts,
// subject tokens, and the code page 866 body conversion.
#include "outgoing/message_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "files/blocks.h"
#include "outgoing/text_body.h"
#include "support/test_host.h"

namespace zz::test {
namespace {

TEST(WriteBuffer, GrowsGeometricallyThenInSteps) {
  WriteBuffer buffer{};
  EXPECT_EQ(store_write_buffer(&buffer, "", 0), 0u);
  EXPECT_EQ(buffer.Data, nullptr);
  const std::string ten(10, 'a');
  ASSERT_EQ(store_write_buffer(&buffer, ten.data(), 10), 0u);
  EXPECT_EQ(buffer.Capacity, 4096u);
  const std::string more(4090, 'b');
  ASSERT_EQ(store_write_buffer(&buffer, more.data(), 4090), 0u);
  EXPECT_EQ(buffer.Length, 4100u);
  EXPECT_EQ(buffer.Capacity, 8200u);
  EXPECT_EQ(std::memcmp(buffer.Data + 10, more.data(), 4090), 0);
  free_write_buffer(&buffer);

  const std::string big(199990, 'c');
  ASSERT_EQ(store_write_buffer(&buffer, big.data(), 199990), 0u);
  EXPECT_EQ(buffer.Capacity, 199990u);
  buffer.Data = static_cast<uint8_t *>(std::realloc(buffer.Data, 200000));
  buffer.Capacity = 200000;
  ASSERT_EQ(store_write_string(&buffer, "twenty bytes exactly"), 0u);
  EXPECT_EQ(buffer.Capacity, 331072u);
  EXPECT_EQ(buffer.Length, 200010u);
  free_write_buffer(&buffer);
  EXPECT_EQ(buffer.Capacity, 0u);
}

TEST(DigestToText, HexPairsWithSpaces) {
  char text[32] = "stale";
  const uint8_t digest[] = {0x0A, 0x1B, 0xFF};
  digest_to_text(digest, 3, text);
  EXPECT_STREQ(text, "0A 1B FF");
  digest_to_text(digest, 0, text);
  EXPECT_STREQ(text, "");
}

TEST(ReplaceMaskOnStr, Tokens) {
  struct Row {
    const char *subject, *name, *result;
  } rows[] = {
      {"File <#%#> sent", "report.2024.txt", "File report.2024.txt sent"},
      {"File <#.%#> sent", "report.2024.txt", "File report sent"},
      {"File <#%.#> sent", "report.2024.txt", "File report.2024 sent"},
      {"A <#%#> B <#%#> C", "f", "A f C"},
      {"<#.%#> and <#%#>", "a.b", "<#.%#> and a.b"},
      {"<#%.#>", "noext", "noext"},
      {"<#.%#>", "noext", "noext"},
      {"Daily report", "x.txt", "Daily report"},
      {"", "x.txt", ""},
  };
  for (const Row &row : rows) {
    char *subject = nullptr;
    ASSERT_EQ(create_string(&subject, row.subject), 0u);
    EXPECT_EQ(replace_mask_on_str(&subject, row.name), 0u);
    EXPECT_STREQ(subject, row.result) << row.subject;
    std::free(subject);
  }
  char *subject = nullptr;
  create_string(&subject, "<#%#>");
  const std::string long_name(1024, 'n');
  EXPECT_EQ(replace_mask_on_str(&subject, long_name.c_str()), 0u);
  EXPECT_STREQ(subject, "<#%#>");
  std::free(subject);
  char *none = nullptr;
  EXPECT_EQ(replace_mask_on_str(&none, "x"), 0u);
  EXPECT_TRUE(host().events.empty());
}

TEST(TextBody, Code866DetectionAndLetters) {
  struct Row {
    std::string in;
    bool looks;
    std::string converted;
  } rows[] = {
      {"ab\xAE\xA2", true, "ab\xEE\xE2"},
      {"\x8F\xE0\xA8\xA2\xA5\xE2\xF0\xF1", true, "\xCF\xF0\xE8\xE2\xE5\xF2\xA8\xB8"},
      {"\xCF\xF0\xE8", false, ""},  // 1251 already
      {"plain ascii", false, ""},
      {"\x80\xB8", false, ""},  // a 1251-only byte wins
      {"\xA8\xE0", false, ""},  // 0xA8 alone is no sign of 866
  };
  for (const Row &row : rows) {
    std::string bytes = row.in;
    auto *data = reinterpret_cast<uint8_t *>(bytes.data());
    EXPECT_EQ(looks_like_866(data, static_cast<uint32_t>(bytes.size())), row.looks) << row.in;
    if (row.looks) {
      convert_866_letters(data, static_cast<uint32_t>(bytes.size()));
      EXPECT_EQ(bytes, row.converted);
    }
  }
}

}  // namespace
}  // namespace zz::test
