// context_test.cpp - the skip list: appended at the tail, matched by kind and
// by path without regard to case, emptied by OXT_free_get_files; the hashed
// index of a long list kept between scans follows every change.
#include "frame/context.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_host.h"
#include "zozerez.h"

namespace zz::test {
namespace {

TEST(SkipList, HoldsPathsByKindIgnoringCase) {
  GetFileCtx ctx{};
  ASSERT_EQ(append_skip_node(&ctx, kSkipFile, "C:\\Out\\Report.txt"), 0u);
  ASSERT_EQ(append_skip_node(&ctx, kSkipDescriptor, "C:\\Out\\dir\\olminfo.txt"), 0u);
  ASSERT_EQ(append_skip_node(&ctx, kSkipFile, "C:\\Out\\\xCF\xF0\xE8.txt"), 0u);
  EXPECT_STREQ(ctx.SkipList->Path, "C:\\Out\\Report.txt");
  EXPECT_EQ(ctx.SkipList->Next->Kind, kSkipDescriptor);

  EXPECT_TRUE(skip_list_holds(&ctx, kSkipFile, "c:\\out\\REPORT.TXT"));
  EXPECT_FALSE(skip_list_holds(&ctx, kSkipDescriptor, "C:\\Out\\Report.txt"));
  EXPECT_TRUE(skip_list_holds(&ctx, kSkipDescriptor, "C:\\OUT\\DIR\\OLMINFO.TXT"));
  EXPECT_TRUE(skip_list_holds(&ctx, kSkipFile, "C:\\Out\\\xEF\xF0\xE8.txt"));  // при / При
  EXPECT_FALSE(skip_list_holds(&ctx, kSkipFile, "C:\\Out\\Report.txt.bak"));

  OXT_free_get_files(&ctx);
  EXPECT_EQ(ctx.SkipList, nullptr);
  EXPECT_FALSE(skip_list_holds(&ctx, kSkipFile, "C:\\Out\\Report.txt"));
  OXT_free_get_files(&ctx);
  EXPECT_TRUE(host().events.empty());
}

// A long list is hashed once and the table kept between scans: it must
// follow every change of the list, and never answer for another context.
TEST(SkipList, AKeptIndexFollowsEveryChange) {
  GetFileCtx ctx{}, other{};
  auto path = [](int n) { return "C:\\Out\\file" + std::to_string(n) + ".txt"; };
  for (int n = 0; n < 40; ++n) ASSERT_EQ(append_skip_node(&ctx, kSkipFile, path(n).c_str()), 0u);
  ASSERT_EQ(append_skip_node(&other, kSkipFile, path(99).c_str()), 0u);
  auto holds = [](const GetFileCtx &c, const std::string &p) {
    return SkipIndex(&c, kSkipFile).holds(p);
  };
  EXPECT_TRUE(holds(ctx, "c:\\out\\FILE7.TXT"));
  EXPECT_FALSE(holds(ctx, path(40)));
  EXPECT_FALSE(holds(ctx, path(99)));
  EXPECT_TRUE(holds(other, path(99)));
  EXPECT_FALSE(holds(ctx, path(40)));
  ASSERT_EQ(append_skip_node(&ctx, kSkipFile, path(40).c_str()), 0u);
  EXPECT_TRUE(holds(ctx, path(40)));
  EXPECT_FALSE(SkipIndex(&ctx, kSkipDescriptor).holds(path(40)));
  OXT_free_get_files(&ctx);
  EXPECT_FALSE(holds(ctx, path(7)));
  for (int n = 100; n < 140; ++n) ASSERT_EQ(append_skip_node(&ctx, kSkipFile, path(n).c_str()), 0u);
  EXPECT_FALSE(holds(ctx, path(7)));
  EXPECT_TRUE(holds(ctx, path(120)));
  OXT_free_get_files(&ctx);
  OXT_free_get_files(&other);
}

}  // namespace
}  // namespace zz::test
