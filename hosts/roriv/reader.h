// reader.h - a thread's answers to configuration reads from the store in
// force, absent values included: a read takes no lock and copies nothing.
// An operation reads the same values in the same order every time it runs,
// so the reader keeps the order of the last run (rewound when an operation
// fetches the registry key) and a read first tries the value at its place in
// that run: two string compares, no hash, no call but strcmp. Anything else
// goes the slower way (reader.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "roriv/reg_store.h"

namespace zz::roriv {

// The generation of the store in force; 0 when none is loaded (or the
// Windows registry answers). Bumped when a changed file is swapped in.
extern std::atomic<uint64_t> g_store_generation;

class Reader {
 public:
  // expected - whether (key, name) is the read at this place of the last
  // run; if so the answer is in *value and the run moves on
  bool expected(const char *key, const char *name, const RegValue **value) {
    const Slot *slot = next_;
    if (slot == end_) return false;
    if (std::strcmp(slot->key, key) != 0 || std::strcmp(slot->name, name) != 0) return false;
    next_ = slot + 1;
    *value = slot->value;
    return true;
  }

  // answer - the store's answer to (key, name), asked of it once
  const RegValue *answer(const char *key, const char *name);
  // rewind - an operation begins: its reads are expected in the last run's order
  void rewind() { next_ = run_.data(); }
  // reset - forgets every answer (the store in force changed)
  void reset();

  uint64_t generation = 0;
  std::shared_ptr<const RegStore> store;  // kept alive while answers point into it
  RegValue fetched;                       // a value read from the registry

 private:
  static constexpr uint32_t kNone = ~0u;

  struct Entry {
    std::string key, name;
    const RegValue *value;
    uint32_t next = kNone;  // the entry read after this one last time
  };
  // Slot - one read of the run, with what the compare needs at hand
  struct Slot {
    const char *key;
    const char *name;
    const RegValue *value;
    uint32_t entry;
  };
  struct IndexSlot {
    uint64_t hash = 0;
    uint32_t entry = kNone;
  };

  bool matches(uint32_t at, const char *key, const char *name) const;
  const RegValue *took(uint32_t at);
  uint32_t last() const;
  uint32_t find_or_add(std::string_view key, std::string_view name);
  void grow();

  std::deque<Entry> entries_;  // a deque: the run's slots point into its texts
  std::vector<IndexSlot> index_ = std::vector<IndexSlot>(512);
  // The reads of the last run, in order; next_ is this run's next read
  // (end_ past the last). The entry read last is the slot before next_.
  std::vector<Slot> run_;
  const Slot *next_ = nullptr;
  const Slot *end_ = nullptr;
};

// read_elsewhere - a read that is not the expected one, or the thread's first,
// or the first since the store changed; null texts read as empty
const RegValue *read_elsewhere(const char *key, const char *name);

#if defined(_WIN32)
Reader *this_thread_reader();
#else
// Every configuration read comes here, so the pointer sits in the static TLS
// block: one load, no call into the dynamic loader. Null before the thread's
// first read.
extern __thread Reader *t_reader __attribute__((tls_model("initial-exec")));
inline Reader *this_thread_reader() {
  return t_reader;
}
#endif

// read_expected - whether (key, name) is the read this thread's reader
// expects next from the store in force; if so its answer is in *value (null
// when absent). Allocates nothing and cannot throw.
inline bool read_expected(const char *key, const char *name, const RegValue **value) {
  Reader *r = this_thread_reader();
  if (r == nullptr || key == nullptr || name == nullptr) return false;
  const uint64_t generation = g_store_generation.load(std::memory_order_acquire);
  return generation != 0 && generation == r->generation && r->expected(key, name, value);
}

// read - the value (key, name) of the store in force; null when absent or
// when there is no usable store. Valid until this thread's next read.
inline const RegValue *read(const char *key, const char *name) {
  const RegValue *value;
  if (read_expected(key, name, &value)) return value;
  return read_elsewhere(key, name);
}

// rewind_reader - this thread begins an operation
void rewind_reader();

}  // namespace zz::roriv
