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

size_t SkipIndex::FoldHash::operator()(std::string_view text) const {
  size_t hash = 14695981039346656037ull;  // FNV-1a over the folded bytes
  for (char c : text)
    hash = (hash ^ static_cast<unsigned char>(os::upper_1251(c))) * 1099511628211ull;
  return hash;
}

bool SkipIndex::FoldEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (os::upper_1251(a[i]) != os::upper_1251(b[i])) return false;
  }
  return true;
}

bool SkipIndex::holds(const std::string &path) {
  // Below this many nodes a walk costs less than hashing the list.
  constexpr size_t kShortList = 16;
  if (state_ == State::kNew) {
    size_t nodes = 0;
    for (const SkipNode *node = ctx_->SkipList; node != nullptr; node = node->Next) ++nodes;
    state_ = nodes <= kShortList ? State::kShort : State::kHashed;
    if (state_ == State::kHashed) {
      paths_.reserve(nodes);
      for (const SkipNode *node = ctx_->SkipList; node != nullptr; node = node->Next) {
        if (node->Kind == kind_ && node->Path != nullptr) paths_.insert(node->Path);
      }
    }
  }
  if (state_ == State::kShort) return skip_list_holds(ctx_, kind_, path.c_str());
  return paths_.count(path) != 0;
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
