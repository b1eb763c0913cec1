// store_file.h - OXT_store_file_ext: an incoming message's file stored by
// every input rule that takes it, or put into the error directory.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

// store_file_ext - 0 stored without any failure, -1 otherwise
int32_t store_file_ext(const IncomingMessage *msg);

}  // namespace zz
