// context.h - the skip list of a module context: pickup paths that
// completion put back after a failed send, passed over by the scans until the
// host empties the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zozerez.h"

namespace zz {

constexpr uint32_t kSkipFile = 0;        // a loose outgoing file
constexpr uint32_t kSkipDescriptor = 1;  // a send-request descriptor "olminfo.txt"

// append_skip_node - 0, or 0xFFFFFFFF (a node without path may stay linked)
uint32_t append_skip_node(GetFileCtx *ctx, uint32_t kind, const char *path);
// skip_list_holds - a node of the kind whose path equals `path`, case ignored
bool skip_list_holds(const GetFileCtx *ctx, uint32_t kind, const char *path);
// free_skip_list - every node with its path; the list becomes empty
void free_skip_list(GetFileCtx *ctx);

// SkipIndex - the skip list's paths of one kind for one scan, which checks
// every name of a directory: a short list is searched as it is, a long one
// (thousands of files held back) is put into a flat hash table, so that a
// scan costs about the same whether few or many files wait behind the list.
// The table outlives the scan: each thread keeps the last one per kind and
// uses it again while no skip list has changed since it was built.
class SkipIndex {
 public:
  SkipIndex(const GetFileCtx *ctx, uint32_t kind) : ctx_(ctx), kind_(kind) {}
  bool holds(const std::string &path);

  struct Slot {
    size_t hash = 0;
    const char *path = nullptr;  // null: empty slot
    size_t length = 0;
  };
  struct Table;

 private:
  const GetFileCtx *ctx_;
  uint32_t kind_;
  const Table *table_ = nullptr;  // the thread's table for this list and kind
};

}  // namespace zz
