// database_message.h - the next outgoing message of the message database as
// an outgoing record, with the signature list of its signed attachments.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

// collect_database_message - 0 a message is in the record (OutMsg held),
// 1 none waiting, 0xFFFFFFFF failure (the message given back as not sent)
uint32_t collect_database_message(GetFileCtx *ctx, CCA_CONTEXT crypto, OutgoingMessage *msg);

}  // namespace zz
