// context.cpp - the skip list of a module context.
#include "frame/context.h"

#include <cstdlib>

#include "files/blocks.h"
#include "frame/events.h"
#include "platform/os.h"
#include "text/compare.h"

namespace zz {

uint32_t append_skip_node(GetFileCtx *ctx, uint32_t kind, const char *path) {
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

// fold_hash - FNV-1a over the last 32 bytes (paths of one directory differ
// at their end) with ASCII letters folded and every other byte counted as one
// and the same: texts equal without regard to case, Cyrillic included, hash
// alike without a case table per byte.
size_t fold_hash(std::string_view text) {
  size_t hash = 14695981039346656037ull ^ text.size();
  for (size_t i = text.size() > 32 ? text.size() - 32 : 0; i < text.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
    if (b >= 0x80) b = 0x80;
    hash = (hash ^ b) * 1099511628211ull;
  }
  return hash;
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

void SkipIndex::build(size_t nodes) {
  size_t size = 64;
  while (size < nodes * 2) size *= 2;
  slots_.assign(size, Slot{});
  for (const SkipNode *node = ctx_->SkipList; node != nullptr; node = node->Next) {
    if (node->Kind != kind_ || node->Path == nullptr) continue;
    const std::string_view path(node->Path);
    const size_t hash = fold_hash(path);
    size_t at = hash & (size - 1);
    while (slots_[at].path != nullptr) at = (at + 1) & (size - 1);
    slots_[at] = Slot{hash, node->Path, path.size()};
  }
}

bool SkipIndex::holds(const std::string &path) {
  // Below this many nodes a walk costs less than hashing the list.
  constexpr size_t kShortList = 16;
  if (state_ == State::kNew) {
    size_t nodes = 0;
    for (const SkipNode *node = ctx_->SkipList; node != nullptr; node = node->Next) ++nodes;
    state_ = nodes <= kShortList ? State::kShort : State::kHashed;
    if (state_ == State::kHashed) build(nodes);
  }
  if (state_ == State::kShort) return skip_list_holds(ctx_, kind_, path.c_str());
  const size_t hash = fold_hash(path);
  const size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask; slots_[at].path != nullptr; at = (at + 1) & mask) {
    const Slot &slot = slots_[at];
    if (slot.hash == hash && fold_equal(path, std::string_view(slot.path, slot.length)))
      return true;
  }
  return false;
}

void free_skip_list(GetFileCtx *ctx) {
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
