// input_rules_test.cpp - the readers of input, transform and flag rules and
// the kind matrix of "Type".
#include "rules/input_rules.h"

#include <gtest/gtest.h>

#include "support/rules_config.h"

namespace zz::test {
namespace {

class InputRules : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host::fetch_registry_key()); }
  int32_t read(uint32_t *index) {
    rule_ = InputRule{};
    return get_config_store_param(index, &rule_);
  }
  InputRule rule_{};
};

TEST_F(InputRules, ReadsEveryValueOfARule) {
  set_input_rules({{"/in", "SMTP:*@bank.example", "*.xml", 10, "X400:reports@x", true, true, true,
                    true, "\xEF\xEE \xE4\xCD\xDF\xCC"}});  // "по дНЯМ"
  uint32_t index = 0;
  ASSERT_EQ(read(&index), kRuleRead);
  EXPECT_EQ(index, 1u);
  EXPECT_STREQ(rule_.Path, "/in");
  EXPECT_STREQ(rule_.SenderMask, "*@bank.example");
  EXPECT_STREQ(rule_.RecipientMask, "reports@x");
  EXPECT_STREQ(rule_.FileMask, "*.xml");
  EXPECT_EQ(rule_.Kind, 10u);
  EXPECT_EQ(rule_.Continue + rule_.WithSignature + rule_.DetachedSignature + rule_.Subdirectory,
            4u);
  EXPECT_EQ(rule_.Grouping, 'D');
  EXPECT_EQ(read(&index), kNoMoreRules);
  EXPECT_TRUE(host().events.empty());
}

TEST_F(InputRules, OptionalValuesAndTheirDefaults) {
  struct Row {
    const char *name;
    InputRuleConfig rule;
    const char *sender;
    uint32_t detached;
    char grouping;
  } rows[] = {
      {"two colons", {"/in", "X:a:b"}, "a:b", 0, 'N'},
      {"detached needs with-signature",
       {"/in", "a", kEverything, 7, "", false, false, true},
       "a",
       0,
       'N'},
      {"by months",
       {"/in", "a", kEverything, 7, "", false, false, false, false,
        "\xCF\xEE \xEC\xE5\xF1\xFF\xF6\xE0\xEC"},
       "a",
       0,
       'M'},
      {"by years",
       {"/in", "a", kEverything, 7, "", false, false, false, false,
        "\xCF\xEE \xE3\xEE\xE4\xE0\xEC"},
       "a",
       0,
       'Y'},
      {"other wording",
       {"/in", "a", kEverything, 7, "", false, false, false, false, "\xCF\xEE \xE4\xED\xFF\xEC!"},
       "a",
       0,
       'N'},
  };
  for (const Row &row : rows) {
    host().reset();
    set_input_rules({row.rule});
    host().set_string(input_rule_key(0), "ContinueProcessRulez", "++");
    uint32_t index = 0;
    ASSERT_EQ(read(&index), kRuleRead) << row.name;
    EXPECT_STREQ(rule_.SenderMask, row.sender) << row.name;
    EXPECT_EQ(rule_.DetachedSignature, row.detached) << row.name;
    EXPECT_EQ(rule_.Continue, 0u) << row.name;
    EXPECT_EQ(rule_.Grouping, row.grouping) << row.name;
  }
}

TEST_F(InputRules, SwitchedOffRuleIsSkippedUnread) {
  set_input_rules({{"/in"}, {"/in2"}});
  host().set_dword(input_rule_key(0), "UseRule", 0);
  host().set_string(input_rule_key(0), "Path", "");
  uint32_t index = 0;
  EXPECT_EQ(read(&index), kRuleOff);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(read(&index), kRuleRead);
  EXPECT_STREQ(rule_.Path, "/in2");
}

TEST_F(InputRules, MissingRequiredValues) {
  const std::string list = std::string(kHostKey) + "\\InputFileRulez";
  const std::string rule = input_rule_key(0);
  const char *f = "get_config_store_param";
  struct Row {
    const char *missing;
    Events events;
  } rows[] = {
      {"InputRulezNum",
       {{3, OXT_EV_READ_SETTING, {"InputRulezNum", list}}, summary("OLM_ConfGetDWORDEx", f)}},
      {"Path", {{3, OXT_EV_READ_SETTING, {"Path", rule}}, summary("OLM_ConfGetPath", f)}},
      {"Email", {{3, OXT_EV_READ_SETTING, {"Email", rule}}, summary("OLM_ConfGetString", f)}},
      {"FileMask", {{3, OXT_EV_READ_SETTING, {"FileMask", rule}}, summary("OLM_ConfGetString", f)}},
      {"Type", {{3, OXT_EV_READ_SETTING, {"Type", rule}}, summary("OLM_ConfGetDWORDEx", f)}},
  };
  for (const Row &row : rows) {
    host().reset();
    if (std::string(row.missing) != "InputRulezNum") host().set_dword(list, "InputRulezNum", 1);
    for (const char *name : {"Path", "Email", "FileMask"}) {
      if (std::string(row.missing) != name) host().set_string(rule, name, "x");
    }
    if (std::string(row.missing) != "Type") host().set_dword(rule, "Type", 7);
    uint32_t index = 0;
    EXPECT_EQ(read(&index), kRuleFailed) << row.missing;
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(host().events, row.events) << row.missing;
  }
  host().reset();
  host().set_dword(list, "InputRulezNum", 0);
  uint32_t index = 0;
  EXPECT_EQ(read(&index), kNoMoreRules);
}

TEST_F(InputRules, TransformAndFlagReaders) {
  TransformRule transform;
  uint32_t index = 0;
  uint32_t flag = 99;
  const char *f = "get_config_convert_param";
  EXPECT_EQ(get_config_convert_param(&index, &transform), kRuleFailed);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_READ_SETTING, {"InputFileRulezFlags", kHostKey}},
                                   summary("OLM_ConfGetDWORDEx", f)}));
  host().events.clear();
  EXPECT_EQ(get_config_flag_param(&flag), kRuleFailed);
  EXPECT_EQ(host().events.back(), summary("OLM_ConfGetDWORDEx", "get_config_flag_param"));

  host().reset();
  host().set_dword(kHostKey, "InputFileRulezFlags", 1);
  EXPECT_EQ(get_config_convert_param(&index, &transform), kNoMoreRules);  // count never read
  EXPECT_TRUE(host().events.empty());
  EXPECT_EQ(get_config_flag_param(&flag), kRuleRead);
  EXPECT_EQ(flag, kOverwrite);

  host().set_dword(kHostKey, "InputFileRulezFlags", 2);
  EXPECT_EQ(get_config_flag_param(&flag), kRuleRead);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(get_config_convert_param(&index, &transform), kRuleFailed);
  EXPECT_EQ(host().events.front().args[0], "TransformFileRulezNum");
  host().events.clear();
  set_transform_rules({{"*.DOC", "*.txt"}});
  host().set_string(std::string(kHostKey) + "\\TransformFileRulez\\1", "FileNameIn", "x");
  ASSERT_EQ(get_config_convert_param(&index, &transform), kRuleRead);
  EXPECT_STREQ(transform.FileNameOut, "*.txt");
  EXPECT_EQ(get_config_convert_param(&index, &transform), kNoMoreRules);
}

TEST(KindTest, Matrix) {
  // Messages: plain, encrypted, signed, both. "x" accepted, "." refused.
  const std::pair<uint32_t, const char *> rows[] = {
      {0, "...."},  {1, ".x.."},  {2, "..x."},  {3, ".xxx"},  {4, "x..."},  {7, "xxxx"},
      {8, "x..."},  {9, ".x.."},  {10, "..x."}, {11, "...x"}, {12, "x..."}, {13, "...."},
      {14, "...."}, {15, "...."}, {5, "xx.."},  {6, "x.x."},
  };
  const uint32_t messages[] = {0, kFlagEncrypted, kFlagSigned, kFlagSigned | kFlagEncrypted};
  for (auto [type, expected] : rows) {
    std::string got;
    for (uint32_t flags : messages) got += kind_accepts(type, flags | kFlagReceipt) ? 'x' : '.';
    EXPECT_EQ(got, expected) << "Type " << type;
  }
}

}  // namespace
}  // namespace zz::test
