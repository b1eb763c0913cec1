// hash_store.cpp - reading and rewriting the ticket hash store.
//
// A store line of 2048 bytes or more cannot be read as a line: the rewrite
// stops there, and that line and the lines after it are kept unchanged
// behind the rewritten ones, so that nothing in the store is lost.
#include "tickets/hash_store.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "files/blocks.h"
#include "files/file_io.h"
#include "files/file_ops.h"
#include "frame/events.h"
#include "host/settings.h"
#include "platform/os.h"
#include "rules/module_paths.h"
#include "text/compare.h"

namespace zz {
namespace {

// normalised_lines - every readable line normalised with CR LF, empty ones
// and those `drop` refuses left out; an unreadable rest is kept as it is
std::string normalised_lines(const uint8_t *data, uint32_t length, const char *drop_prefix) {
  std::string out;
  TextCursor cursor = make_cursor(data, data != nullptr ? length : 0);
  char line[kLineSize];
  for (;;) {
    const TextCursor start = cursor;
    if (!read_line(&cursor, line)) {
      if (start.Left != 0) out.append(reinterpret_cast<const char *>(start.Pos), start.Left);
      return out;
    }
    normalise(line);
    if (line[0] == '\0') continue;
    if (drop_prefix != nullptr && cmp_prefix(line, drop_prefix) == 0) continue;
    out.append(line);
    out.append("\r\n");
  }
}

uint32_t replace_block(const std::string &text, uint8_t **data, uint32_t *length,
                       const char *function) {
  void *block = std::malloc(text.size() + 16);
  if (block == nullptr) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", function);
    return kFailed;
  }
  if (!text.empty()) std::memcpy(block, text.data(), text.size());
  std::free(*data);
  *data = static_cast<uint8_t *>(block);
  *length = static_cast<uint32_t>(text.size());
  return kOk;
}

bool store_path(std::string *path) {
  char dir[host::kTextSize];
  if (get_log_path(dir) != kOk) return false;
  *path = std::string(dir) + kHashStoreName;
  return true;
}

}  // namespace

uint32_t add_hash_to_data(uint8_t **data, uint32_t *length, const char *path, const char *hash) {
  std::string text = normalised_lines(*data, *length, nullptr);
  if (!text.empty() && text.back() != '\n') text.append("\r\n");
  text += std::string(path) + "|" + (hash != nullptr ? hash : "") + "\r\n";
  return replace_block(text, data, length, "add_hash_to_data");
}

uint32_t del_hash_from_data(uint8_t **data, uint32_t *length, const char *path) {
  if (*data == nullptr || *length == 0) return kOk;
  return replace_block(normalised_lines(*data, *length, path), data, length, "del_hash_from_data");
}

int find_hash_entry(TextCursor *cursor, char *path, const char *hash) {
  // An empty hash names no message; it must not match every line.
  const size_t n = hash != nullptr ? std::strlen(hash) : 0;
  char line[kLineSize];
  while (read_line(cursor, line)) {
    char *bar = std::strchr(line, '|');
    if (bar == nullptr || n == 0) continue;
    if (!equal_ascii_ignoring_case(bar + 1, hash, n)) continue;
    *bar = '\0';
    std::memcpy(path, line, std::strlen(line) + 1);
    return 1;
  }
  return 0;
}

uint32_t add_hash_to_file(const char *path, const char *hash) {
  constexpr const char *kFunction = "add_hash_to_file";
  std::string store;
  if (!store_path(&store)) return kFailed;
  Record record;
  if (file_exists(store.c_str()) && !read_from_file(store.c_str(), &record.Data, &record.Length)) {
    report_failure(OXT_EV_READ_FILE, "read_from_file", kFunction, store);
    return kFailed;
  }
  if (add_hash_to_data(&record.Data, &record.Length, path, hash) != kOk) return kFailed;
  if (!write_to_file(store.c_str(), record.Data, record.Length)) {
    report_failure(OXT_EV_WRITE_FILE, "write_to_file", kFunction, store);
    return kFailed;
  }
  return kOk;
}

uint32_t delete_files_and_subdir(const char *path) {
  constexpr const char *kFunction = "delete_files_and_subdir";
  if (!delete_file(path)) {
    report_failure(OXT_EV_DELETE_FILE, "delete_file", kFunction, path);
    return kFailed;
  }
  const char *last = std::strrchr(path, '\\');
  if (last == nullptr) {
    report_failure(OXT_EV_NO_SEPARATOR, "rafter", kFunction, path);
    return kFailed;
  }
  const std::string dir(path, static_cast<size_t>(last - path));
  if (!is_dir(dir.c_str())) {
    report_failure(OXT_EV_NO_DIRECTORY, "!is_dir", kFunction, dir);
    return kFailed;
  }
  {
    const std::string pattern = dir + "\\*";
    os::DirEntry entry;
    auto finder = os::current().find_first(pattern.c_str(), &entry);
    if (finder) {
      do {
        if ((entry.attributes & os::kAttrDirectory) == 0) {
          delete_file((dir + "\\" + entry.name).c_str());
        }
      } while (finder->next(&entry));
    }
  }
  if (!remove_directory(dir.c_str())) {
    report_failure(OXT_EV_REMOVE_DIR, "delete_file", kFunction, dir);
    return kFailed;
  }
  return kOk;
}

uint32_t ticket_hash(const char *hash) {
  constexpr const char *kExport = "OXT_ticket_hash";
  std::string store;
  if (!store_path(&store)) return kFailed;
  if (!file_exists(store.c_str())) return kOk;
  Record original;
  if (!read_from_file(store.c_str(), &original.Data, &original.Length)) {
    report_failure(OXT_EV_READ_FILE, "read_from_file", kExport, store);
    return kFailed;
  }
  // The walk reads the store as it was; the lines are removed from a copy.
  Record copy;
  void *block = nullptr;
  if (create_data(&block, original.Data, original.Length) != kOk) return kFailed;
  copy.Data = static_cast<uint8_t *>(block);
  copy.Length = original.Length;

  bool cleanup_failed = false;
  TextCursor cursor = make_cursor(original.Data, original.Length);
  char path[kLineSize];
  while (find_hash_entry(&cursor, path, hash)) {
    if (delete_files_and_subdir(path) != kOk) cleanup_failed = true;
    if (del_hash_from_data(&copy.Data, &copy.Length, path) != kOk) return kFailed;
  }
  if (copy.Length == 0) {
    delete_file(store.c_str());
  } else if (!write_to_file(store.c_str(), copy.Data, copy.Length)) {
    report_failure(OXT_EV_WRITE_FILE, "write_to_file", kExport, store);
    return kFailed;
  }
  return cleanup_failed ? kFailed : kOk;
}

}  // namespace zz
