// output_rules.h - the reader of one output rule: which directory is
// collected, how its files are protected and addressed, and how they are
// sent (separately, with guaranteed delivery, as body text, within limits).
#pragma once

#include <cstdint>

#include "host/settings.h"
#include "zozerez.h"

namespace zz {

// SendOptions - the nine send options of a rule; what a switch leaves unread is 0.
struct SendOptions {
  uint32_t SendSeparately;
  uint32_t GarantedDelivery;
  uint32_t IterationNum;
  uint32_t TimeInterval;
  uint32_t SendTextInBody;
  uint32_t Transform866to1251;
  uint32_t UseSendLimits;
  uint32_t NumFileLimit;
  uint32_t SizeFileLimit;
};

// Protection word bits (also the outgoing record's flags).
constexpr uint32_t kProtectEncrypt = 1;
constexpr uint32_t kProtectSign = 2;
constexpr uint32_t kProtectNone = 4;
constexpr uint32_t kProtectRuleMarks = 0x10000 | 0x20000;

// OutputRule - what get_config_directory_param hands out. The recipient list
// and the rule address become the caller's (release_output_rule frees them).
struct OutputRule {
  char Path[host::kTextSize];
  char DefaultSubject[host::kTextSize];
  char FileMask[host::kTextSize];
  AddressEntry *Recipients;
  uint32_t RecipientCount;
  uint32_t Protection;
  AddressEntry *RuleAddress;  // the sender, or null
  uint32_t PermitNotSigned;
  SendOptions Options;
};

// get_config_directory_param - 0 read, 1 no rule at the index, 3 rule
// switched off, -1 failure; the index advances (wrapping) for 0 and 3.
// `NextRule` is reset with the index when it is not below the rule count.
int32_t get_config_directory_param(GetFileCtx *ctx, uint32_t *index, OutputRule *rule);
// release_output_rule - frees the recipient list and the rule address
void release_output_rule(OutputRule *rule);
// make_address_entry - one owned entry from "type:address" (type EX, NOTES or
// SMTP by equality without case); 0 / 0xFFFFFFFF
uint32_t make_rule_address(const char *value, AddressEntry *entry);

}  // namespace zz
