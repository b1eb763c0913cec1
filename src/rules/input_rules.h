// input_rules.h - readers of the input rules (which incoming messages go
// where), the transform rules (how stored files are renamed) and the
// overwrite flag, and the test of a rule's message kinds.
// Rule readers answer 0 read (index advanced), 1 no more rules, 3 rule
// switched off (index advanced), -1 failure (reported).
#pragma once

#include <cstdint>

#include "host/settings.h"

namespace zz {

constexpr int32_t kRuleRead = 0;
constexpr int32_t kNoMoreRules = 1;
constexpr int32_t kRuleOff = 3;
constexpr int32_t kRuleFailed = -1;

constexpr uint32_t kOverwrite = 8;  // the value get_config_flag_param hands out

// The message flags of incoming records.
constexpr uint32_t kFlagEncrypted = 1;
constexpr uint32_t kFlagSigned = 2;
constexpr uint32_t kFlagReceipt = 4;
constexpr uint32_t kFlagRsa = 8;

// InputRule - one input rule as get_config_store_param hands it out.
struct InputRule {
  char Path[host::kTextSize];
  char SenderMask[host::kTextSize];
  char FileMask[host::kTextSize];
  char RecipientMask[host::kTextSize];
  uint32_t Kind;
  uint32_t Continue;
  uint32_t WithSignature;
  uint32_t DetachedSignature;
  uint32_t Subdirectory;
  char Grouping;  // 'N', 'D', 'M' or 'Y'
};

// clear_rule - every text empty and every number 0, as a fresh rule is
// before reading; the texts' buffers are not written through (a rule is
// read for every rule of every stored file)
inline void clear_rule(InputRule *rule) {
  rule->Path[0] = rule->SenderMask[0] = rule->FileMask[0] = rule->RecipientMask[0] = '\0';
  rule->Kind = rule->Continue = rule->WithSignature = rule->DetachedSignature = 0;
  rule->Subdirectory = 0;
  rule->Grouping = 'N';
}

// TransformRule - a mask for received names and the template of the new name.
struct TransformRule {
  char FileNameIn[host::kTextSize];
  char FileNameOut[host::kTextSize];
};

// get_config_store_param - reads rule `*index`; clears Continue and
// Subdirectory itself, sets WithSignature and DetachedSignature only to 1
// (the caller clears them) and empties RecipientMask before reading it
int32_t get_config_store_param(uint32_t *index, InputRule *rule);
// get_config_convert_param - 1 also when transform rules are switched off
int32_t get_config_convert_param(uint32_t *index, TransformRule *rule);
// get_config_flag_param - 0 with `flag` kOverwrite or 0; -1 when the flag word cannot be read
int32_t get_config_flag_param(uint32_t *flag);

// kind_accepts - whether a rule's "Type" takes a message with these flags
bool kind_accepts(uint32_t type, uint32_t flags);

}  // namespace zz
