// target_path.cpp - building the directories and names of stored files.
#include "incoming/target_path.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "files/file_io.h"
#include "files/file_ops.h"
#include "files/paths.h"
#include "files/tmp_dir.h"
#include "frame/events.h"
#include "host/settings.h"
#include "platform/os.h"
#include "text/masks.h"

namespace zz {
namespace {

bool create_missing(const char *dir) {
  if (is_dir(dir)) return true;
  if (os::current().create_directory(dir)) return true;
  host::report_event(kLevelDetail, OXT_EV_CREATE_DIR, dir);
  return false;
}

bool enter(char *dir) {
  if (!create_missing(dir)) return false;
  append_text(dir, "\\");
  return true;
}

}  // namespace

void append_text(char *buffer, const char *text) {
  size_t have = std::strlen(buffer);
  size_t n = std::strlen(text);
  if (have + n > host::kTextSize - 1) n = host::kTextSize - 1 - have;
  std::memcpy(buffer + have, text, n);
  buffer[have + n] = '\0';
}

bool enter_date_subdir(char grouping, char *dir) {
  if (!add_date_subdir(grouping, dir)) return true;
  return enter(dir);
}

bool enter_named_subdir(const char *name, char *dir) {
  append_text(dir, name);
  return enter(dir);
}

bool enter_new_tmp_subdir(char *dir, char *created) {
  if (!create_tmp_dir(dir, created)) {
    host::report_event(kLevelDetail, OXT_EV_CREATE_DIR, created);
    return false;
  }
  std::memcpy(dir, created, std::strlen(created) + 1);
  append_text(dir, "\\");
  return true;
}

void make_unique_path(char *path) {
  if (!file_exists(path)) return;
  char base[kNameSize];
  char ext[kNameSize];
  split_name_ext(path, base, ext);
  const std::string stem(base);
  const std::string tail(ext);
  for (unsigned counter = 1;; ++counter) {
    // A counter that would not fit shortens the name, never the counter.
    const std::string mark = "~" + std::to_string(counter);
    const size_t room = host::kTextSize - 1;
    std::string suffix = (mark + tail).substr(0, room);
    std::string candidate = stem.substr(0, room - suffix.size()) + suffix;
    if (!file_exists(candidate.c_str())) {
      std::memcpy(path, candidate.c_str(), candidate.size() + 1);
      return;
    }
  }
}

// write_unique - most names are free: the create that refuses a taken name
// is the only look, and the counted names are tried only after a refusal.
int write_unique(char *path, const void *data, uint32_t length) {
  const int written = write_new_file(path, data, length, true);
  if (written >= 0) return written;
  make_unique_path(path);
  return write_to_file(path, data, length);
}

}  // namespace zz
