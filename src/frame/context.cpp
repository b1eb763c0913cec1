// context.cpp - the skip list of a module context.
#include "frame/context.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "files/blocks.h"
#include "frame/events.h"
#include "platform/os.h"
#include "text/compare.h"

namespace zz {

namespace {

// Bumped by every change of any skip list, so that a table built from a list
// is never used after the list changed (nodes freed and allocated again at
// the same addresses included).
std::atomic<uint64_t> g_skip_changes{1};

}  // namespace

uint32_t append_skip_node(GetFileCtx *ctx, uint32_t kind, const char *path) {
  g_skip_changes.fetch_add(1, std::memory_order_relaxed);
  SkipNode **tail = &ctx->SkipList;
  while (*tail != nullptr) tail = &(*tail)->Next;
  auto *node = static_cast<SkipNode *>(std::calloc(1, sizeof(SkipNode) + kSpareBytes));
  if (node == nullptr) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", "create_data");
    return kFailed;
  }
  *tail = node;
  if (create_string(&node->Path, path) != kOk) return kFailed;
  node->Kind = kind;
  return kOk;
}

bool skip_list_holds(const GetFileCtx *ctx, uint32_t kind, const char *path) {
  for (const SkipNode *node = ctx->SkipList; node != nullptr; node = node->Next) {
    if (node->Kind == kind && node->Path != nullptr && equal_ignoring_case(node->Path, path)) {
      return true;
    }
  }
  return false;
}

namespace {

// fold8 - eight bytes with ASCII lower-case letters made upper case and
// every byte from 0x80 up made 0x80, all at once
uint64_t fold8(uint64_t w) {
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  const uint64_t high = w & kHigh;
  const uint64_t high_bytes = (high >> 7) * 0xFF;
  uint64_t ascii = w & ~high_bytes;
  // bit 7 of a byte after adding: set from 'a' (0x61) up, and from '{' (0x7B) up
  const uint64_t from_a = ascii + 0x1F1F1F1F1F1F1F1Full;
  const uint64_t past_z = ascii + 0x0505050505050505ull;
  ascii ^= ((from_a & ~past_z & kHigh) >> 2);
  return ascii | high;
}

// fold_hash - a hash of the last 32 bytes (paths of one directory differ at
// their end) over folded bytes: texts equal without regard to case, Cyrillic
// included, hash alike, eight bytes at a time.
size_t fold_hash(std::string_view text) {
  uint64_t hash = 14695981039346656037ull ^ text.size();
  const size_t from = text.size() > 32 ? text.size() - 32 : 0;
  size_t i = from;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    hash = (hash ^ fold8(word)) * 1099511628211ull;
    hash ^= hash >> 31;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, text.data() + i, text.size() - i);
  hash = (hash ^ fold8(tail)) * 1099511628211ull;
  return static_cast<size_t>(hash ^ (hash >> 29));
}

bool fold_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;
  for (size_t i = 0; i < a.size(); ++i) {
    if (os::upper_1251(a[i]) != os::upper_1251(b[i])) return false;
  }
  return true;
}

}  // namespace

struct SkipIndex::Table {
  const GetFileCtx *ctx = nullptr;
  const SkipNode *head = nullptr;
  uint64_t changes = 0;     // g_skip_changes when built
  bool hashed = false;      // else the list is short and searched as it is
  std::vector<Slot> slots;  // a power of two, at most half full

  bool fits(const GetFileCtx *c, uint64_t now) const {
    return ctx == c && head == c->SkipList && changes == now;
  }

  void build(const GetFileCtx *c, uint32_t kind, uint64_t now) {
    // Below this many nodes a walk costs less than hashing the list.
    constexpr size_t kShortList = 16;
    ctx = c;
    head = c->SkipList;
    changes = now;
    size_t nodes = 0;
    for (const SkipNode *node = c->SkipList; node != nullptr; node = node->Next) ++nodes;
    hashed = nodes > kShortList;
    slots.clear();
    if (!hashed) return;
    size_t size = 64;
    while (size < nodes * 2) size *= 2;
    slots.assign(size, Slot{});
    for (const SkipNode *node = c->SkipList; node != nullptr; node = node->Next) {
      if (node->Kind != kind || node->Path == nullptr) continue;
      const std::string_view path(node->Path);
      const size_t hash = fold_hash(path);
      size_t at = hash & (size - 1);
      while (slots[at].path != nullptr) at = (at + 1) & (size - 1);
      slots[at] = Slot{hash, node->Path, path.size()};
    }
  }
};

bool SkipIndex::holds(const std::string &path) {
  if (table_ == nullptr) {
    thread_local Table tables[2];  // by kind: loose files, descriptors
    Table &t = tables[kind_ == kSkipFile ? 0 : 1];
    const uint64_t now = g_skip_changes.load(std::memory_order_relaxed);
    if (!t.fits(ctx_, now)) t.build(ctx_, kind_, now);
    table_ = &t;
  }
  if (!table_->hashed) return skip_list_holds(ctx_, kind_, path.c_str());
  const size_t hash = fold_hash(path);
  const size_t mask = table_->slots.size() - 1;
  for (size_t at = hash & mask; table_->slots[at].path != nullptr; at = (at + 1) & mask) {
    const Slot &slot = table_->slots[at];
    if (slot.hash == hash && fold_equal(path, std::string_view(slot.path, slot.length)))
      return true;
  }
  return false;
}

void free_skip_list(GetFileCtx *ctx) {
  g_skip_changes.fetch_add(1, std::memory_order_relaxed);
  SkipNode *node = ctx->SkipList;
  while (node != nullptr) {
    SkipNode *next = node->Next;
    std::free(node->Path);
    std::free(node);
    node = next;
  }
  ctx->SkipList = nullptr;
}

}  // namespace zz
