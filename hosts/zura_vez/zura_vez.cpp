// zura_vez.cpp - the message database library, not configured yet: every call
// answers with failure, so a module set to database mode reports that the
// database cannot be opened and stays in file mode.
#include "zozerez_host.h"

#if defined(_WIN32)
#define ZURA_EXPORT extern "C"
#else
#define ZURA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
constexpr uint32_t kNotConfigured = 0xFFFFFFFFu;
}

ZURA_EXPORT uint32_t BdInit(BD_HANDLE *, const BdInitParams *) {
  return kNotConfigured;
}
ZURA_EXPORT uint32_t BdClose(BD_HANDLE) {
  return kNotConfigured;
}
ZURA_EXPORT uint32_t BdReadMsg(BD_HANDLE, BdMsg *) {
  return kNotConfigured;
}
ZURA_EXPORT uint32_t BdWriteMsg(BD_HANDLE, BdMsg *) {
  return kNotConfigured;
}
ZURA_EXPORT uint32_t BdFreeMsg(BD_HANDLE, BdMsg *, uint32_t, const char *) {
  return kNotConfigured;
}
ZURA_EXPORT uint32_t BdPing(BD_HANDLE) {
  return kNotConfigured;
}
ZURA_EXPORT uint32_t BdActivityIndicator(BD_HANDLE, uint8_t) {
  return kNotConfigured;
}
