// files_to_dir.cpp - the input rule walk for a database message. It differs
// from storing a received file: there is no "RSA" directory and no error
// directory, receipts select "OLMNOTIF.TXT", a message no rule takes is not
// reported, and every failure ends the walk at once.
#include "database/files_to_dir.h"

#include <cstring>
#include <string>

#include "files/file_io.h"
#include "files/paths.h"
#include "frame/events.h"
#include "frame/seed.h"
#include "host/settings.h"
#include "incoming/rule_match.h"
#include "incoming/target_path.h"
#include "rules/input_rules.h"
#include "text/masks.h"

namespace zz {
namespace {

constexpr const char *kFunction = "store_bd_mes_files_to_dir";

// select - marks the attachments the rule takes; false when it takes the message not at all
bool select(const InputRule &rule, BdMsg *msg) {
  const bool everything = std::strcmp(rule.FileMask, kEverything) == 0;
  const bool receipts = std::strcmp(rule.FileMask, kReceiptMask) == 0;
  if (receipts && (msg->Flags & kFlagReceipt) == 0) return false;
  bool any = false;
  for (uint32_t i = 0; i < msg->AttachmentCount; ++i) {
    BdAttachment &a = msg->Attachments[i];
    const char *name = a.Name != nullptr ? a.Name : "";
    bool take = everything;
    if (receipts) take = cmp_upper_str(name, "OLMNOTIF.TXT") == 0;
    if (!everything && !receipts) take = match_mask(rule.FileMask, name) == 0;
    a.Selected = take ? 1 : 0;
    any = any || take;
  }
  // A receipt rule takes a receipt even when it selects nothing.
  return any || receipts;
}

bool fail(const char *step) {
  report_summary(step, kFunction);
  return false;
}

// file_attachment - one selected attachment into the rule's directory
bool file_attachment(const InputRule &rule, const BdMsg &msg, const BdAttachment &a) {
  char dir[host::kTextSize];
  std::memcpy(dir, rule.Path, std::strlen(rule.Path) + 1);
  add_backslash(dir);
  char name[kNameSize];
  // Rule readers report their own failures.
  if (!transformed_name(a.Name != nullptr ? a.Name : "", name)) return false;
  if (!enter_date_subdir(rule.Grouping, dir)) return fail("CreateDirectory_");
  char subdir[host::kTextSize] = "";
  if (rule.Subdirectory && !enter_new_tmp_subdir(dir, subdir)) return fail("CreateDirectory");
  replace_invalid_chars(name);
  char target[host::kTextSize];
  std::memcpy(target, dir, std::strlen(dir) + 1);
  append_text(target, name);
  uint32_t overwrite = 0;
  if (get_config_flag_param(&overwrite) == kRuleFailed) return false;
  if (overwrite != kOverwrite) make_unique_path(target);
  const char *source = a.FilePath != nullptr ? a.FilePath : "";
  if (!copy_to_file(source, target)) {
    host::report_event(kLevelDetail, OXT_EV_COPY_FILE, source, target);
    return fail("copy_to_file");
  }
  if (rule.WithSignature && rule.DetachedSignature) {
    for (uint32_t s = 0; s < a.SignCount; ++s) {
      const BdSign &sign = a.Signs[s];
      const std::string path =
          signature_file_name(target, sign.SignerName != nullptr ? sign.SignerName : "");
      const char *from = sign.SignFilePath != nullptr ? sign.SignFilePath : "";
      if (!copy_to_file(from, path.c_str())) {
        host::report_event(kLevelDetail, OXT_EV_COPY_FILE, from, path);
        return fail("copy_to_file(2)");
      }
    }
  }
  if (rule.Subdirectory && !write_from_descriptor(subdir, msg.SenderType, msg.SenderAddress)) {
    return fail("write_to_file");
  }
  return true;
}

}  // namespace

int32_t store_bd_mes_files_to_dir(BdMsg *msg) {
  if (msg->AttachmentCount == 0 || msg->Attachments == nullptr) return 0;
  seed_random_once();
  if (!host::fetch_registry_key()) {
    report_failure(OXT_EV_REGISTRY_KEY, "NR_GetRegistryKeyString", kFunction);
    return -1;
  }
  uint32_t index = 0;
  for (;;) {
    InputRule rule;
    clear_rule(&rule);
    const int32_t status = get_config_store_param(&index, &rule);
    if (status == kRuleOff) continue;
    if (status == kRuleFailed) return -1;
    if (status == kNoMoreRules) return 0;
    if (!sender_accepted(rule, msg->SenderAddress) || !kind_accepts(rule.Kind, msg->Flags) ||
        !recipients_accepted(rule, msg->Recipients, msg->RecipientCount) || !select(rule, msg)) {
      continue;
    }
    for (uint32_t i = 0; i < msg->AttachmentCount; ++i) {
      if (!msg->Attachments[i].Selected) continue;
      if (!file_attachment(rule, *msg, msg->Attachments[i])) return -1;
    }
    if (!rule.Continue) return 0;
  }
}

}  // namespace zz
