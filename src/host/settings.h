// settings.h - the module's reads of the host's configuration store (roriv).
// The registry key buffer is module-wide: every operation that reads settings
// refills it first with fetch_registry_key and then builds its keys from it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zz::host {

constexpr size_t kTextSize = 2048;  // every path, name, setting and line buffer

// fetch_registry_key - NR_GetRegistryKeyString into the shared buffer; false on failure
bool fetch_registry_key();
// registry_key - the shared buffer as last fetched
const char *registry_key();
// fetch_registry_key_into - the same into a caller's buffer of kTextSize bytes
bool fetch_registry_key_into(char *key);

// The readers hand out the value only when the store answered 0; false means "not read".
bool read_dword(const char *key, const char *name, uint32_t *value);     // OLM_ConfGetDWORD
bool read_dword_ex(const char *key, const char *name, uint32_t *value);  // OLM_ConfGetDWORDEx
// read_string - into a buffer of kTextSize bytes (OLM_ConfGetString)
bool read_string(const char *key, const char *name, char *buffer);
// read_path - into a buffer of kTextSize bytes; the default applies when the value is absent
bool read_path(const char *key, const char *name, char *buffer, const char *default_text = "");

// signal_failure - the host's failure signal, always with (0, 1)
void signal_failure();

}  // namespace zz::host
