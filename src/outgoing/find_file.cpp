// find_file.cpp - a loose file is read first and then claimed: the move to a
// working name decides ownership, so of several callers reading the same
// file only the one whose move succeeds hands it out, with what it read.
#include "outgoing/find_file.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "files/blocks.h"
#include "files/file_io.h"
#include "files/file_ops.h"
#include "files/paths.h"
#include "frame/context.h"
#include "frame/events.h"
#include "host/settings.h"
#include "incoming/target_path.h"
#include "platform/os.h"
#include "text/masks.h"
#include "text/names.h"

namespace zz {
namespace {

constexpr const char *kFunction = "find_file";

bool is_dot_name(const std::string &name) {
  return name == "." || name == "..";
}

// hand_out - the one entry of a claimed file; on failure the file stays
// claimed under its working name, where no scan finds it, unless its
// pickup name is still free to move it back to
int32_t hand_out(const std::string &name, Owned<uint8_t> content, uint32_t length,
                 const std::string &pickup, const char *work, FileEntry **files, uint32_t *count) {
  Owned<FileEntry> entry(static_cast<FileEntry *>(std::calloc(1, sizeof(FileEntry) + kSpareBytes)));
  if (!entry) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", kFunction);
    rename_file(work, pickup.c_str());
    return -1;
  }
  if (create_string(&entry->Name, name.c_str()) != kOk) {
    rename_file(work, pickup.c_str());
    free_file_entries(entry.release(), 1);
    return -1;
  }
  entry->Data = content.release();
  entry->Length = length;
  if (create_string(&entry->PickupPath, pickup.c_str()) != kOk ||
      create_string(&entry->WorkPath, work) != kOk) {
    rename_file(work, pickup.c_str());
    free_file_entries(entry.release(), 1);
    return -1;
  }
  *files = entry.release();
  *count = 1;
  return 0;
}

}  // namespace

int32_t find_file(GetFileCtx *ctx, const char *directory, FileEntry **files, uint32_t *count,
                  const char *mask, bool *subdirectories) {
  bool seen_directory = false;
  // Until the listing ends, there may be directories not yet seen.
  if (subdirectories != nullptr) *subdirectories = true;
  char dir[host::kTextSize];
  std::snprintf(dir, sizeof dir, "%s", directory);
  if (dir[0] == '\0') return 1;
  if (dir[std::strlen(dir) - 1] != '\\') append_text(dir, "\\");
  const std::string pattern = std::string(dir) + "*";
  os::DirEntry entry;
  auto finder = os::current().find_first(pattern.c_str(), &entry);
  if (!finder) {
    if (subdirectories != nullptr) *subdirectories = false;
    return 1;
  }
  SkipIndex skip(ctx, kSkipFile);
  std::string pickup;
  do {
    if (is_dot_name(entry.name)) continue;
    if ((entry.attributes & os::kAttrDirectory) != 0) {
      seen_directory = true;
      continue;
    }
    if (is_work_name(entry.name.c_str())) continue;
    if (mask[0] != '\0' && match_mask(mask, entry.name.c_str()) != 0) continue;
    pickup.assign(dir).append(entry.name);
    if (skip.holds(pickup)) continue;
    uint8_t *data = nullptr;
    uint32_t length = 0;
    bool read_only = false;
    if (!read_file_once(pickup.c_str(), &data, &length, &read_only)) continue;
    Owned<uint8_t> content(data);
    char work[host::kTextSize];
    make_work_name(dir, work);
    // The open just saw the attribute: it is looked at again only when set.
    if (read_only ? !rename_file(pickup.c_str(), work)
                  : !rename_writable_file(pickup.c_str(), work)) {
      continue;
    }
    return hand_out(entry.name, std::move(content), length, pickup, work, files, count);
  } while (finder->next(&entry));
  if (subdirectories != nullptr) *subdirectories = seen_directory;
  return 1;
}

}  // namespace zz
