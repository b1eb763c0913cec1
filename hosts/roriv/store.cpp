// store.cpp - the process's store: settings from roriv_setup, else from
// RORIV_STORE and RORIV_KEY. Every operation of the module that reads
// settings begins by fetching the registry key; that is when the file is
// looked at again, and it is parsed again only when its size, time or
// identity changed. Lookups in between answer from the parsed file.
#include "roriv/store.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "common/cp1251.h"
#include "roriv/event_log.h"

namespace zz::roriv {
namespace {

struct FileStamp {
  long long size = -1;
  long long mtime = 0;
  long long inode = 0;
  bool operator==(const FileStamp &o) const {
    return size == o.size && mtime == o.mtime && inode == o.inode;
  }
};

struct StoreState {
  std::mutex mutex;
  bool configured = false;
  std::string path;
  std::string key;  // UTF-8 as configured
  FileStamp stamp;
  bool loaded = false;
  RegStore store;
  std::string error;
};

StoreState &state() {
  static StoreState s;
  return s;
}

void configure_from_environment(StoreState &s) {
  if (s.configured) return;
  const char *path = std::getenv("RORIV_STORE");
  const char *key = std::getenv("RORIV_KEY");
  s.path = path != nullptr ? path : "";
  s.key = key != nullptr ? key : "";
  s.configured = true;
}

FileStamp stamp_of(const std::string &path, bool *exists) {
  FileStamp stamp;
  struct stat st;
  *exists = ::stat(path.c_str(), &st) == 0;
  if (!*exists) return stamp;
  stamp.size = static_cast<long long>(st.st_size);
#if defined(_WIN32)
  stamp.mtime = static_cast<long long>(st.st_mtime);
#else
  stamp.mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  stamp.inode = static_cast<long long>(st.st_ino);
#endif
  return stamp;
}

// refresh - brings the parsed store in line with the file; called under the lock.
void refresh(StoreState &s) {
  configure_from_environment(s);
  if (s.path.empty()) {
    s.loaded = false;
    s.error = "no store file: set RORIV_STORE or call roriv_setup";
    return;
  }
  bool exists = false;
  FileStamp stamp = stamp_of(s.path, &exists);
  if (!exists) {
    if (s.loaded || s.error.empty() || s.stamp.size != -1) {
      s.error = s.path + ": the store file cannot be found";
      log_line(1, 0, "configuration store refused: " + s.error);
    }
    s.loaded = false;
    s.stamp = FileStamp{};
    return;
  }
  if ((s.loaded || !s.error.empty()) && stamp == s.stamp) return;
  s.stamp = stamp;
  std::ifstream in(s.path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  RegStore parsed;
  std::string error;
  if (!in || !RegStore::parse(bytes.str(), s.path, &parsed, &error)) {
    if (error.empty()) error = s.path + ": the store file cannot be read";
    s.loaded = false;
    s.error = error;
    log_line(1, 0, "configuration store refused: " + error);
    return;
  }
  s.store = std::move(parsed);
  s.loaded = true;
  s.error.clear();
}

}  // namespace

void configure_store(const std::string &path, const std::string &key) {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.configured = true;
  s.path = path;
  s.key = key;
  s.loaded = false;
  s.error.clear();
  s.stamp = FileStamp{};
}

std::optional<RegValue> lookup(const std::string &key, const std::string &name) {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.loaded && s.error.empty()) refresh(s);
  if (!s.loaded) return std::nullopt;
  const RegValue *value = s.store.find(key, name);
  if (value == nullptr) return std::nullopt;
  return *value;
}

std::optional<std::string> host_key() {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  refresh(s);
  if (!s.loaded) return std::nullopt;
  if (s.key.empty()) {
    if (s.store.first_key().empty()) return std::nullopt;
    return s.store.first_key();
  }
  std::string key;
  if (!host_common::utf8_to_cp1251(s.key, &key)) return std::nullopt;
  return key;
}

std::string store_error() {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  refresh(s);
  return s.loaded ? std::string() : s.error;
}

}  // namespace zz::roriv
