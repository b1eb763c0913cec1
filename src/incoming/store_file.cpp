// store_file.cpp - the walk of the input rules for one incoming file.
// Every rule that takes the message stores a copy under its directory
// (renamed by the transform rules, sanitised, in date, "RSA" and own
// subdirectories, made unique); the walk ends after the first rule that
// stored or failed unless that rule says to continue. A failure that ends
// the walk puts the file into the error directory when one is configured.
#include "incoming/store_file.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "files/file_io.h"
#include "files/file_ops.h"
#include "files/paths.h"
#include "frame/events.h"
#include "frame/seed.h"
#include "host/settings.h"
#include "incoming/rule_match.h"
#include "incoming/target_path.h"
#include "rules/input_rules.h"
#include "rules/module_paths.h"
#include "text/container.h"
#include "text/masks.h"

namespace zz {
namespace {

constexpr const char *kExport = "OXT_store_file_ext";

// Outcome of one rule for the message.
enum class Outcome {
  kPassedOver,  // the rule does not take the message
  kStored,
  kRuleFailed,  // reported; the rule's continue switch decides
  kAbort,       // reported; straight to the error directory
};

const char *text_or_empty(const char *text) {
  return text != nullptr ? text : "";
}

bool file_accepted(const InputRule &rule, const IncomingMessage &msg) {
  if (std::strcmp(rule.FileMask, kEverything) == 0) return true;
  if (std::strcmp(rule.FileMask, kReceiptMask) == 0) return (msg.Flags & kFlagReceipt) != 0;
  return match_mask(rule.FileMask, text_or_empty(msg.FileName)) == 0;
}

bool rule_takes(const InputRule &rule, const IncomingMessage &msg) {
  return sender_accepted(rule, msg.SenderAddress) && file_accepted(rule, msg) &&
         kind_accepts(rule.Kind, msg.Flags) &&
         recipients_accepted(rule, msg.Recipients, msg.RecipientCount);
}

bool is_protected(const IncomingMessage &msg) {
  return (msg.Flags & (kFlagSigned | kFlagEncrypted)) != 0;
}

bool write_or_report(const char *path, const void *data, uint32_t length) {
  if (write_to_file(path, data, length)) return true;
  host::report_event(kLevelDetail, OXT_EV_WRITE_FILE, path);
  return false;
}

// write_target_or_report - the stored file itself, under a free name
// unless the configuration says to overwrite
bool write_target_or_report(char *path, bool unique, const void *data, uint32_t length) {
  if (!unique) return write_or_report(path, data, length);
  if (write_unique(path, data, length)) return true;
  host::report_event(kLevelDetail, OXT_EV_WRITE_FILE, path);
  return false;
}

class RuleStore {
 public:
  RuleStore(const InputRule &rule, const IncomingMessage &msg) : rule_(rule), msg_(msg) {
    dir_[0] = subdir_[0] = target_[0] = '\0';
  }

  Outcome run() {
    if (!rule_takes(rule_, msg_)) return Outcome::kPassedOver;
    std::memcpy(dir_, rule_.Path, std::strlen(rule_.Path) + 1);
    add_backslash(dir_);
    char name[kNameSize];
    if (!transformed_name(text_or_empty(msg_.FileName), name)) return Outcome::kAbort;
    if (!enter_date_subdir(rule_.Grouping, dir_)) return fail("CreateDirectory_");
    if ((msg_.Flags & kFlagRsa) != 0 && !enter_named_subdir("RSA", dir_)) {
      return fail("CreateDirectory_");
    }
    if (rule_.Subdirectory && !enter_new_tmp_subdir(dir_, subdir_)) return fail("CreateDirectory");
    replace_invalid_chars(name);
    std::memcpy(target_, dir_, std::strlen(dir_) + 1);
    append_text(target_, name);
    uint32_t overwrite = 0;
    if (get_config_flag_param(&overwrite) == kRuleFailed) return Outcome::kAbort;
    unique_ = overwrite != kOverwrite;

    Outcome written = write_content();
    if (written != Outcome::kStored) return written;
    if (rule_.Subdirectory && !write_descriptor()) return fail("write_to_file(5)");
    return Outcome::kStored;
  }

  const char *failed_step() const { return failed_step_; }

 private:
  Outcome fail(const char *step) {
    failed_step_ = step;
    return Outcome::kRuleFailed;
  }

  Outcome write_content() {
    if (!is_protected(msg_) || (msg_.Flags & kFlagRsa) != 0) {
      return write_target(msg_.Data, msg_.DataLength) ? Outcome::kStored : fail("write_to_file(2)");
    }
    ContainerBlock file;
    TextCursor signatures;
    if (!read_container_file(msg_.Data, msg_.DataLength, &file, &signatures)) {
      report_failure(OXT_EV_NO_FILE_DATA, "seek_file_value", kExport);
      return Outcome::kAbort;
    }
    if (!rule_.WithSignature) {
      return write_target(file.Data, file.Length) ? Outcome::kStored : fail("write_to_file(1)");
    }
    if (!rule_.DetachedSignature) {
      return write_target(msg_.Data, msg_.DataLength) ? Outcome::kStored : fail("write_to_file(2)");
    }
    if (!write_target(file.Data, file.Length)) return fail("write_to_file(3)");
    ContainerSignature signature;
    while (next_container_signature(&signatures, &signature)) {
      const std::string path = signature_file_name(target_, signature.Signer);
      if (!write_or_report(path.c_str(), signature.Sign.Data, signature.Sign.Length)) {
        return fail("write_to_file(4)");
      }
    }
    return Outcome::kStored;
  }

  bool write_target(const void *data, uint32_t length) {
    return write_target_or_report(target_, unique_, data, length);
  }

  bool write_descriptor() {
    return write_from_descriptor(subdir_, msg_.SenderType, msg_.SenderAddress);
  }

  const InputRule &rule_;
  const IncomingMessage &msg_;
  char dir_[host::kTextSize];
  char subdir_[host::kTextSize];
  char target_[host::kTextSize];
  const char *failed_step_ = "";
  bool unique_ = true;
};

// keep_in_error_directory - the sanitised received name, always made unique;
// the write's outcome is not looked at
void keep_in_error_directory(const char *error_dir, const IncomingMessage &msg) {
  char name[kNameSize];
  std::snprintf(name, sizeof name, "%s", text_or_empty(msg.FileName));
  replace_invalid_chars(name);
  char path[host::kTextSize];
  std::memcpy(path, error_dir, std::strlen(error_dir) + 1);
  append_text(path, name);
  make_unique_path(path);
  if (!is_protected(msg)) {
    write_to_file(path, msg.Data, msg.DataLength);
    return;
  }
  ContainerBlock file;
  TextCursor rest;
  if (read_container_file(msg.Data, msg.DataLength, &file, &rest)) {
    write_to_file(path, file.Data, file.Length);
  }
}

}  // namespace

int32_t store_file_ext(const IncomingMessage *received) {
  // A message without data is stored as an empty file, never read through null.
  IncomingMessage message = *received;
  if (message.Data == nullptr) message.DataLength = 0;
  const IncomingMessage *msg = &message;
  seed_random_once();
  if (!host::fetch_registry_key()) {
    report_failure(OXT_EV_REGISTRY_KEY, "NR_GetRegistryKeyString", kExport);
    return -1;
  }
  char error_dir[host::kTextSize];
  uint32_t error_dir_on = 0;
  get_config_dir_store_files_if_error(error_dir, &error_dir_on);
  auto give_up = [&] {
    if (error_dir_on) keep_in_error_directory(error_dir, *msg);
    return -1;
  };

  bool stored = false;
  bool failed = false;
  uint32_t index = 0;
  for (;;) {
    InputRule rule;
    clear_rule(&rule);
    int32_t status = get_config_store_param(&index, &rule);
    if (status == kRuleOff) continue;
    if (status == kRuleFailed) return give_up();
    if (status == kNoMoreRules) break;

    RuleStore store(rule, *msg);
    switch (store.run()) {
      case Outcome::kPassedOver:
        continue;
      case Outcome::kAbort:
        return give_up();
      case Outcome::kRuleFailed:
        report_summary(store.failed_step(), kExport);
        if (!rule.Continue) return give_up();
        failed = true;
        continue;
      case Outcome::kStored:
        stored = true;
        if (rule.Continue) continue;
        return failed ? give_up() : 0;
    }
  }
  if (stored) return failed ? give_up() : 0;
  host::report_event(kLevelDetail, OXT_EV_NO_INPUT_RULE, text_or_empty(msg->FileName),
                     text_or_empty(msg->SenderAddress), msg->Flags);
  report_summary("get_config_store_param", kExport);
  return -1;
}

}  // namespace zz
