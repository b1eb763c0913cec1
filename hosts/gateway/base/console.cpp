// console.cpp - code page conversions for printing and the store setup.
#include "gateway/base/console.h"

#include <cstdio>
#include <cstdlib>

#include "common/cp1251.h"
#include "common/event_table.h"
#include "roriv/roriv.h"

namespace zz::gateway {

namespace {
constexpr const char *kDefaultStore = "/etc/zozerez/gateway.reg";
}

std::string utf8(std::string_view cp1251_text) {
  return host_common::cp1251_to_utf8(cp1251_text);
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
  if (roriv_setup(path.c_str(), chosen_key.c_str()) == 0) return true;
  char message[1024];
  roriv_store_status(message, sizeof message);
  std::fprintf(stderr, "zozerez-gateway: configuration store refused: %s\n", message);
  return false;
}

}  // namespace zz::gateway
