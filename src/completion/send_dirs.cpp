// send_dirs.cpp - making send directories. The descriptor is always written
// last, after every file is in place, so that the send-request scan never
// claims a directory whose files are still arriving.
#include "completion/send_dirs.h"

#include <cstdlib>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/blocks.h"
#include "files/file_io.h"
#include "files/file_ops.h"
#include "files/tmp_dir.h"
#include "frame/context.h"
#include "frame/events.h"
#include "host/settings.h"
#include "incoming/target_path.h"
#include "outgoing/send_request.h"
#include "platform/os.h"
#include "text/masks.h"
#include "text/names.h"

namespace zz {
namespace {

enum class Request { kPlain, kSeparate, kGuaranteed };

std::string descriptor_text(Request request, uint32_t address_count, uint32_t repeat_number,
                            uint32_t repeat_timeout, const char *subject,
                            const AddressEntry *addresses) {
  char line[host::kTextSize * 2 + 64];
  std::string text;
  if (request == Request::kSeparate) {
    std::snprintf(line, sizeof line, "%s:%d\r\n", "SeparateSending",
                  static_cast<int>(address_count));
    text += line;
  } else if (request == Request::kGuaranteed) {
    std::snprintf(line, sizeof line, "%s:%d\r\n", "RepeatNumber", static_cast<int>(repeat_number));
    text += line;
    std::snprintf(line, sizeof line, "%s:%d\r\n", "RepeatTimeout",
                  static_cast<int>(repeat_timeout));
    text += line;
  }
  const bool no_subject = subject == nullptr || *subject == '\0';
  text += std::string("Subject:") + (no_subject ? " " : subject) + "\r\n";
  for (uint32_t i = 0; i < address_count; ++i) {
    const char *type = addresses[i].Type != nullptr ? addresses[i].Type : "";
    const char *address = addresses[i].Address != nullptr ? addresses[i].Address : "";
    text += std::string("Email:") + type + ":" + address + "\r\n";
  }
  return text;
}

bool write_descriptor(const char *dir, const std::string &text, const char *step,
                      const char *function) {
  const std::string path = std::string(dir) + "\\" + kDescriptorName;
  if (write_to_file(path.c_str(), text.data(), static_cast<uint32_t>(text.size()))) return true;
  report_failure(OXT_EV_WRITE_FILE, step, function, path);
  return false;
}

bool is_candidate(GetFileCtx *ctx, const os::DirEntry &entry, const std::string &path,
                  const char *mask) {
  if ((entry.attributes & os::kAttrDirectory) != 0 || entry.name == "." || entry.name == "..")
    return false;
  if (is_work_name(entry.name.c_str())) return false;
  if (mask != nullptr && mask[0] != '\0' && match_mask(mask, entry.name.c_str()) != 0) return false;
  return !skip_list_holds(ctx, kSkipFile, path.c_str());
}

}  // namespace

int32_t group_files_to_subdir(GetFileCtx *ctx, const char *directory, const AddressEntry *addresses,
                              uint32_t address_count, const char *mask, const SendOptions &options,
                              const char *subject) {
  constexpr const char *kFunction = "group_files_to_subdir";
  char source[host::kTextSize];
  std::snprintf(source, sizeof source, "%s", directory);
  if (source[0] == '\0') return 1;
  if (source[std::strlen(source) - 1] != '\\' && source[std::strlen(source) - 1] != '/') {
    append_text(source, "\\");
  }
  const std::string pattern = std::string(source) + "*";
  os::DirEntry entry;
  auto finder = os::current().find_first(pattern.c_str(), &entry);
  if (!finder) return 1;

  char send_dir[host::kTextSize] = "";
  bool created = false;
  uint32_t grouped = 0;
  uint32_t total = 0;
  // Sizes and the limit in bytes are 32-bit, as the files they count.
  const uint32_t size_limit = options.SizeFileLimit * 1024u;
  do {
    const std::string path = std::string(source) + entry.name;
    if (!is_candidate(ctx, entry, path, mask)) continue;
    uint32_t size = 0;
    if (!get_file_size(path.c_str(), &size)) continue;
    if (grouped + 1 > options.NumFileLimit) {
      if (grouped != 0) break;
      continue;
    }
    if (size + total > size_limit) continue;
    if (!created) {
      if (!create_tmp_dir(source, send_dir)) {
        report_failure(OXT_EV_CREATE_DIR, "CreateDirectory", kFunction, send_dir);
        return -1;
      }
      created = true;
    }
    const std::string target = std::string(send_dir) + "\\" + entry.name;
    if (!rename_file(path.c_str(), target.c_str())) {
      report_failure(OXT_EV_RENAME, "rename_file", kFunction, path, target);
      host::signal_failure();
      continue;
    }
    ++grouped;
    total += size;
  } while (finder->next(&entry));
  finder.reset();

  if (grouped == 0) {
    if (created) remove_directory(send_dir);
    return 1;
  }
  Request request = Request::kPlain;
  if (options.SendSeparately && address_count >= 2) {
    request = Request::kSeparate;
  } else if (options.GarantedDelivery) {
    request = Request::kGuaranteed;
  }
  const std::string text = descriptor_text(request, address_count, options.IterationNum,
                                           options.TimeInterval, subject, addresses);
  return write_descriptor(send_dir, text, "write_to_file", kFunction) ? 0 : -1;
}

int32_t create_dir_for_send_file(uint32_t mode, const char *directory, FileEntry *files,
                                 uint32_t count, const AddressEntry *addresses,
                                 uint32_t address_count, uint32_t repeat_number,
                                 uint32_t repeat_timeout, const char *subject) {
  constexpr const char *kFunction = "create_dir_for_send_file";
  char send_dir[host::kTextSize];
  if (!create_tmp_dir(directory, send_dir)) {
    report_failure(OXT_EV_CREATE_DIR, "CreateDirectory", kFunction, send_dir);
    return -1;
  }
  std::vector<std::string> written;
  auto undo = [&] {
    for (const std::string &path : written) delete_file(path.c_str());
    remove_directory(send_dir);
    return -1;
  };
  for (uint32_t i = 0; i < count; ++i) {
    const std::string path =
        std::string(send_dir) + "\\" + (files[i].Name != nullptr ? files[i].Name : "");
    if (!write_to_file(path.c_str(), files[i].Data, files[i].Length)) {
      report_failure(OXT_EV_WRITE_FILE, "write_to_file", kFunction, path);
      return undo();
    }
    written.push_back(path);
    std::free(files[i].CopyPath);
    files[i].CopyPath = nullptr;
    if (create_string(&files[i].CopyPath, path.c_str()) != kOk) return undo();
  }
  const Request request = mode == kSeparateSending ? Request::kSeparate : Request::kGuaranteed;
  const std::string text =
      descriptor_text(request, address_count, repeat_number, repeat_timeout, subject, addresses);
  if (!write_descriptor(send_dir, text, "write_to_file(2)", kFunction)) return undo();
  return 0;
}

}  // namespace zz
