// names_test.cpp - working names, TMP_ names and GUID texts.
#include "text/names.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>

#include "support/test_host.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

TEST(WorkName, RecognisedByPrefixAndSuffix) {
  const std::pair<const char *, int> rows[] = {{"qmt-1-2-3.tmp", 1}, {"QMT-anything.TMP", 1},
                                               {"qmt.tmp", 0},       {"xqmt-1.tmp", 0},
                                               {"qmt-1.txt", 0},     {"", 0}};
  for (auto [name, result] : rows) EXPECT_EQ(is_work_name(name), result) << name;
}

TEST(WorkName, FormAndSequence) {
  char first[2048], second[2048];
  make_work_name("D:\\out\\", first);
  make_work_name("D:\\out/", second);
  const std::string thread = [] {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(os::system_os().thread_id()));
    return std::string(hex);
  }();
  std::cmatch a, b;
  const std::regex form("D:\\\\out(/)?\\\\qmt-(-?[0-9]+)-([0-9]+)-" + thread + "\\.tmp");
  ASSERT_TRUE(std::regex_match(first, a, form)) << first;
  ASSERT_TRUE(std::regex_match(second, b, form)) << second;
  EXPECT_FALSE(a[1].matched);
  EXPECT_TRUE(b[1].matched);  // "/" is not "\": a "\" follows it
  EXPECT_EQ(std::stoul(b[3].str()), std::stoul(a[3].str()) + 1);
  EXPECT_EQ(is_work_name(std::strrchr(first, '\\') + 1), 1);
}

TEST(TmpName, SeparatorAndForm) {
  test_os().fixed_time = os::LocalTime{2024, 3, 5, 14, 30, 9, 0};
  const std::regex form("TMP_20240305143009_[0-9]{4,5}");
  char path[2048] = "";
  make_tmp_name(path);
  EXPECT_TRUE(std::regex_match(path, form)) << path;
  std::strcpy(path, "D:\\a/");
  make_tmp_name(path);
  EXPECT_EQ(std::string(path).substr(0, 5), "D:\\a/");
  EXPECT_TRUE(std::regex_match(path + 5, form)) << path;
  std::strcpy(path, "D:\\a");
  make_tmp_name(path);
  EXPECT_EQ(std::string(path).substr(0, 5), "D:\\a\\");
}

TEST(RandomGuid, SystemFallbackAndFailure) {
  const std::regex layout("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
  CCA_CONTEXT handle = reinterpret_cast<CCA_CONTEXT>(0x1234);
  char *guid = nullptr;
  ASSERT_EQ(get_random_guid(&handle, &guid), 0u);
  EXPECT_TRUE(std::regex_match(guid, layout)) << guid;
  EXPECT_TRUE(host().crypto_handles.empty());
  std::free(guid);

  // Without the system's UUIDs the bytes come from the crypto library
  // (0xA0, 0xA1, ... from the test host), read through the handle's address.
  test_os().uuid_fails = true;
  ASSERT_EQ(get_random_guid(&handle, &guid), 0u);
  EXPECT_STREQ(guid, "a3a2a1a0-a5a4-a7a6-a8a9-aaabacadaeaf");
  EXPECT_EQ(host().crypto_handles, (std::vector<CCA_CONTEXT>{handle}));
  std::free(guid);

  host().random_result = 5;
  guid = nullptr;
  EXPECT_EQ(get_random_guid(nullptr, &guid), 0xFFFFFFFFu);
  EXPECT_EQ(guid, nullptr);
  EXPECT_EQ(host().crypto_handles.back(), nullptr);
  EXPECT_EQ(host().events,
            (Events{{3, OXT_EV_GET_RANDOM, {}}, summary("CCA_get_random", "get_random_guid")}));
}

}  // namespace
}  // namespace zz::test
