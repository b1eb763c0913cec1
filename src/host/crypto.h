// crypto.h - the module's calls into vudo. The host passes the address of
// its handle; every call site reads the handle from that address here, so
// that all paths reach the same context (a null address gives a null handle).
#pragma once

#include <cstdint>

#include "zozerez_host.h"

namespace zz::host {

inline CCA_CONTEXT crypto_handle(CCA_CONTEXT *address) {
  return address != nullptr ? *address : nullptr;
}

inline bool random_bytes(CCA_CONTEXT *crypto, uint32_t length, uint8_t *out) {
  return CCA_get_random(crypto_handle(crypto), length, out) == 0;
}

}  // namespace zz::host
