// delete_files.h - OXT_delete_files: finishing a message the host tried to
// send: sent (deleted, or its send request rewritten for the next pass),
// failed for good (moved to the bad-files directory, administrator told),
// or not sent this time (put back and held back).
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

constexpr uint32_t kStatusSent = 0;
constexpr uint32_t kStatusFailed = 2;

// delete_files - 0 done, -1 failed (reported)
int32_t delete_files(GetFileCtx *ctx, OutgoingMessage *msg, uint32_t status, const char *hash);

}  // namespace zz
