// output_rules_test.cpp - reading output rules: values, address forms, send
// options and their numbers, the recipient list, and the rule index that
// wraps and resets.
#include "rules/output_rules.h"

#include <gtest/gtest.h>

#include "support/rules_config.h"

namespace zz::test {
namespace {

class OutputRules : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host::fetch_registry_key()); }
  void TearDown() override { release_output_rule(&rule_); }
  int32_t read(uint32_t *index) {
    release_output_rule(&rule_);
    return get_config_directory_param(&ctx_, index, &rule_);
  }
  GetFileCtx ctx_{};
  OutputRule rule_{};
};

TEST_F(OutputRules, ReadsARuleWithItsListAndOptions) {
  set_output_rules({{"/out",
                     {"SMTP:a@x", " ex : /o=org ", "plain@y"},
                     2 | 0x10000 | 0x40,
                     "Daily",
                     "*.txt",
                     "Notes : Desk/Org",
                     {{"PermitNotSigned", "+"},
                      {"SendSeparately", "+"},
                      {"GarantedDelivery", "+"},
                      {"IterationNum", "3"},
                      {"TimeInterval", "15"},
                      {"SendTextInBody", "+"},
                      {"transform866to1251", "+ "},
                      {"UseSendLimits", "+"},
                      {"NumFileLimit", "10"},
                      {"SizeFileLimit", "12x"}}}});
  uint32_t index = 0;
  ASSERT_EQ(read(&index), 0);
  EXPECT_EQ(index, 0u);  // wrapped after the only rule
  EXPECT_STREQ(rule_.Path, "/out");
  EXPECT_STREQ(rule_.DefaultSubject, "Daily");
  EXPECT_STREQ(rule_.FileMask, "*.txt");
  EXPECT_EQ(rule_.Protection, 2u | 0x10000u);
  ASSERT_NE(rule_.RuleAddress, nullptr);
  EXPECT_STREQ(rule_.RuleAddress->Type, "NOTES");
  EXPECT_STREQ(rule_.RuleAddress->Address, "Desk/Org");
  ASSERT_EQ(rule_.RecipientCount, 3u);
  const std::pair<const char *, const char *> want[] = {
      {"SMTP", "a@x"}, {"EX", "/o=org"}, {"SMTP", "plain@y"}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_STREQ(rule_.Recipients[i].Type, want[i].first);
    EXPECT_STREQ(rule_.Recipients[i].Address, want[i].second);
  }
  const SendOptions &o = rule_.Options;
  EXPECT_EQ(rule_.PermitNotSigned, 1u);
  EXPECT_EQ(o.SendSeparately + o.GarantedDelivery + o.SendTextInBody + o.UseSendLimits, 4u);
  EXPECT_EQ(o.Transform866to1251, 0u);  // "+ " is not "+"
  EXPECT_EQ(o.IterationNum, 3u);
  EXPECT_EQ(o.TimeInterval, 15u);
  EXPECT_EQ(o.NumFileLimit, 10u);
  EXPECT_EQ(o.SizeFileLimit, 12u);
  EXPECT_TRUE(host().events.empty());
}

TEST_F(OutputRules, RuleAddressForms) {
  const std::pair<std::string, std::string> rows[] = {
      {"ex:Name", "EX|Name"}, {"plain@host", "SMTP|plain@host"}, {"SMTP:", "none"}, {"", "none"},
      {"X400: a ", "SMTP|a"}, {"EXAMPLE:b", "SMTP|b"},
  };
  for (const auto &[value, want] : rows) {
    host().reset();
    set_output_rules({{"/out", {}, 4, "S", "", value}});
    uint32_t index = 0;
    ASSERT_EQ(read(&index), 0);
    const std::string got = rule_.RuleAddress == nullptr ? "none"
                                                         : std::string(rule_.RuleAddress->Type) +
                                                               "|" + rule_.RuleAddress->Address;
    EXPECT_EQ(got, want) << value;
  }
}

TEST_F(OutputRules, InvalidNumbersAndMissingValues) {
  const std::string key = output_rule_key(0);
  const std::string list = key + "\\EmailList";
  const char *f = "get_config_directory_param";
  struct Row {
    const char *name;
    std::map<std::string, std::string> strings;
    std::vector<std::string> emails;
    bool drop_second_email;
    Events events;
  } rows[] = {
      {"zero attempts",
       {{"GarantedDelivery", "+"}, {"IterationNum", "0"}, {"TimeInterval", "5"}},
       {},
       false,
       {{3, OXT_EV_ZERO_NUMBER, {"IterationNum", key}}, summary("(!IterationNum)", f)}},
      {"letters",
       {{"GarantedDelivery", "+"}, {"IterationNum", "2"}, {"TimeInterval", "abc"}},
       {},
       false,
       {{3, OXT_EV_ZERO_NUMBER, {"TimeInterval", key}}, summary("(!TimeInterval)", f)}},
      {"too big",
       {{"UseSendLimits", "+"}, {"NumFileLimit", "4294967295"}, {"SizeFileLimit", "1"}},
       {},
       false,
       {{3, OXT_EV_ZERO_NUMBER, {"NumFileLimit", key}}, summary("(!MaxFilesNum)", f)}},
      {"size missing",
       {{"UseSendLimits", "+"}, {"NumFileLimit", "2"}},
       {},
       false,
       {{3, OXT_EV_READ_SETTING, {"SizeFileLimit", key}}, summary("OLM_ConfGetString", f)}},
      {"list item missing",
       {},
       {"a@x", "b@x"},
       true,
       {{3, OXT_EV_READ_SETTING, {"1", list}}, summary("OLM_ConfGetString", f)}},
  };
  for (const Row &row : rows) {
    host().reset();
    set_output_rules({{"/out", row.emails, 4, "S", "", "", row.strings}});
    if (row.drop_second_email) {
      host().reset();
      set_output_rules({{"/out", {"a@x"}, 4, "S"}});
      host().set_dword(list, "EmailNum", 2);
    }
    uint32_t index = 0;
    EXPECT_EQ(read(&index), -1) << row.name;
    EXPECT_EQ(rule_.Recipients, nullptr) << row.name;
    EXPECT_EQ(host().events, row.events) << row.name;
  }
  // Guaranteed delivery off: its numbers are not read and stay 0.
  host().reset();
  set_output_rules({{"/out", {}, 4, "S", "", "", {{"IterationNum", "0"}}}});
  uint32_t index = 0;
  EXPECT_EQ(read(&index), 0);
  EXPECT_EQ(rule_.Options.IterationNum, 0u);
}

TEST_F(OutputRules, IndexWrapsAndResets) {
  set_output_rules({{"/a"}, {"/b"}, {"/c"}});
  host().set_dword(output_rule_key(1), "UseRule", 0);
  uint32_t index = 1;
  EXPECT_EQ(read(&index), 3);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(read(&index), 0);
  EXPECT_STREQ(rule_.Path, "/c");
  EXPECT_EQ(index, 0u);

  ctx_.NextRule = 5;
  index = 4;
  EXPECT_EQ(read(&index), 0);
  EXPECT_EQ(ctx_.NextRule, 0u);
  EXPECT_STREQ(rule_.Path, "/a");

  host().reset();
  set_output_rules({});
  ctx_.NextRule = 0;
  index = 0;
  EXPECT_EQ(read(&index), 1);
  EXPECT_EQ(ctx_.NextRule, 0u);
}

}  // namespace
}  // namespace zz::test
