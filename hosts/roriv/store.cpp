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
#if defined(_WIN32)
#include "roriv/registry.h"
#endif

namespace zz::roriv {
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
  FileStamp stamp;
  bool racy = false;  // the stamp cannot be trusted yet: compare the bytes
  bool loaded = false;
  // The parsed file, shared with the readers' caches; replaced whole when
  // the file changes. `generation` names it for readers that take no lock
  // (0: none loaded).
  std::shared_ptr<const RegStore> store;
  std::atomic<uint64_t> generation{0};
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

void configure_from_environment(StoreState &s) {
  if (s.configured) return;
  const char *path = std::getenv("RORIV_STORE");
  const char *key = std::getenv("RORIV_KEY");
  s.path = path != nullptr ? path : "";
  s.key = key != nullptr ? key : "";
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

// refresh - brings the parsed store in line with the file; called under the lock.
// key_1251 - the key as configured, in the module's code page ("" when it
// cannot be written there)
std::string key_1251(const StoreState &s) {
  std::string key;
  if (!host_common::utf8_to_cp1251(s.key, &key)) return "";
  return key;
}

#if defined(_WIN32)
// uses_registry - Windows without a store file: every read goes to the registry
bool uses_registry(const StoreState &s) {
  return s.path.empty();
}

std::string registry_key(const StoreState &s) {
  return s.key.empty() ? std::string(kDefaultKey) : key_1251(s);
}
#endif

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
    s.generation.store(0, std::memory_order_release);
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
  s.generation.store(s.store->generation(), std::memory_order_release);
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
  s.key = key;
  s.recheck = recheck_from_environment();
  s.next_look = {};
  s.loaded = false;
  s.generation.store(0, std::memory_order_release);
  s.bytes.clear();
  s.error.clear();
  s.stamp = FileStamp{};
  s.racy = false;
}

namespace {

// hash_text - FNV-1a over 8-byte words: the texts asked are short and many
uint64_t hash_text(std::string_view text, uint64_t hash) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    hash = (hash ^ word) * 1099511628211ull;
    hash ^= hash >> 29;
  }
  for (; i < text.size(); ++i)
    hash = (hash ^ static_cast<unsigned char>(text[i])) * 1099511628211ull;
  return hash ^ (hash >> 32);
}

// Reader - what one thread read from the store in force, absent values
// included: a read takes no lock and copies nothing. An operation reads the
// same values in the same order every time, so each answer remembers which
// one was asked after it, and a read first tries that one: two compares and
// no hash. Anything else is found through a hash index.
class Reader {
 public:
  // answer - the store's answer to (key, name), asked of it once
  const RegValue *answer(std::string_view key, std::string_view name) {
    if (last_ != kNone) {
      const uint32_t next = entries_[last_].next;
      if (next != kNone && entries_[next].key == key && entries_[next].name == name) {
        last_ = next;
        return entries_[next].value;
      }
    }
    const uint32_t at = find_or_add(key, name);
    if (last_ != kNone) entries_[last_].next = at;
    last_ = at;
    return entries_[at].value;
  }

  // reset - forgets every answer (the store in force changed)
  void reset() {
    entries_.clear();
    index_.assign(512, Slot{});
    last_ = kNone;
  }

  uint64_t generation = 0;
  std::shared_ptr<const RegStore> store;  // kept alive while answers point into it
  RegValue fetched;                       // a value read from the registry

 private:
  static constexpr uint32_t kNone = ~0u;
  static constexpr size_t kMostEntries = 4096;  // a caller asking ever new names starts afresh

  struct Entry {
    std::string key, name;
    const RegValue *value;
    uint32_t next = kNone;
  };
  struct Slot {
    uint64_t hash = 0;
    uint32_t entry = kNone;
  };

  uint32_t find_or_add(std::string_view key, std::string_view name) {
    const uint64_t hash = hash_text(name, hash_text(key, 14695981039346656037ull) ^ key.size());
    size_t mask = index_.size() - 1;
    size_t at = hash & mask;
    for (; index_[at].entry != kNone; at = (at + 1) & mask) {
      const Entry &e = entries_[index_[at].entry];
      if (index_[at].hash == hash && e.key == key && e.name == name) return index_[at].entry;
    }
    if (entries_.size() >= kMostEntries) {
      reset();
      return find_or_add(key, name);
    }
    // The index stays at most half full.
    if ((entries_.size() + 1) * 2 > index_.size()) {
      grow();
      mask = index_.size() - 1;
      for (at = hash & mask; index_[at].entry != kNone;) at = (at + 1) & mask;
    }
    const auto entry = static_cast<uint32_t>(entries_.size());
    entries_.push_back(Entry{std::string(key), std::string(name), store->find(key, name)});
    index_[at] = Slot{hash, entry};
    return entry;
  }

  void grow() {
    std::vector<Slot> old(index_.size() * 2);
    old.swap(index_);
    const size_t mask = index_.size() - 1;
    for (const Slot &slot : old) {
      if (slot.entry == kNone) continue;
      size_t at = slot.hash & mask;
      while (index_[at].entry != kNone) at = (at + 1) & mask;
      index_[at] = slot;
    }
  }

  std::vector<Entry> entries_;
  std::vector<Slot> index_ = std::vector<Slot>(512);
  uint32_t last_ = kNone;
};

}  // namespace

namespace {

// reader - this thread's Reader. Every configuration read comes here, so the
// pointer to it sits in the static TLS block (one load, no call into the
// dynamic loader); the Reader itself lives in an ordinary thread_local.
Reader &reader() {
#if defined(_WIN32)
  thread_local Reader own;
  return own;
#else
  static thread_local Reader *fast __attribute__((tls_model("initial-exec"))) = nullptr;
  if (fast == nullptr) {
    thread_local Reader own;
    fast = &own;
  }
  return *fast;
#endif
}

}  // namespace

const RegValue *lookup(std::string_view key, std::string_view name) {
  StoreState &s = state();
  Reader &r = reader();
  const uint64_t generation = s.generation.load(std::memory_order_acquire);
  if (generation == 0 || generation != r.generation) {
    std::lock_guard<std::mutex> lock(s.mutex);
    configure_from_environment(s);
#if defined(_WIN32)
    if (uses_registry(s)) {
      auto value = registry_value(std::string(key), std::string(name));
      if (!value) return nullptr;
      r.fetched = std::move(*value);
      return &r.fetched;
    }
#endif
    if (!s.loaded && s.error.empty()) refresh(s);
    if (!s.loaded) return nullptr;
    r.store = s.store;
    r.generation = s.store->generation();
    r.reset();
  }
  return r.answer(key, name);
}

std::optional<std::string> host_key() {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  refresh(s);
#if defined(_WIN32)
  if (uses_registry(s)) {
    if (!s.error.empty()) return std::nullopt;
    return registry_key(s);
  }
#endif
  if (!s.loaded) return std::nullopt;
  if (s.key.empty()) {
    if (s.store->first_key().empty()) return std::nullopt;
    return s.store->first_key();
  }
  std::string key = key_1251(s);
  if (key.empty()) return std::nullopt;
  return key;
}

std::string store_error() {
  StoreState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  refresh(s);
  return s.error;
}

}  // namespace zz::roriv
