// context.h - the skip list of a module context: pickup paths that
// completion put back after a failed send, passed over by the scans until the
// host empties the list.
#pragma once

#include <cstdint>

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

}  // namespace zz
