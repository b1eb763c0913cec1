// file_ops.cpp - existence tests, deletes and moves through the OS layer.
#include "files/file_ops.h"

#include <cstring>
#include <string>

#include "files/paths.h"
#include "platform/os.h"

namespace zz {
namespace {
constexpr size_t kVolumeTestLimit = 260;
}

int file_exists(const char *path) {
  os::DirEntry entry;
  return os::current().find_first(path, &entry) ? 1 : 0;
}

int is_dir(const char *path) {
  os::DirEntry entry;
  if (os::current().find_first(path, &entry)) {
    return (entry.attributes & os::kAttrDirectory) != 0 ? 1 : 0;
  }
  size_t length = std::strlen(path);
  if (length >= kVolumeTestLimit) return 0;
  std::string root(path, length);
  if (root.empty() || !is_separator(root.back())) root.push_back('\\');
  return os::current().is_volume_root(root.c_str()) ? 1 : 0;
}

void clear_read_only(const char *path) {
  uint32_t attributes = 0;
  if (os::current().get_attributes(path, &attributes) && (attributes & os::kAttrReadOnly) != 0) {
    os::current().set_attributes(path, attributes & ~os::kAttrReadOnly);
  }
}

int delete_file(const char *path) {
  // Where a read-only file cannot be deleted (Windows), it is made writable
  // and deleted again; where it can, the attribute is never looked at.
  if (os::current().delete_file(path)) return 1;
  clear_read_only(path);
  return os::current().delete_file(path) ? 1 : 0;
}

int remove_directory(const char *path) {
  clear_read_only(path);
  return os::current().remove_directory(path) ? 1 : 0;
}

int rename_file(const char *old_path, const char *new_path) {
  clear_read_only(old_path);
  return rename_writable_file(old_path, new_path);
}

int rename_writable_file(const char *old_path, const char *new_path) {
  return os::current().move_file(old_path, new_path) ? 1 : 0;
}

}  // namespace zz
