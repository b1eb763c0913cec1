// input_rules.cpp - the input, transform and flag readers. Keys are the
// host's key followed by "\InputFileRulez" (or "\TransformFileRulez") and the
// rule number; optional values that cannot be read take their defaults.
#include "rules/input_rules.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "frame/events.h"
#include "text/masks.h"

namespace zz {
namespace {

constexpr const char *kStoreReader = "get_config_store_param";
constexpr const char *kConvertReader = "get_config_convert_param";

// The configuration's own words, code page 1251.
constexpr const char kByDays[] = "\xCF\xEE \xE4\xED\xFF\xEC";                // По дням
constexpr const char kByMonths[] = "\xCF\xEE \xEC\xE5\xF1\xFF\xF6\xE0\xEC";  // По месяцам
constexpr const char kByYears[] = "\xCF\xEE \xE3\xEE\xE4\xE0\xEC";           // По годам
constexpr const char kNone[] = "\xCD\xE5\xF2";                               // Нет

constexpr uint32_t kTransformsOn = 2;
constexpr uint32_t kOverwriteBit = 1;
constexpr uint32_t kStrict = 8;
constexpr uint32_t kTakesEncrypted = 1;
constexpr uint32_t kTakesSigned = 2;
constexpr uint32_t kTakesPlain = 4;

// RuleKey - the host's key followed by a list's name and, once numbered, a
// rule's number; built in place, since every stored file reads every rule
class RuleKey {
 public:
  explicit RuleKey(std::string_view list) {
    const std::string_view host_key = host::registry_key();
    length_ = std::min(host_key.size() + list.size(), sizeof text_ - 12);
    std::memcpy(text_, host_key.data(), std::min(host_key.size(), length_));
    if (length_ > host_key.size()) {
      std::memcpy(text_ + host_key.size(), list.data(), length_ - host_key.size());
    }
    text_[length_] = '\0';
  }
  // number - the key of the rule with this number
  const char *number(uint32_t index) {
    char digits[12];
    size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + index % 10);
      index /= 10;
    } while (index != 0);
    char *at = text_ + length_;
    *at++ = '\\';
    while (n != 0) *at++ = digits[--n];
    *at = '\0';
    return text_;
  }
  const char *c_str() const { return text_; }

 private:
  char text_[host::kTextSize];
  size_t length_;
};

// not_read - a setting a rule cannot do without is missing (out of the way
// of the reads, which every rule makes for every file)
[[gnu::cold, gnu::noinline]] bool not_read(const char *call, const char *reader, const char *name,
                                           const char *key) {
  report_failure(OXT_EV_READ_SETTING, call, reader, name, key);
  return false;
}

inline bool required_number(const char *key, const char *name, uint32_t *value,
                            const char *reader) {
  return host::read_dword_ex(key, name, value) || not_read("OLM_ConfGetDWORDEx", reader, name, key);
}

inline bool required_string(const char *key, const char *name, char *value, const char *reader) {
  return host::read_string(key, name, value) || not_read("OLM_ConfGetString", reader, name, key);
}

// keep_after_first_colon - an address-type prefix such as "SMTP:" is dropped from a mask
void keep_after_first_colon(char *mask) {
  const char *colon = std::strchr(mask, ':');
  if (colon != nullptr) std::memmove(mask, colon + 1, std::strlen(colon + 1) + 1);
}

// switch_on - an optional "+" switch; absent or any other text is off
bool switch_on(const char *key, const char *name) {
  char value[host::kTextSize];
  return host::read_string(key, name, value) && std::strcmp(value, "+") == 0;
}

char grouping_of(const char *key) {
  char value[host::kTextSize];
  if (!host::read_string(key, "GroupBy", value)) return 'N';
  char grouping = 'N';
  if (cmp_upper_str(value, kByDays) == 0) grouping = 'D';
  if (cmp_upper_str(value, kByMonths) == 0) grouping = 'M';
  if (cmp_upper_str(value, kByYears) == 0) grouping = 'Y';
  if (cmp_upper_str(value, kNone) == 0) grouping = 'N';
  return grouping;
}

}  // namespace

int32_t get_config_store_param(uint32_t *index, InputRule *rule) {
  rule->Continue = 0;
  rule->Subdirectory = 0;
  RuleKey list("\\InputFileRulez");
  uint32_t count = 0;
  if (!required_number(list.c_str(), "InputRulezNum", &count, kStoreReader)) return kRuleFailed;
  if (*index >= count) return kNoMoreRules;

  const char *key = list.number(*index);
  uint32_t use = 1;
  if (host::read_dword_ex(key, "UseRule", &use) && use == 0) {
    ++*index;
    return kRuleOff;
  }
  if (!host::read_path(key, "Path", rule->Path)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetPath", kStoreReader, "Path", key);
    return kRuleFailed;
  }
  if (!required_string(key, "Email", rule->SenderMask, kStoreReader)) return kRuleFailed;
  keep_after_first_colon(rule->SenderMask);
  rule->RecipientMask[0] = '\0';
  if (host::read_string(key, "RecipEmail", rule->RecipientMask)) {
    keep_after_first_colon(rule->RecipientMask);
  } else {
    rule->RecipientMask[0] = '\0';
  }
  if (!required_string(key, "FileMask", rule->FileMask, kStoreReader)) return kRuleFailed;
  if (!required_number(key, "Type", &rule->Kind, kStoreReader)) return kRuleFailed;

  rule->Continue = switch_on(key, "ContinueProcessRulez") ? 1 : 0;
  if (switch_on(key, "SaveFileWithSignature")) {
    rule->WithSignature = 1;
    if (switch_on(key, "SaveDetachedSignature")) rule->DetachedSignature = 1;
  }
  rule->Subdirectory = switch_on(key, "SaveInSubdirectory") ? 1 : 0;
  rule->Grouping = grouping_of(key);
  ++*index;
  return kRuleRead;
}

int32_t get_config_convert_param(uint32_t *index, TransformRule *rule) {
  uint32_t flags = 0;
  if (!required_number(host::registry_key(), "InputFileRulezFlags", &flags, kConvertReader)) {
    return kRuleFailed;
  }
  if ((flags & kTransformsOn) == 0) return kNoMoreRules;
  RuleKey list("\\TransformFileRulez");
  uint32_t count = 0;
  if (!required_number(list.c_str(), "TransformFileRulezNum", &count, kConvertReader)) {
    return kRuleFailed;
  }
  if (*index >= count) return kNoMoreRules;
  const char *key = list.number(*index);
  if (!required_string(key, "FileNameIn", rule->FileNameIn, kConvertReader) ||
      !required_string(key, "FileNameOut", rule->FileNameOut, kConvertReader)) {
    return kRuleFailed;
  }
  ++*index;
  return kRuleRead;
}

int32_t get_config_flag_param(uint32_t *flag) {
  uint32_t flags = 0;
  if (!required_number(host::registry_key(), "InputFileRulezFlags", &flags,
                       "get_config_flag_param")) {
    return kRuleFailed;
  }
  *flag = (flags & kOverwriteBit) != 0 ? kOverwrite : 0;
  return kRuleRead;
}

bool kind_accepts(uint32_t type, uint32_t flags) {
  const bool is_signed = (flags & kFlagSigned) != 0;
  const bool encrypted = (flags & kFlagEncrypted) != 0;
  if ((type & kStrict) != 0) {
    if (is_signed != ((type & kTakesSigned) != 0)) return false;
    if (encrypted != ((type & kTakesEncrypted) != 0)) return false;
    return (type & kTakesPlain) == 0 || (!is_signed && !encrypted);
  }
  if (is_signed && (type & kTakesSigned) == 0) return false;
  if (encrypted && (type & kTakesEncrypted) == 0) return false;
  if (!is_signed && !encrypted && (type & kTakesPlain) == 0) return false;
  return true;
}

}  // namespace zz
