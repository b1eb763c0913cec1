// find_directory.cpp - send directories are claimed by moving their
// descriptor to a working name: of several callers exactly one move
// succeeds, and the working name keeps the directory from every later scan
// and the descriptor out of the attachments.
#include "outgoing/find_directory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "completion/notification.h"
#include "files/blocks.h"
#include "files/file_io.h"
#include "files/file_ops.h"
#include "files/paths.h"
#include "frame/context.h"
#include "frame/events.h"
#include "host/settings.h"
#include "incoming/target_path.h"
#include "outgoing/outgoing_record.h"
#include "outgoing/send_request.h"
#include "platform/os.h"
#include "rules/module_paths.h"
#include "text/names.h"

namespace zz {
namespace {

constexpr const char *kFunction = "find_directory";
constexpr uint32_t kSecondsPerMinute = 60;

enum class Due { kNow, kLater, kUsedUp };

// due_state - guaranteed delivery waits RepeatTimeout minutes after CurrentTime;
// a due request without RepeatNumber has used up its repeats
Due due_state(TextCursor descriptor) {
  uint32_t timeout = 0;
  if (!find_number(descriptor, "RepeatTimeout", &timeout, kBodyMarker) || timeout == 0) {
    return Due::kNow;
  }
  uint32_t last = 0;
  const uint32_t now = static_cast<uint32_t>(os::current().unix_time());
  if (find_number(descriptor, "CurrentTime", &last, kBodyMarker) && last != 0 &&
      last + kSecondsPerMinute * timeout > now) {
    return Due::kLater;
  }
  uint32_t repeats = 0;
  if (!find_number(descriptor, "RepeatNumber", &repeats, kBodyMarker)) return Due::kUsedUp;
  return Due::kNow;
}

// move_used_up - the request goes to the bad-files directory and the
// administrator is told; false only when the notification fails
bool move_used_up(const std::string &source, const std::string &dir_path,
                  const std::string &dir_name) {
  char bad_dir[host::kTextSize];
  uint32_t bad_on = 0;
  if (get_config_dir_store_bad_files(bad_dir, &bad_on) != 0 || !bad_on) return true;
  const std::string moved = std::string(bad_dir) + dir_name;
  rename_file(dir_path.c_str(), moved.c_str());
  char address[host::kTextSize];
  char type[kAdminTypeSize];
  uint32_t notify = 0;
  if (get_config_admin_address(address, type, &notify) != 0 || !notify) return true;
  char output_dir[host::kTextSize];
  std::snprintf(output_dir, sizeof output_dir, "%s", source.c_str());
  strip_backslash(output_dir);
  if (!is_dir(output_dir)) return true;
  return send_notification(output_dir, address, type, moved.c_str()) == 0;
}

bool read_recipients(TextCursor descriptor, SendDirectory *out) {
  uint32_t wanted = count_values(descriptor, "Email", kBodyMarker);
  if (wanted == 0) return true;
  char value[kLineSize];
  if (wanted > 1 && find_value(descriptor, value, "SeparateSending", kBodyMarker)) wanted = 1;
  auto *entries = static_cast<AddressEntry *>(std::calloc(wanted, sizeof(AddressEntry)));
  if (entries == nullptr) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", kFunction);
    return false;
  }
  out->Recipients = entries;
  TextCursor cursor = descriptor;
  while (out->RecipientCount < wanted && find_next_value(&cursor, value, "Email", kBodyMarker)) {
    if (make_descriptor_address(value, &entries[out->RecipientCount]) != kOk) return false;
    ++out->RecipientCount;
  }
  return true;
}

bool read_sender(TextCursor descriptor, SendDirectory *out) {
  char value[kLineSize];
  if (!find_value(descriptor, value, "From", kBodyMarker)) return true;
  auto *entry = static_cast<AddressEntry *>(std::calloc(1, sizeof(AddressEntry) + kSpareBytes));
  if (entry == nullptr) return true;  // no sender, not a failure
  if (make_descriptor_address(value, entry) != kOk) {
    std::free(entry);
    return false;
  }
  out->Sender = entry;
  return true;
}

bool read_body(TextCursor descriptor, SendDirectory *out) {
  if (!skip_past(&descriptor, kBodyMarker) || descriptor.Left == 0) return true;
  void *block = nullptr;
  if (create_data(&block, descriptor.Pos, descriptor.Left) != kOk) return false;
  out->Body = static_cast<uint8_t *>(block);
  out->BodyLength = descriptor.Left;
  return true;
}

// read_attachments - false for a failure; `unreadable` when a file could not be read
bool read_attachments(const std::string &dir_path, SendDirectory *out, bool *unreadable) {
  const std::string pattern = dir_path + "*";
  const uint32_t wanted = count_files(pattern.c_str());
  if (wanted == 0) return true;
  auto *files = static_cast<FileEntry *>(std::calloc(wanted, sizeof(FileEntry)));
  if (files == nullptr) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", kFunction);
    return false;
  }
  out->Files = files;
  os::DirEntry entry;
  auto finder = os::current().find_first(pattern.c_str(), &entry);
  if (!finder) return true;
  do {
    if ((entry.attributes & os::kAttrDirectory) != 0 || entry.name == "." || entry.name == "..")
      continue;
    if (is_work_name(entry.name.c_str())) continue;
    const std::string path = dir_path + entry.name;
    FileEntry &file = files[out->FileCount];
    if (!read_from_file(path.c_str(), &file.Data, &file.Length)) {
      report_failure(OXT_EV_READ_FILE, "read_from_file", kFunction, path);
      *unreadable = true;
      return true;
    }
    ++out->FileCount;
    if (create_string(&file.CopyPath, path.c_str()) != kOk ||
        create_string(&file.Name, entry.name.c_str()) != kOk) {
      return false;
    }
  } while (out->FileCount < wanted && finder->next(&entry));
  return true;
}

// take - builds the outputs of a claimed send directory: 0, 2 or -1
int32_t take(TextCursor descriptor, const std::string &pickup, const char *work,
             const std::string &dir_path, const std::string &name, SendDirectory *out) {
  bool unreadable = false;
  char subject[kLineSize];
  bool ok = create_string(&out->InfoPickupPath, pickup.c_str()) == kOk &&
            create_string(&out->InfoWorkPath, work) == kOk;
  if (ok && find_value(descriptor, subject, "Subject", kBodyMarker)) {
    ok = create_string(&out->Subject, subject) == kOk;
  }
  if (ok) out->Protection = protection_word(descriptor);
  ok = ok && read_recipients(descriptor, out) && read_sender(descriptor, out) &&
       read_body(descriptor, out) && read_attachments(dir_path, out, &unreadable);
  std::string without_separator = dir_path.substr(0, dir_path.size() - 1);
  ok = ok && create_string(&out->SendDirName, name.c_str()) == kOk &&
       create_string(&out->SendDirPath, without_separator.c_str()) == kOk;
  if (!ok) {
    // Nothing is handed out; the descriptor goes back to its pickup name
    // when that is still free, so the request is not stranded.
    release_send_directory(out);
    rename_file(work, pickup.c_str());
    return -1;
  }
  return unreadable ? 2 : 0;
}

}  // namespace

void release_send_directory(SendDirectory *dir) {
  free_file_entries(dir->Files, dir->FileCount);
  free_pairs(dir->Recipients, dir->RecipientCount);
  free_pairs(dir->Sender, dir->Sender != nullptr ? 1 : 0);
  std::free(dir->Subject);
  std::free(dir->Body);
  free_quad(dir->InfoPickupPath, dir->InfoWorkPath, dir->SendDirPath, dir->SendDirName);
  *dir = SendDirectory{};
}

int32_t find_directory(GetFileCtx *ctx, const char *directory, SendDirectory *out) {
  *out = SendDirectory{};
  char source[host::kTextSize];
  std::snprintf(source, sizeof source, "%s", directory);
  if (source[0] == '\0') return 1;
  if (source[std::strlen(source) - 1] != '\\') append_text(source, "\\");
  const std::string pattern = std::string(source) + "*";
  os::DirEntry entry;
  auto finder = os::current().find_first(pattern.c_str(), &entry);
  if (!finder) return 1;
  SkipIndex skip(ctx, kSkipDescriptor);
  do {
    if (entry.name == "." || entry.name == ".." || (entry.attributes & os::kAttrDirectory) == 0)
      continue;
    const std::string dir_path = std::string(source) + entry.name + "\\";
    const std::string pickup = dir_path + kDescriptorName;
    if (skip.holds(pickup)) continue;
    if (!file_exists(pickup.c_str())) continue;
    uint8_t *data = nullptr;
    uint32_t length = 0;
    if (!read_file_once(pickup.c_str(), &data, &length)) continue;
    Owned<uint8_t> text(data);
    const TextCursor descriptor = make_cursor(text.get(), length);
    const Due due = due_state(descriptor);
    if (due == Due::kLater) continue;
    if (due == Due::kUsedUp) {
      if (!move_used_up(source, dir_path.substr(0, dir_path.size() - 1), entry.name)) return -1;
      continue;
    }
    char work[host::kTextSize];
    make_work_name(dir_path.c_str(), work);
    if (!rename_file(pickup.c_str(), work)) continue;
    return take(descriptor, pickup, work, dir_path, entry.name, out);
  } while (finder->next(&entry));
  return 1;
}

}  // namespace zz
