// context.cpp - the skip list of a module context.
#include "frame/context.h"

#include <cstdlib>

#include "files/blocks.h"
#include "frame/events.h"
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
