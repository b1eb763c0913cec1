// settings.h - the module's reads of the host's configuration store (roriv).
// The registry key buffer is module-wide: every operation that reads settings
// refills it first with fetch_registry_key and then builds its keys from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zozerez_host.h"

namespace zz::host {

constexpr size_t kTextSize = 2048;  // every path, name, setting and line buffer

// fetch_registry_key - NR_GetRegistryKeyString into the shared buffer; false on failure
bool fetch_registry_key();
// registry_key - the shared buffer as last fetched
const char *registry_key();
// fetch_registry_key_into - the same into a caller's buffer of kTextSize bytes
bool fetch_registry_key_into(char *key);

// The readers hand out the value only when the store answered 0; false means
// "not read". Inline: a stored file makes hundreds of these reads.
inline bool read_dword(const char *key, const char *name, uint32_t *value) {
  uint32_t v = 0;
  if (OLM_ConfGetDWORD(key, name, &v, 0) != 0) return false;
  *value = v;
  return true;
}

inline bool read_dword_ex(const char *key, const char *name, uint32_t *value) {
  uint32_t v = 0;
  if (OLM_ConfGetDWORDEx(key, name, &v, 0, 0) != 0) return false;
  *value = v;
  return true;
}

// read_string - into a buffer of kTextSize bytes (OLM_ConfGetString)
inline bool read_string(const char *key, const char *name, char *buffer) {
  if (OLM_ConfGetString(key, name, buffer, kTextSize, 0) != 0) return false;
  buffer[kTextSize - 1] = '\0';
  return true;
}

// read_path - into a buffer of kTextSize bytes; the default applies when the value is absent
inline bool read_path(const char *key, const char *name, char *buffer,
                      const char *default_text = "") {
  if (OLM_ConfGetPath(key, name, buffer, default_text, 0) != 0) return false;
  buffer[kTextSize - 1] = '\0';
  return true;
}

// signal_failure - the host's failure signal, always with (0, 1)
void signal_failure();

}  // namespace zz::host
