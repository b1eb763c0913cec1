// database.h - the module's calls into the message database (zura_vez).
// Each is a single attempt; retries and their pauses belong to the callers.
#pragma once

#include <cstdint>

#include "zozerez_host.h"

namespace zz::host {

inline bool db_init(BD_HANDLE *handle, const char *dsn, uint32_t timeout, uint32_t delay) {
  BdInitParams params{dsn, timeout, delay};
  return BdInit(handle, &params) == 0;
}
inline void db_close(BD_HANDLE handle) {
  BdClose(handle);
}
inline bool db_ping(BD_HANDLE handle) {
  return BdPing(handle) == 0;
}
inline void db_activity(BD_HANDLE handle, uint8_t direction) {
  BdActivityIndicator(handle, direction);
}
// db_read - 0 a message is in `msg`, 1 none waiting, other failure
inline uint32_t db_read(BD_HANDLE handle, BdMsg *msg) {
  return BdReadMsg(handle, msg);
}
inline bool db_write(BD_HANDLE handle, BdMsg *msg) {
  return BdWriteMsg(handle, msg) == 0;
}
inline bool db_free(BD_HANDLE handle, BdMsg *msg, uint32_t sent, const char *text) {
  return BdFreeMsg(handle, msg, sent, text) == 0;
}

}  // namespace zz::host
