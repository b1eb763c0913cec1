// rules_config.cpp - writing rule lists into the test host's configuration.
#include "support/rules_config.h"

namespace zz::test {

const char kHostKey[] = "HKLM\\SOFTWARE\\Zozerez";
const char kEverything[] = "\xC2\xF1\xE5";
const char kReceipt[] = "\xCA\xE2\xE8\xF2\xE0\xED\xF6\xE8\xFF";

std::string input_rule_key(int n) {
  return std::string(kHostKey) + "\\InputFileRulez\\" + std::to_string(n);
}

void set_input_rules(const std::vector<InputRuleConfig> &rules) {
  host().set_dword(std::string(kHostKey) + "\\InputFileRulez", "InputRulezNum",
                   static_cast<uint32_t>(rules.size()));
  for (size_t i = 0; i < rules.size(); ++i) {
    const InputRuleConfig &r = rules[i];
    const std::string key = input_rule_key(static_cast<int>(i));
    host().set_string(key, "Path", r.path);
    host().set_string(key, "Email", r.email);
    host().set_string(key, "FileMask", r.file_mask);
    host().set_dword(key, "Type", r.type);
    if (!r.recip_email.empty()) host().set_string(key, "RecipEmail", r.recip_email);
    if (r.continue_rules) host().set_string(key, "ContinueProcessRulez", "+");
    if (r.with_signature) host().set_string(key, "SaveFileWithSignature", "+");
    if (r.detached) host().set_string(key, "SaveDetachedSignature", "+");
    if (r.subdirectory) host().set_string(key, "SaveInSubdirectory", "+");
    if (!r.group_by.empty()) host().set_string(key, "GroupBy", r.group_by);
    if (r.use_rule) host().set_dword(key, "UseRule", *r.use_rule);
  }
}

std::string output_rule_key(int n) {
  return std::string(kHostKey) + "\\OutputFileRulez\\" + std::to_string(n);
}

void set_output_rules(const std::vector<OutputRuleConfig> &rules) {
  host().set_dword(std::string(kHostKey) + "\\OutputFileRulez", "OutputRulezNum",
                   static_cast<uint32_t>(rules.size()));
  for (size_t i = 0; i < rules.size(); ++i) {
    const OutputRuleConfig &r = rules[i];
    const std::string key = output_rule_key(static_cast<int>(i));
    host().set_string(key, "Path", r.path);
    host().set_string(key, "DefaultSubject", r.subject);
    host().set_dword(key, "Type", r.type);
    if (!r.file_mask.empty()) host().set_string(key, "FileMask", r.file_mask);
    if (!r.email.empty()) host().set_string(key, "Email", r.email);
    for (const auto &[name, value] : r.strings) host().set_string(key, name, value);
    if (r.use_rule) host().set_dword(key, "UseRule", *r.use_rule);
    host().set_dword(key + "\\EmailList", "EmailNum", static_cast<uint32_t>(r.emails.size()));
    for (size_t e = 0; e < r.emails.size(); ++e) {
      host().set_string(key + "\\EmailList", std::to_string(e), r.emails[e]);
    }
  }
}

void set_transform_rules(const std::vector<std::pair<std::string, std::string>> &rules) {
  const std::string list = std::string(kHostKey) + "\\TransformFileRulez";
  host().set_dword(list, "TransformFileRulezNum", static_cast<uint32_t>(rules.size()));
  for (size_t i = 0; i < rules.size(); ++i) {
    host().set_string(list + "\\" + std::to_string(i), "FileNameIn", rules[i].first);
    host().set_string(list + "\\" + std::to_string(i), "FileNameOut", rules[i].second);
  }
}

}  // namespace zz::test
