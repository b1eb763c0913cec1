// get_files.cpp - one collection call. The rules take turns: the scan starts
// at NextRule and a message from rule k leaves NextRule at k + 1, so a busy
// directory cannot starve the others. In each rule directory files may first
// be grouped into a send directory, then one loose file is taken (sent as it
// is, or turned into a send directory), then one send directory.
#include "outgoing/get_files.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "completion/check_signed.h"
#include "completion/send_dirs.h"
#include "files/blocks.h"
#include "files/file_ops.h"
#include "frame/events.h"
#include "frame/seed.h"
#include "host/crypto.h"
#include "host/settings.h"
#include "outgoing/database_message.h"
#include "outgoing/find_directory.h"
#include "outgoing/find_file.h"
#include "outgoing/message_text.h"
#include "outgoing/outgoing_record.h"
#include "outgoing/text_body.h"
#include "platform/os.h"
#include "rules/module_paths.h"
#include "rules/output_rules.h"

namespace zz {
namespace {

constexpr const char *kExport = "OXT_get_files";
constexpr uint32_t kSignatureCheckMode = 0x100;
constexpr uint32_t kMessageFlags = kProtectEncrypt | kProtectSign;

enum class Step { kMessage, kNextRule, kDatabase, kFailed, kFailedFilled };

bool read_module_flag(const char *name, uint32_t *value) {
  if (host::read_dword(host::registry_key(), name, value)) return true;
  report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetDWORD", kExport, name, host::registry_key());
  return false;
}

// subject_for - the subject with the file-name tokens replaced; null on failure
char *subject_for(const char *subject, const char *file_name) {
  char *text = nullptr;
  if (create_string(&text, subject) != kOk) return nullptr;
  if (file_name != nullptr && replace_mask_on_str(&text, file_name) != kOk) {
    std::free(text);
    return nullptr;
  }
  return text;
}

// text_body - a lone text file without zero bytes is also the message text,
// converted from code page 866 where the rule says so or it looks like 866
bool text_body(const SendOptions &options, FileEntry &file, OutgoingMessage *msg) {
  if (!options.SendTextInBody || std::memchr(file.Data, 0, file.Length) != nullptr) return true;
  if (options.Transform866to1251) {
    os::oem866_to_1251(reinterpret_cast<char *>(file.Data), file.Length);
  } else if (looks_like_866(file.Data, file.Length)) {
    convert_866_letters(file.Data, file.Length);
  }
  void *block = nullptr;
  if (create_data(&block, file.Data, file.Length) != kOk) return false;
  msg->Body = static_cast<uint8_t *>(block);
  msg->BodyLength = file.Length;
  return true;
}

void take_sender(AddressEntry *&entry, OutgoingMessage *msg) {
  if (entry == nullptr) return;
  msg->SenderType = entry->Type;
  msg->SenderAddress = entry->Address;
  std::free(entry);
  entry = nullptr;
}

class Collection {
 public:
  Collection(GetFileCtx *ctx, CCA_CONTEXT crypto, OutgoingMessage *msg, bool check_mode)
      : ctx_(ctx), crypto_(crypto), msg_(msg), check_mode_(check_mode) {}
  // A failure after a claim leaves the claim under its working name, as the
  // module's failure rules say; an exception (no memory for a C++ text) is no
  // such rule, and its claim goes back to its pickup name to be offered again.
  ~Collection() {
    release_output_rule(&rule_);
    const bool unwinding = std::uncaught_exceptions() > exceptions_;
    for (uint32_t i = 0; unwinding && i < file_count_; ++i) {
      if (files_[i].WorkPath != nullptr && files_[i].PickupPath != nullptr) {
        rename_file(files_[i].WorkPath, files_[i].PickupPath);
      }
    }
    free_file_entries(files_, file_count_);
    if (unwinding && dir_.InfoWorkPath != nullptr && dir_.InfoPickupPath != nullptr) {
      rename_file(dir_.InfoWorkPath, dir_.InfoPickupPath);
    }
    release_send_directory(&dir_);
  }
  Collection(const Collection &) = delete;
  Collection &operator=(const Collection &) = delete;

  // scan - the rules from NextRule round to NextRule again
  Step scan() {
    uint32_t index = ctx_->NextRule;
    for (bool first = true;; first = false) {
      if (!first && index == ctx_->NextRule) return Step::kDatabase;
      release_output_rule(&rule_);
      const int32_t status = get_config_directory_param(ctx_, &index, &rule_);
      if (status == 3) continue;
      if (status == 1) return Step::kDatabase;
      if (status != 0) return Step::kFailed;
      const Step step = visit_rule();
      if (step == Step::kMessage) ctx_->NextRule = index;
      if (step != Step::kNextRule) return step;
    }
  }

 private:
  Step visit_rule() {
    skip_send_directories_ = false;
    if (!check_mode_ || rule_.PermitNotSigned) {
      bool grouped = false;
      if (rule_.Options.UseSendLimits) {
        const int32_t r =
            group_files_to_subdir(ctx_, rule_.Path, rule_.Recipients, rule_.RecipientCount,
                                  rule_.FileMask, rule_.Options, rule_.DefaultSubject);
        if (r == -1) return Step::kFailed;
        grouped = r == 0;
      }
      if (!grouped) {
        const Step loose = take_loose_file();
        if (loose != Step::kNextRule) return loose;
      }
    }
    return take_send_directory();
  }

  // take_loose_file - kNextRule means: go on to the send directories
  Step take_loose_file() {
    bool subdirectories = true;
    const int32_t found =
        find_file(ctx_, rule_.Path, &files_, &file_count_, rule_.FileMask, &subdirectories);
    if (found == -1) return Step::kFailed;
    if (found == 1) {
      // The directory was just listed whole: without a subdirectory there is
      // no send directory to look for.
      skip_send_directories_ = !subdirectories;
      return Step::kNextRule;
    }
    const SendOptions &o = rule_.Options;
    const bool separately = o.SendSeparately && rule_.RecipientCount > 1;
    const bool guaranteed = o.GarantedDelivery && rule_.RecipientCount == 1;
    if (!separately && !guaranteed) return loose_file_message();
    const int32_t made = create_dir_for_send_file(
        separately ? kSeparateSending : kGuaranteedDelivery, rule_.Path, files_, file_count_,
        rule_.Recipients, rule_.RecipientCount, separately ? 0 : o.IterationNum,
        separately ? 0 : o.TimeInterval, rule_.DefaultSubject);
    if (made == -1) {
      move_to_bad_files();
      drop_files();
      return Step::kFailed;
    }
    for (uint32_t i = 0; i < file_count_; ++i) delete_file(files_[i].WorkPath);
    drop_files();
    return Step::kNextRule;
  }

  // drop_files - the claimed files are dealt with; only the entries go
  void drop_files() {
    free_file_entries(files_, file_count_);
    files_ = nullptr;
    file_count_ = 0;
  }

  void move_to_bad_files() {
    char bad_dir[host::kTextSize];
    uint32_t on = 0;
    if (get_config_dir_store_bad_files(bad_dir, &on) != 0 || !on) return;
    for (uint32_t i = 0; i < file_count_; ++i) {
      const std::string target = std::string(bad_dir) + files_[i].Name;
      rename_file(files_[i].WorkPath, target.c_str());
    }
  }

  Step loose_file_message() {
    msg_->Subject = subject_for(rule_.DefaultSubject, files_[0].Name);
    if (msg_->Subject == nullptr) return Step::kFailed;
    if (file_count_ == 1 && !text_body(rule_.Options, files_[0], msg_)) return Step::kFailed;
    msg_->File = files_;
    msg_->NumberFile = file_count_;
    files_ = nullptr;
    file_count_ = 0;
    msg_->Recipients = rule_.Recipients;
    msg_->RecipientCount = rule_.RecipientCount;
    rule_.Recipients = nullptr;
    rule_.RecipientCount = 0;
    msg_->Flags = rule_.Protection & (kMessageFlags | kProtectRuleMarks);
    take_sender(rule_.RuleAddress, msg_);
    return Step::kMessage;
  }

  Step take_send_directory() {
    if (skip_send_directories_) {
      skip_send_directories_ = false;
      return Step::kNextRule;
    }
    const int32_t found = find_directory(ctx_, rule_.Path, &dir_);
    if (found == -1) return Step::kFailed;
    if (found == 1) return Step::kNextRule;
    bool failed = found == 2;
    if (found == 0 && check_mode_ && !rule_.PermitNotSigned) {
      failed = check_signed_files(crypto_, dir_.Files, dir_.FileCount, 1) != 0;
    }
    const char *subject = dir_.Subject != nullptr ? dir_.Subject : rule_.DefaultSubject;
    msg_->Subject = subject_for(subject, dir_.FileCount >= 1 ? dir_.Files[0].Name : nullptr);
    if (msg_->Subject == nullptr) return Step::kFailed;
    fill_from_send_directory();
    return failed ? Step::kFailedFilled : Step::kMessage;
  }

  void fill_from_send_directory() {
    msg_->File = dir_.Files;
    msg_->NumberFile = dir_.FileCount;
    AddressEntry *&recipients = dir_.Recipients != nullptr ? dir_.Recipients : rule_.Recipients;
    uint32_t &count = dir_.Recipients != nullptr ? dir_.RecipientCount : rule_.RecipientCount;
    msg_->Recipients = recipients;
    msg_->RecipientCount = count;
    recipients = nullptr;
    count = 0;
    take_sender(dir_.Sender != nullptr ? dir_.Sender : rule_.RuleAddress, msg_);
    msg_->Body = dir_.Body;
    msg_->BodyLength = dir_.BodyLength;
    msg_->Flags = (dir_.Protection != 0 ? dir_.Protection : rule_.Protection) & kMessageFlags;
    msg_->InfoPickupPath = dir_.InfoPickupPath;
    msg_->InfoWorkPath = dir_.InfoWorkPath;
    msg_->SendDirPath = dir_.SendDirPath;
    msg_->SendDirName = dir_.SendDirName;
    std::free(dir_.Subject);
    dir_ = SendDirectory{};
  }

  GetFileCtx *ctx_;
  CCA_CONTEXT crypto_;
  OutgoingMessage *msg_;
  bool check_mode_;
  bool skip_send_directories_ = false;  // the loose-file scan saw no subdirectory
  OutputRule rule_{};
  FileEntry *files_ = nullptr;
  uint32_t file_count_ = 0;
  SendDirectory dir_{};
  int exceptions_ = std::uncaught_exceptions();
};

}  // namespace

uint32_t get_files(GetFileCtx *ctx, CCA_CONTEXT *crypto, OutgoingMessage *msg) {
  std::memset(msg, 0, sizeof *msg);
  ctx->OutMsgHeld = 0;
  seed_random_once();
  if (!host::fetch_registry_key()) {
    report_failure(OXT_EV_REGISTRY_KEY, "NR_GetRegistryKeyString", kExport);
    return kFailed;
  }
  uint32_t output_flags = 0;
  uint32_t certificate_flags = 0;
  if (!read_module_flag("OutputMessageFlags", &output_flags) ||
      !read_module_flag("CertificateFlags", &certificate_flags)) {
    return kFailed;
  }
  const CCA_CONTEXT handle = host::crypto_handle(crypto);
  Step step;
  {
    Collection collection(ctx, handle, msg, (output_flags & kSignatureCheckMode) != 0);
    step = collection.scan();
  }
  switch (step) {
    case Step::kMessage:
      return kOk;
    case Step::kFailedFilled:
      return kFailed;
    case Step::kFailed:
      free_outgoing_message(msg);
      return kFailed;
    default:
      break;
  }
  if (ctx->BdMode == 0) return 1;
  return collect_database_message(ctx, handle, msg);
}

}  // namespace zz
