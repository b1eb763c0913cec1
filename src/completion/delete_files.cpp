// delete_files.cpp - completion of a sent, failed or postponed message.
// A send request with separate sending loses one address per successful
// send; one with guaranteed delivery is stamped with the hash and time of
// the copy sent and comes back when its interval has passed, until a receipt
// or its last repeat ends it.
#include "completion/delete_files.h"

#include <cstdlib>
#include <string>

#include "completion/notification.h"
#include "files/blocks.h"
#include "files/file_io.h"
#include "files/file_ops.h"
#include "frame/context.h"
#include "frame/events.h"
#include "host/database.h"
#include "host/settings.h"
#include "outgoing/send_request.h"
#include "platform/os.h"
#include "rules/module_paths.h"
#include "text/header_edit.h"
#include "tickets/hash_store.h"

namespace zz {
namespace {

constexpr const char *kExport = "OXT_delete_files";
constexpr int kReleaseAttempts = 6;

// release_database_message - six attempts, waiting 1, 2, 4, 8 and 16 seconds
int32_t release_database_message(GetFileCtx *ctx, bool sent, const char *hash) {
  uint32_t pause = 1000;
  for (int attempt = 1; attempt <= kReleaseAttempts; ++attempt) {
    if (host::db_free(ctx->BdHandle, &ctx->OutMsg, sent ? 1 : 0, sent ? hash : "")) return 0;
    if (attempt < kReleaseAttempts) {
      os::current().sleep_ms(pause);
      pause *= 2;
    }
  }
  report_failure(OXT_EV_BD_FREE, "BdFreeMsg", kExport);
  return -1;
}

// Descriptor - the claimed send request's text and what it asks for.
struct Descriptor {
  Record text;
  bool separate = false;
  bool guaranteed = false;
  uint32_t repeats = 0;

  // edit_email - one of the "Email" edits; false after the edit reported
  bool edit_email(int mode) {
    return del_first_string_upto_mask(mode, &text.Data, &text.Length, "Email", kBodyMarker) == kOk;
  }

  bool stamp(const char *hash, uint32_t time) {
    return replace_repeat_info(&text.Data, &text.Length, hash, time, repeats - 1, kBodyMarker) ==
           kOk;
  }
};

bool read_descriptor(const OutgoingMessage &msg, Descriptor *d) {
  if (msg.InfoWorkPath == nullptr) return true;
  if (!read_from_file(msg.InfoWorkPath, &d->text.Data, &d->text.Length)) {
    report_failure(OXT_EV_READ_FILE, "read_from_file", kExport, msg.InfoWorkPath);
    return false;
  }
  const TextCursor text = make_cursor(d->text.Data, d->text.Length);
  char value[kLineSize];
  d->separate = find_value(text, value, "SeparateSending", kBodyMarker) &&
                count_values(text, "Email", kBodyMarker) > 1;
  uint32_t timeout = 0;
  d->guaranteed = find_number(text, "RepeatNumber", &d->repeats, kBodyMarker) && d->repeats != 0 &&
                  find_number(text, "RepeatTimeout", &timeout, kBodyMarker) && timeout != 0;
  return true;
}

bool write_back(const OutgoingMessage &msg, const Descriptor &d, const char *step) {
  if (write_to_file(msg.InfoWorkPath, d.text.Data, d.text.Length)) return true;
  report_failure(OXT_EV_WRITE_FILE, step, kExport, msg.InfoWorkPath);
  return false;
}

bool move_back(const OutgoingMessage &msg, const char *step) {
  if (rename_file(msg.InfoWorkPath, msg.InfoPickupPath)) return true;
  report_failure(OXT_EV_RENAME, step, kExport, msg.InfoWorkPath, msg.InfoPickupPath);
  return false;
}

void delete_message_files(const OutgoingMessage &msg) {
  for (uint32_t i = 0; i < msg.NumberFile; ++i) {
    if (msg.File[i].WorkPath != nullptr) delete_file(msg.File[i].WorkPath);
    if (msg.File[i].CopyPath != nullptr) delete_file(msg.File[i].CopyPath);
  }
  if (msg.InfoWorkPath != nullptr) delete_file(msg.InfoWorkPath);
  if (msg.SendDirPath != nullptr) remove_directory(msg.SendDirPath);
}

int32_t complete_sent(const OutgoingMessage &msg, Descriptor &d, const char *hash) {
  if (d.separate) {
    if (!d.edit_email(kDeleteFirst)) return -1;
  } else if (d.guaranteed) {
    if (!d.stamp(hash, static_cast<uint32_t>(os::current().unix_time()))) return -1;
  } else {
    delete_message_files(msg);
    return 0;
  }
  if (!write_back(msg, d, "write_to_file") || !move_back(msg, "rename_file")) return -1;
  if (d.guaranteed && add_hash_to_file(msg.InfoPickupPath, hash != nullptr ? hash : "") != kOk) {
    return -1;
  }
  return 0;
}

// notify_administrator - when configured, a notification request in the
// output directory the send directory stood in
int32_t notify_administrator(const OutgoingMessage &msg, const std::string &moved) {
  char address[host::kTextSize];
  char type[kAdminTypeSize];
  uint32_t on = 0;
  if (get_config_admin_address(address, type, &on) != kOk || !on) return 0;
  if (msg.SendDirPath == nullptr || msg.SendDirName == nullptr || msg.NumberFile == 0) return 0;
  const std::string dir_path = msg.SendDirPath;
  const size_t name_length = std::string(msg.SendDirName).size();
  if (dir_path.size() <= name_length + 1) return 0;
  const std::string parent = dir_path.substr(0, dir_path.size() - name_length - 1);
  if (!is_dir(parent.c_str())) return 0;
  return send_notification(parent.c_str(), address, type, moved.c_str()) == 0 ? 0 : -1;
}

int32_t complete_failed(const OutgoingMessage &msg, Descriptor &d, const char *bad_dir) {
  if (d.separate) {
    // The request goes on with its other addresses; the bad-files directory
    // keeps copies of what the failed address was to receive.
    if (!d.edit_email(kDeleteFirst) || !write_back(msg, d, "write_to_file_2") ||
        !move_back(msg, "rename_file_2")) {
      return -1;
    }
    for (uint32_t i = 0; i < msg.NumberFile; ++i) {
      const std::string copy = std::string(bad_dir) + (msg.File[i].Name ? msg.File[i].Name : "");
      if (!write_to_file(copy.c_str(), msg.File[i].Data, msg.File[i].Length)) {
        report_failure(OXT_EV_WRITE_FILE, "write_to_file_3", kExport, copy);
        return -1;
      }
    }
    return 0;
  }
  for (uint32_t i = 0; i < msg.NumberFile; ++i) {
    if (msg.File[i].WorkPath == nullptr) continue;
    const std::string target = std::string(bad_dir) + (msg.File[i].Name ? msg.File[i].Name : "");
    rename_file(msg.File[i].WorkPath, target.c_str());
  }
  std::string moved;
  if (msg.SendDirPath != nullptr && msg.SendDirName != nullptr) {
    moved = std::string(bad_dir) + msg.SendDirName;
    rename_file(msg.SendDirPath, moved.c_str());
  }
  return notify_administrator(msg, moved);
}

int32_t put_back(GetFileCtx *ctx, const OutgoingMessage &msg, Descriptor &d) {
  // The first address goes behind the others, so the next try starts with the next one.
  if (d.separate && (!d.edit_email(kMoveFirst) || !write_back(msg, d, "write_to_file_3"))) {
    return -1;
  }
  for (uint32_t i = 0; i < msg.NumberFile; ++i) {
    const FileEntry &f = msg.File[i];
    if (f.WorkPath == nullptr || f.PickupPath == nullptr) continue;
    append_skip_node(ctx, kSkipFile, f.PickupPath);
    rename_file(f.WorkPath, f.PickupPath);
  }
  if (msg.InfoWorkPath != nullptr && msg.InfoPickupPath != nullptr) {
    append_skip_node(ctx, kSkipDescriptor, msg.InfoPickupPath);
    rename_file(msg.InfoWorkPath, msg.InfoPickupPath);
  }
  return 0;
}

}  // namespace

int32_t delete_files(GetFileCtx *ctx, OutgoingMessage *msg, uint32_t status, const char *hash) {
  if (ctx->BdMode != 0 && ctx->OutMsgHeld != 0) {
    return release_database_message(ctx, status == kStatusSent, hash != nullptr ? hash : "");
  }
  Descriptor descriptor;
  if (!read_descriptor(*msg, &descriptor)) return -1;
  if (status == kStatusSent) return complete_sent(*msg, descriptor, hash);
  if (status == kStatusFailed) {
    char bad_dir[host::kTextSize];
    uint32_t on = 0;
    if (get_config_dir_store_bad_files(bad_dir, &on) == kOk && on) {
      return complete_failed(*msg, descriptor, bad_dir);
    }
  }
  return put_back(ctx, *msg, descriptor);
}

}  // namespace zz
