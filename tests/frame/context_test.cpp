// context_test.cpp - the skip list: appended at the tail, matched by kind and
// by path without regard to case, emptied by OXT_free_get_files.
#include "frame/context.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zz::test
