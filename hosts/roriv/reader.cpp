// reader.cpp - the slower ways of a thread's reader: the entry read after the
// last one, a hash index over every entry read, the first read of a thread
// and the first after the store changed.
#include "roriv/reader.h"

#include "roriv/store.h"
#if defined(_WIN32)
#include "roriv/registry.h"
#endif

namespace zz::roriv {
namespace {

constexpr size_t kMostEntries = 4096;  // a caller asking ever new names starts afresh
constexpr size_t kLongestRun = 8192;   // reads beyond it go by the other ways

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

}  // namespace

const RegValue *Reader::answer(const char *key, const char *name) {
  const RegValue *value;
  if (expected(key, name, &value)) return value;
  const uint32_t last = this->last();
  if (last != kNone) {
    const uint32_t next = entries_[last].next;
    if (next != kNone && matches(next, key, name)) return took(next);
  }
  const uint32_t at = find_or_add(key, name);
  if (last != kNone) entries_[last].next = at;
  return took(at);
}

void Reader::reset() {
  entries_.clear();
  index_.assign(512, IndexSlot{});
  run_.clear();
  next_ = end_ = run_.data();
}

uint32_t Reader::last() const {
  return next_ != nullptr && next_ != run_.data() ? next_[-1].entry : kNone;
}

bool Reader::matches(uint32_t at, const char *key, const char *name) const {
  const Entry &e = entries_[at];
  return std::strcmp(e.key.c_str(), key) == 0 && std::strcmp(e.name.c_str(), name) == 0;
}

// took - `at` answers the run's next read
const RegValue *Reader::took(uint32_t at) {
  const Entry &e = entries_[at];
  const Slot slot{e.key.c_str(), e.name.c_str(), e.value, at};
  const size_t place = next_ != nullptr ? static_cast<size_t>(next_ - run_.data()) : 0;
  if (place < run_.size()) {
    run_[place] = slot;
  } else if (place < kLongestRun) {
    run_.push_back(slot);
  } else {
    return e.value;  // beyond the longest run: not kept, and the run stays at its end
  }
  next_ = run_.data() + place + 1;
  end_ = run_.data() + run_.size();
  return e.value;
}

uint32_t Reader::find_or_add(std::string_view key, std::string_view name) {
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
  index_[at] = IndexSlot{hash, entry};
  return entry;
}

void Reader::grow() {
  std::vector<IndexSlot> old(index_.size() * 2);
  old.swap(index_);
  const size_t mask = index_.size() - 1;
  for (const IndexSlot &slot : old) {
    if (slot.entry == kNone) continue;
    size_t at = slot.hash & mask;
    while (index_[at].entry != kNone) at = (at + 1) & mask;
    index_[at] = slot;
  }
}

#if defined(_WIN32)
namespace {
thread_local Reader t_own;
}
Reader *this_thread_reader() {
  return &t_own;
}
#else
__thread Reader *t_reader = nullptr;
#endif

namespace {

Reader &own_reader() {
#if defined(_WIN32)
  return *this_thread_reader();
#else
  if (t_reader == nullptr) {
    thread_local Reader own;
    t_reader = &own;
  }
  return *t_reader;
#endif
}

}  // namespace

const RegValue *read_elsewhere(const char *key, const char *name) {
  if (key == nullptr) key = "";
  if (name == nullptr) name = "";
  Reader &r = own_reader();
  const uint64_t generation = g_store_generation.load(std::memory_order_acquire);
  if (generation == 0 || generation != r.generation) {
    StoreInForce in_force = store_in_force();
#if defined(_WIN32)
    if (in_force.registry) {
      auto value = registry_value(key, name);
      if (!value) return nullptr;
      r.fetched = std::move(*value);
      return &r.fetched;
    }
#endif
    if (!in_force.store) return nullptr;
    r.store = std::move(in_force.store);
    r.generation = r.store->generation();
    r.reset();
  }
  return r.answer(key, name);
}

void rewind_reader() {
  own_reader().rewind();
}

}  // namespace zz::roriv
