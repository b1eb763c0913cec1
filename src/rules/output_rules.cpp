// output_rules.cpp - reading an output rule under "\OutputFileRulez\<n>" with
// its recipients under "\EmailList".
#include "rules/output_rules.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/blocks.h"
#include "frame/events.h"
#include "text/compare.h"
#include "text/header_text.h"

namespace zz {
namespace {

constexpr const char *kReader = "get_config_directory_param";

std::string rule_key(uint32_t index) {
  char key[host::kTextSize];
  std::snprintf(key, sizeof key, "%s%s%d", host::registry_key(), "\\OutputFileRulez\\",
                static_cast<int>(index));
  return key;
}

bool switch_on(const std::string &key, const char *name) {
  char value[host::kTextSize];
  return host::read_string(key.c_str(), name, value) && std::strcmp(value, "+") == 0;
}

// read_count - a required number held in a string, at least 1
bool read_count(const std::string &key, const char *name, const char *check, uint32_t *out) {
  char value[host::kTextSize];
  if (!host::read_string(key.c_str(), name, value)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetString", kReader, name, key);
    return false;
  }
  const uint32_t number = to_number(value, nullptr, 10);
  if (number == 0) {
    report_failure(OXT_EV_ZERO_NUMBER, check, kReader, name, key);
    return false;
  }
  *out = number;
  return true;
}

bool read_options(const std::string &key, SendOptions *o) {
  o->SendSeparately = switch_on(key, "SendSeparately") ? 1 : 0;
  if (switch_on(key, "GarantedDelivery")) {
    o->GarantedDelivery = 1;
    if (!read_count(key, "IterationNum", "(!IterationNum)", &o->IterationNum) ||
        !read_count(key, "TimeInterval", "(!TimeInterval)", &o->TimeInterval)) {
      return false;
    }
  }
  o->SendTextInBody = switch_on(key, "SendTextInBody") ? 1 : 0;
  o->Transform866to1251 = switch_on(key, "transform866to1251") ? 1 : 0;
  if (switch_on(key, "UseSendLimits")) {
    o->UseSendLimits = 1;
    if (!read_count(key, "NumFileLimit", "(!MaxFilesNum)", &o->NumFileLimit) ||
        !read_count(key, "SizeFileLimit", "(!MaxFilesSize)", &o->SizeFileLimit)) {
      return false;
    }
  }
  return true;
}

// read_recipients - the "\EmailList" of a rule; false after reporting
bool read_recipients(const std::string &key, OutputRule *rule) {
  const std::string list = key + "\\EmailList";
  uint32_t count = 0;
  if (!host::read_dword_ex(list.c_str(), "EmailNum", &count)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetDWORDEx", kReader, "EmailNum", list);
    return false;
  }
  if (count == 0) return true;
  auto *entries = static_cast<AddressEntry *>(std::calloc(count, sizeof(AddressEntry)));
  if (entries == nullptr) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", "get_config_derectory_param");
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%d", static_cast<int>(i));
    char value[host::kTextSize];
    if (!host::read_string(list.c_str(), name, value)) {
      report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetString", kReader, name, list);
      free_pairs(entries, count);
      return false;
    }
    if (make_rule_address(value, &entries[i]) != kOk) {
      free_pairs(entries, count);
      return false;
    }
  }
  rule->Recipients = entries;
  rule->RecipientCount = count;
  return true;
}

void advance(uint32_t *index, uint32_t count) {
  *index = *index + 1 >= count ? 0 : *index + 1;
}

}  // namespace

uint32_t make_rule_address(const char *value, AddressEntry *entry) {
  char type[host::kTextSize] = "SMTP";
  char address[host::kTextSize];
  const char *colon = std::strchr(value, ':');
  if (colon != nullptr) {
    size_t n = static_cast<size_t>(colon - value);
    std::memcpy(type, value, n);
    type[n] = '\0';
    trim(type);
    std::snprintf(address, sizeof address, "%s", colon + 1);
  } else {
    std::snprintf(address, sizeof address, "%s", value);
  }
  trim(address);
  const char *kind = equal_ascii_ignoring_case(type, "EX")      ? "EX"
                     : equal_ascii_ignoring_case(type, "NOTES") ? "NOTES"
                                                                : "SMTP";
  return make_address_entry(entry, kind, address);
}

void release_output_rule(OutputRule *rule) {
  free_pairs(rule->Recipients, rule->RecipientCount);
  rule->Recipients = nullptr;
  rule->RecipientCount = 0;
  free_pairs(rule->RuleAddress, rule->RuleAddress != nullptr ? 1 : 0);
  rule->RuleAddress = nullptr;
}

int32_t get_config_directory_param(GetFileCtx *ctx, uint32_t *index, OutputRule *rule) {
  rule->RuleAddress = nullptr;
  rule->Recipients = nullptr;
  rule->RecipientCount = 0;
  rule->PermitNotSigned = 0;
  rule->FileMask[0] = '\0';
  rule->Options = SendOptions{};

  const std::string list = std::string(host::registry_key()) + "\\OutputFileRulez";
  uint32_t count = 0;
  if (!host::read_dword_ex(list.c_str(), "OutputRulezNum", &count)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetDWORDEx", kReader, "OutputRulezNum", list);
    return -1;
  }
  if (ctx->NextRule >= count) ctx->NextRule = *index = 0;
  if (*index >= count) return 1;

  const std::string key = rule_key(*index);
  uint32_t use = 1;
  if (host::read_dword_ex(key.c_str(), "UseRule", &use) && use == 0) {
    advance(index, count);
    return 3;
  }
  if (!host::read_path(key.c_str(), "Path", rule->Path)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetPath", kReader, "Path", key);
    return -1;
  }
  if (!host::read_string(key.c_str(), "DefaultSubject", rule->DefaultSubject)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetString", kReader, "DefaultSubject", key);
    return -1;
  }
  uint32_t type = 0;
  if (!host::read_dword_ex(key.c_str(), "Type", &type)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetDWORDEx", kReader, "Type", key);
    return -1;
  }
  if (!host::read_string(key.c_str(), "FileMask", rule->FileMask)) rule->FileMask[0] = '\0';

  char email[host::kTextSize];
  if (host::read_string(key.c_str(), "Email", email) && email[0] != '\0') {
    AddressEntry entry{};
    if (make_rule_address(email, &entry) == kOk) {
      if (entry.Address[0] != '\0') {
        void *block = nullptr;
        if (create_memory(&block, sizeof(AddressEntry)) == kOk) {
          rule->RuleAddress = static_cast<AddressEntry *>(block);
          *rule->RuleAddress = entry;
          entry = AddressEntry{};
        }
      }
      std::free(entry.Type);
      std::free(entry.Address);
    }
  }
  rule->PermitNotSigned = switch_on(key, "PermitNotSigned") ? 1 : 0;
  if (!read_options(key, &rule->Options) || !read_recipients(key, rule)) {
    release_output_rule(rule);
    return -1;
  }
  rule->Protection = type & (kProtectEncrypt | kProtectSign | kProtectNone | kProtectRuleMarks);
  advance(index, count);
  return 0;
}

}  // namespace zz
