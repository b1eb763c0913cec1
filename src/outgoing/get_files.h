// get_files.h - OXT_get_files: the next outgoing message, from the output
// rules' directories in turn (loose files, then send directories) or, when
// they yield nothing, from the message database.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

// get_files - 0 a message is in the record, 1 nothing to send, 0xFFFFFFFF failure
uint32_t get_files(GetFileCtx *ctx, CCA_CONTEXT *crypto, OutgoingMessage *msg);

}  // namespace zz
