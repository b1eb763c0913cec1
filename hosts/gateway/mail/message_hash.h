// message_hash.h - the hash that names a sent message in receipts: SHA-256
// of its subject, body and files, as upper-case hexadecimal text.
#pragma once

#include <string>

#include "zozerez.h"

namespace zz::gateway {

std::string message_hash(const OutgoingMessage &msg);

}  // namespace zz::gateway
