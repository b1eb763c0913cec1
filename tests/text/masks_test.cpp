// masks_test.cpp - masks, name templates with captures, "?" sources and date
// groups under a fixed clock, date subdirectories and separator cuts.
#include "text/masks.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/test_os.h"

namespace zz::test {
namespace {

constexpr os::LocalTime kClock{2024, 3, 5, 14, 30, 9, 0};

TEST(MatchMask, Table) {
  struct Row {
    const char *mask, *text;
    int result;  // 0 match
  } rows[] = {
      {"*.TXT", "a.txt", 0},
      {"*.TXT", "B.Txt", 0},
      {"*.TXT", "a.txt.bak", 1},
      {"A*", "a", 0},
      {"*", "x", 0},
      {"**", "anything", 0},
      {"", "a", 1},
      {"*", "", 1},
      {"AB", "ab", 0},
      {"AB", "abab", 0},
      {"AB", "abc", 1},
      {"AB", "cab", 1},
      {"?", "q", 0},
      {"?", "long", 0},
      {"a?c", "abc", 0},
      {"a?c", "ac", 1},
      {"*b*", "abc", 0},
      {"*b*d", "abcbd", 0},
      {"a*b*c", "aXbYc", 0},
      {"a*b*c", "aXcYb", 1},
      {"*.doc", "x.DOC.doc", 0},
      {"*@BANK.example", "ivan@bank.EXAMPLE", 0},
      {"*@bank.example", "ivan@bank.example.org", 1},
      {"*ab", "abab", 0},
      {"*abc", "bc", 1},
      {"*.txt", ".txt", 0},
      {"*.t?t", "a.tXt", 0},
      // Cyrillic folds through the code page 1251 upper case: *.ДОК / отчёт.док
      {"*.\xC4\xCE\xCA", "\xEE\xF2\xF7\xB8\xF2.\xE4\xEE\xEA", 0},
      {"\xA8*", "\xB8\xEB\xEA\xE0", 0},  // Ё* / ёлка
  };
  for (const Row &row : rows) {
    EXPECT_EQ(match_mask(row.mask, row.text), row.result) << row.mask << " / " << row.text;
  }
}

TEST(TransformName, Table) {
  test_os().fixed_time = kClock;
  struct Row {
    const char *mask, *name, *pattern;
    int result;
    const char *out;
  } rows[] = {
      {"*.DOC", "Report.doc", "*_<YYYYMMDD>.doc", 0, "Report_20240305.doc"},
      {"A??.TXT", "abc.txt", "??", 0, "BC"},
      {"*.TXT", "a.doc", "*", 1, "untouched"},
      {"*.DOC", "x.doc", "<DD.MM.YYYY DD>", 0, "05.03.2024 DD"},
      {"*", "Name.Ext", "<hh-nn-ss yy>*", 0, "14-30-09 24Name.Ext"},
      {"*_*.txt", "Day_Log.txt", "*-*.out", 0, "Day-Log.out"},
      {"*_*.txt", "Day_Log.txt", "*", 0, "Day"},
      {"in??_*.dat", "inAB_rest.dat", "??*x??", 0, "ABrestx"},
      {"*.d?c", "file.doc", "*.?", 0, "file.O"},
      {"*.?oc", "a.doc", "?*?", 0, "Da"},  // the first "*" keeps the "?" source
      {"REPORT.DOC", "report.doc", "[*]", 0, "[]"},
      {"*", "x", "<DD", 0, "05"},
      {"*", "x", "a<>b", 0, "ab"},
      {"", "x", "*", 1, "untouched"},
      {"*", "x", "", 1, "untouched"},
      {"*.TXT", "a.txt.txt", "*!", 0, "a.txt!"},
      {"AB", "abab", "*|?", 0, "ab|"},
  };
  for (const Row &row : rows) {
    char out[kNameSize] = "untouched";
    EXPECT_EQ(transform_name(row.mask, row.name, row.pattern, out), row.result) << row.mask;
    EXPECT_STREQ(out, row.out) << row.mask << " / " << row.name << " / " << row.pattern;
  }
}

TEST(TransformName, LongInputsStayInsideTheBuffer) {
  const std::string name(5000, 'n');
  const std::string pattern = "*" + std::string(3000, 'p') + "*";
  char out[kNameSize];
  ASSERT_EQ(transform_name("*", name.c_str(), pattern.c_str(), out), 0);
  EXPECT_EQ(std::strlen(out), kNameSize - 1);
}

TEST(Masks, SmallOperations) {
  char text[] = "a<b>:c\"d*e/f?g\\h|i";
  replace_invalid_chars(text);
  EXPECT_STREQ(text, "a_b__c_d_e_f_g_h_i");
  EXPECT_EQ(is_mask("a?"), 1);
  EXPECT_EQ(is_mask("ab"), 0);
  EXPECT_EQ(is_empty(nullptr), 1);
  EXPECT_EQ(find_pattern("xxabc", "a?c"), 5u);
  EXPECT_EQ(find_pattern("ab", "ab?"), 0u);
  EXPECT_EQ(cmp_upper_str("\xB8", "\xA8"), 0);  // ё / Ё
  EXPECT_EQ(cmp_upper_str("a", "B"), -1);
  EXPECT_EQ(cmp_upper_str("\xC0", "B"), 1);  // unsigned bytes

  struct Split {
    const char *path, *base, *ext;
  } splits[] = {{"C:\\dir.x\\name", "C:\\dir.x\\name", ""},
                {"name.tar.gz", "name.tar", ".gz"},
                {"/a.b/c", "/a.b/c", ""},
                {".profile", "", ".profile"}};
  for (const Split &s : splits) {
    char base[kNameSize], ext[kNameSize];
    split_name_ext(s.path, base, ext);
    EXPECT_STREQ(base, s.base) << s.path;
    EXPECT_STREQ(ext, s.ext) << s.path;
  }
}

TEST(Masks, DateSubdirectories) {
  test_os().fixed_time = kClock;
  struct Row {
    char grouping;
    const char *path;
    int result;
    const char *out;
  } rows[] = {{'M', "D:\\in", 1, "D:\\in\\202403"}, {'M', "D:\\in\\", 1, "D:\\in\\202403"},
              {'D', "/in/", 1, "/in/20240305"},     {'Y', "", 1, "2024"},
              {'N', "D:\\in", 0, "D:\\in"},         {'d', "D:\\in", 0, "D:\\in"}};
  for (const Row &row : rows) {
    char path[kNameSize];
    std::strcpy(path, row.path);
    EXPECT_EQ(add_date_subdir(row.grouping, path), row.result);
    EXPECT_STREQ(path, row.out);
  }
  char text[kNameSize] = "log_";
  EXPECT_EQ(add_date_string('D', text), 1);
  EXPECT_STREQ(text, "log_20240305");
}

TEST(Masks, SeparatorCuts) {
  char out[kNameSize] = "untouched";
  EXPECT_EQ(get_string_after_mask(out, "a:b:c", ":"), 1);
  EXPECT_STREQ(out, "b:c");
  EXPECT_EQ(get_string_after_last_mask(out, "a:b:c", ":"), 1);
  EXPECT_STREQ(out, "c");
  EXPECT_EQ(get_string_upto_last_mask(out, "a:b:c", ":"), 1);
  EXPECT_STREQ(out, "a:b");
  EXPECT_EQ(get_string_upto_mask(out, "a:b:c", ":"), 1);
  EXPECT_STREQ(out, "a");
  EXPECT_EQ(get_string_upto_mask(out, "abc", ":"), 0);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(get_string_upto_mask(out, "", ":"), 0);
  EXPECT_STREQ(out, "");
  std::strcpy(out, "untouched");
  EXPECT_EQ(get_string_after_mask(out, "abc", ":"), 0);
  EXPECT_EQ(get_string_after_last_mask(out, "", ":"), 0);
  EXPECT_EQ(get_string_upto_last_mask(out, "aXb", "x"), 0);  // exact case
  EXPECT_STREQ(out, "untouched");
}

}  // namespace
}  // namespace zz::test
