// rules_config.h - input and transform rules written into the test host's
// configuration the way an administrator would set them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/test_host.h"

namespace zz::test {

extern const char kHostKey[];
extern const char kEverything[];  // "Все"
extern const char kReceipt[];     // "Квитанция"

struct InputRuleConfig {
  std::string path;
  std::string email = kEverything;
  std::string file_mask = kEverything;
  uint32_t type = 7;
  std::string recip_email;  // empty: not set
  bool continue_rules = false;
  bool with_signature = false;
  bool detached = false;
  bool subdirectory = false;
  std::string group_by;  // empty: not set
  std::optional<uint32_t> use_rule;
};

void set_input_rules(const std::vector<InputRuleConfig> &rules);

struct OutputRuleConfig {
  std::string path;
  std::vector<std::string> emails;  // the EmailList values
  uint32_t type = 4;
  std::string subject = "Files";
  std::string file_mask;                       // empty: not set
  std::string email;                           // the rule address; empty: not set
  std::map<std::string, std::string> strings;  // further string values ("SendSeparately", ...)
  std::optional<uint32_t> use_rule;
};

void set_output_rules(const std::vector<OutputRuleConfig> &rules);
std::string output_rule_key(int n);
void set_transform_rules(const std::vector<std::pair<std::string, std::string>> &rules);
std::string input_rule_key(int n);

}  // namespace zz::test
