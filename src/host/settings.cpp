// settings.cpp - calls into roriv for the registry key and configuration values.
#include "host/settings.h"

#include <cstring>

#include "zozerez_host.h"

namespace zz::host {
namespace {
// Shared by every context and thread of the process, refilled by each
// operation that reads settings; the host does not run two such operations at once.
char g_registry_key[kTextSize];
}  // namespace

bool fetch_registry_key() {
  if (NR_GetRegistryKeyString(g_registry_key) != 0) return false;
  g_registry_key[kTextSize - 1] = '\0';
  return true;
}

const char *registry_key() {
  return g_registry_key;
}

bool fetch_registry_key_into(char *key) {
  if (NR_GetRegistryKeyString(key) != 0) return false;
  key[kTextSize - 1] = '\0';
  return true;
}

void signal_failure() {
  OLM_SignalFailure(0, 1);
}

}  // namespace zz::host
