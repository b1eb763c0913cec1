// store.cpp - the process's store: settings from roriv_setup, else from
// RORIV_STORE and RORIV_KEY. On Windows a store without a file is the
// registry under HKEY_LOCAL_MACHINE (the key named, else SOFTWARE\Zozerez).
// Every operation of the module that reads settings begins by fetching the
// registry key; that is when the file may be looked at again: at most once
// per RORIV_RECHECK_MS (250 ms unless set; 0: at every fetch), so that a
// change counts within that time. It is parsed again only when its size,
// times or identity changed. Reads in between answer from the parsed file.
// A file read within the file times' resolution of its last change may
// change again without its stamp showing it, so its bytes are compared on
// every fetch until one comes late enough to trust the stamp. A file that
// turns bad or goes away while a good one is loaded is reported once, and the
// good one stays in force.
#include "roriv/store.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "common/cp1251.h"
#include "roriv/event_log.h"
#include "roriv/reader.h"
#if defined(_WIN32)
#include "roriv/registry.h"
#endif

namespace zz::roriv {

std::atomic<uint64_t> g_store_generation{0};

namespace {

// How far apart two writes must be for their file times to differ: the
// kernel's tick on nanosecond file systems, a second for the C runtime's
// stat on Windows (and two for FAT).
#if defined(_WIN32)
constexpr long long kRacyNs = 2000000000LL;
#else
constexpr long long kRacyNs = 20000000LL;
#endif

struct FileStamp {
  long long size = -1;
  long long mtime = 0;  // nanoseconds
  long long ctime = 0;
  long long inode = 0;
  long long device = 0;
  bool operator==(const FileStamp &o) const {
    return size == o.size && mtime == o.mtime && ctime == o.ctime && inode == o.inode &&
           device == o.device;
  }
};

struct StoreState {
  std::mutex mutex;
  bool configured = false;
  std::string path;
  std::string key;  // UTF-8 as configured
  // The key as the module sees it, converted once; empty when the key cannot
  // be written in code page 1251
  std::string key_1251;
  FileStamp stamp;
  bool racy = false;  // the stamp cannot be trusted yet: compare the bytes
  bool loaded = false;
  // The parsed file, shared with the readers' caches; replaced whole when
  // the file changes. g_store_generation names it for readers that take no lock.
  std::shared_ptr<const RegStore> store;
  std::string bytes;  // of the loaded store
  std::string error;  // why the file is refused; the loaded store may still serve
  // The file is looked at again no sooner than this (RORIV_RECHECK_MS).
  std::chrono::steady_clock::duration recheck = std::chrono::milliseconds(250);
  std::chrono::steady_clock::time_point next_look;
};

std::chrono::steady_clock::duration recheck_from_environment() {
  const char *text = std::getenv("RORIV_RECHECK_MS");
  if (text == nullptr || *text == '\0') return std::chrono::milliseconds(250);
  return std::chrono::milliseconds(std::strtoul(text, nullptr, 10));
}

StoreState &state() {
  static StoreState s;
  return s;
}

// set_key - the key as configured (UTF-8) and in the module's code page
void set_key(StoreState &s, std::string key) {
  s.key = std::move(key);
  s.key_1251.clear();
  if (!host_common::utf8_to_cp1251(s.key, &s.key_1251)) s.key_1251.clear();
}

void configure_from_environment(StoreState &s) {
  if (s.configured) return;
  const char *path = std::getenv("RORIV_STORE");
  const char *key = std::getenv("RORIV_KEY");
  s.path = path != nullptr ? path : "";
  set_key(s, key != nullptr ? key : "");
  s.recheck = recheck_from_environment();
  s.configured = true;
}

FileStamp stamp_of(const std::string &path, bool *exists) {
  FileStamp stamp;
  struct stat st;
  *exists = ::stat(path.c_str(), &st) == 0;
  if (!*exists) return stamp;
  stamp.size = static_cast<long long>(st.st_size);
#if defined(_WIN32)
  stamp.mtime = static_cast<long long>(st.st_mtime) * 1000000000LL;
  stamp.ctime = static_cast<long long>(st.st_ctime) * 1000000000LL;
#else
  stamp.mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  stamp.ctime = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
  stamp.inode = static_cast<long long>(st.st_ino);
  stamp.device = static_cast<long long>(st.st_dev);
#endif
  return stamp;
}

bool is_racy(const FileStamp &stamp) {
  const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  return now - std::max(stamp.mtime, stamp.ctime) < kRacyNs;
}

// refuse - the file is unusable; a store loaded before keeps serving
void refuse(StoreState &s, const std::string &error) {
  if (error != s.error) {
    log_line(1, 0,
             "configuration store refused: " + error +
                 (s.loaded ? "; the configuration read before stays in force" : ""));
  }
  s.error = error;
}

#if defined(_WIN32)
// uses_registry - Windows without a store file: every read goes to the registry
bool uses_registry(const StoreState &s) {
  return s.path.empty();
}

std::string registry_key(const StoreState &s) {
  return s.key.empty() ? std::string(kDefaultKey) : s.key_1251;
}
#endif

// refresh - brings the parsed store in line with the file; called under the lock.
void refresh(StoreState &s) {
  configure_from_environment(s);
#if defined(_WIN32)
  // Texts cross in the ANSI code page: anything but 1251 garbles them quietly.
  static const bool code_pages_checked = [] {
    const std::string problem = code_page_problem();
    if (!problem.empty()) log_line(2, 0, problem);
    return true;
  }();
  (void)code_pages_checked;
  if (uses_registry(s)) {
    const std::string error = registry_key_error(registry_key(s));
    if (error.empty()) {
      s.error.clear();
    } else {
      refuse(s, error);
    }
    return;
  }
#endif
  if (s.path.empty()) {
    s.loaded = false;
    g_store_generation.store(0, std::memory_order_release);
    s.error = "no store file: set RORIV_STORE or call roriv_setup";
    return;
  }
  // Each operation asks; the file is looked at once per interval, and on
  // every ask while its last change is too recent for its stamp to be trusted.
  const auto now = std::chrono::steady_clock::now();
  if ((s.loaded || !s.error.empty()) && !s.racy && now < s.next_look) return;
  s.next_look = now + s.recheck;
  bool exists = false;
  FileStamp stamp = stamp_of(s.path, &exists);
  if (!exists) {
    s.stamp = FileStamp{};
    refuse(s, s.path + ": the store file cannot be found");
    return;
  }
  if ((s.loaded || !s.error.empty()) && stamp == s.stamp && !s.racy) return;
  s.stamp = stamp;
  s.racy = is_racy(stamp);
  std::ifstream in(s.path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in) {
    refuse(s, s.path + ": the store file cannot be read");
    return;
  }
  if (s.loaded && s.error.empty() && bytes.str() == s.bytes) return;
  RegStore parsed;
  std::string error;
  if (!RegStore::parse(bytes.str(), s.path, &parsed, &error)) {
    refuse(s, error);
    return;
  }
  s.store = std::make_shared<const RegStore>(std::move(parsed));
  g_store_generation.store(s.store->generation(), std::memory_order_release);
  s.bytes = bytes.str();
  s.loaded = true;
  s.error.clear();
}

}  // namespace

void configure_store(const std::string &path, const std::string &key) {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.configured = true;
  s.path = path;
  set_key(s, key);
  s.recheck = recheck_from_environment();
  s.next_look = {};
  s.loaded = false;
  g_store_generation.store(0, std::memory_order_release);
  s.bytes.clear();
  s.error.clear();
  s.stamp = FileStamp{};
  s.racy = false;
}

StoreInForce store_in_force() {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  configure_from_environment(s);
  StoreInForce in_force;
#if defined(_WIN32)
  if (uses_registry(s)) {
    in_force.registry = true;
    return in_force;
  }
#endif
  if (!s.loaded && s.error.empty()) refresh(s);
  if (s.loaded) in_force.store = s.store;
  return in_force;
}

bool host_key(char *out, size_t size) {
  rewind_reader();
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  refresh(s);
  auto put = [&](std::string_view key) {
    if (key.empty() || key.size() >= size) return false;
    std::memcpy(out, key.data(), key.size());
    out[key.size()] = '\0';
    return true;
  };
#if defined(_WIN32)
  if (uses_registry(s)) return s.error.empty() && put(registry_key(s));
#endif
  if (!s.loaded) return false;
  return put(s.key.empty() ? s.store->first_key() : s.key_1251);
}

std::string store_error() {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  refresh(s);
  return s.error;
}

}  // namespace zz::roriv
