// console.cpp - code page conversions for printing and the store setup.
#include "gateway/base/console.h"

#include <cstdio>
#include <cstdlib>

#include "common/cp1251.h"
#include "common/event_table.h"
#include "roriv/roriv.h"
#include "vudo/vudo.h"
#include "zozerez_host.h"
#include "zura_vez/zura_vez.h"

namespace zz::gateway {

namespace {
constexpr const char *kDefaultStore = "/etc/zozerez/gateway.reg";
}

std::string utf8(std::string_view cp1251_text) {
  return host_common::cp1251_to_utf8(cp1251_text);
}

std::string native_path(std::string path) {
  for (char &c : path) {
    if (c == '\\') c = '/';
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string shown_path(std::string_view cp1251_path) {
  return host_common::display_path(host_common::cp1251_to_utf8(cp1251_path));
}

bool cp1251(std::string_view utf8_text, std::string *out) {
  return host_common::utf8_to_cp1251(utf8_text, out);
}

bool open_store(const std::string &config, const std::string &key) {
  std::string path = config;
  if (path.empty()) {
    const char *env = std::getenv("RORIV_STORE");
    path = env != nullptr && *env != '\0' ? env : kDefaultStore;
  }
  std::string chosen_key = key;
  if (chosen_key.empty()) {
    const char *env = std::getenv("RORIV_KEY");
    if (env != nullptr) chosen_key = env;
  }
  if (roriv_setup(path.c_str(), chosen_key.c_str()) != 0) {
    char message[1024];
    roriv_store_status(message, sizeof message);
    std::fprintf(stderr, "zozerez-gateway: configuration store refused: %s\n", message);
    return false;
  }
  configure_database();
  return configure_crypto();
}

void configure_database() {
  char key[2048];
  if (NR_GetRegistryKeyString(key) != 0) return;
  const std::string gw = std::string(key) + "\\Gateway";
  uint32_t lease = 0, attempts = 10;
  char host[256] = "";
  OLM_ConfGetDWORD(gw.c_str(), "DatabaseLease", &lease, 0);
  OLM_ConfGetDWORD(gw.c_str(), "DatabaseAttempts", &attempts, 0);
  OLM_ConfGetString(gw.c_str(), "DatabaseHostName", host, sizeof host, 0);
  zura_vez_configure(host, lease, attempts);
}

bool configure_crypto() {
  char key[2048];
  if (NR_GetRegistryKeyString(key) != 0) return true;
  const std::string gw = std::string(key) + "\\Gateway";
  char certs[2048] = "", trusted[2048] = "", digest[256] = "";
  OLM_ConfGetPath(gw.c_str(), "CertificateDirectory", certs, "/etc/zozerez/certs", 0);
  OLM_ConfGetPath(gw.c_str(), "TrustedCADirectory", trusted, "/etc/zozerez/trusted", 0);
  OLM_ConfGetString(gw.c_str(), "DigestAlgorithm", digest, sizeof digest, 0);
  if (vudo_configure(certs, trusted, digest) == 0) return true;
  char reason[512];
  vudo_last_reason(reason, sizeof reason);
  std::fprintf(stderr, "zozerez-gateway: setting \"DigestAlgorithm\" under %s: %s\n",
               utf8(gw).c_str(), reason);
  return false;
}

}  // namespace zz::gateway
