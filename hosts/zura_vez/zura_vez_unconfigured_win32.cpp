// zura_vez_unconfigured_win32.cpp - the Windows build of the message database
// library until ODBC is wired for Windows here: every call answers with
// failure, so a module set to database mode stays in file mode.
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
