// stored_files.h - where the input rules put files: the files under every
// input rule's directory and the error directory, before and after a store.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zz::gateway {

// rule_paths - the "Path" of every rule of a rule list, as the store gives it
std::vector<std::string> rule_paths(const char *list_name, const char *count_name);
// storage_directories - every input rule's "Path" and "SaveInErrorPath"
std::vector<std::string> storage_directories();
struct FileStamp {
  uint64_t size;
  int64_t seconds, nanoseconds;
  bool operator==(const FileStamp &o) const {
    return size == o.size && seconds == o.seconds && nanoseconds == o.nanoseconds;
  }
};
using Snapshot = std::map<std::string, FileStamp>;

// snapshot - files (with size and change time) below the directories, 4 levels deep
Snapshot snapshot(const std::vector<std::string> &dirs);
// new_files - paths present in `after` and not in `before`, or changed since
std::vector<std::string> new_files(const Snapshot &before, const Snapshot &after);

}  // namespace zz::gateway
