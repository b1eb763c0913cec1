// settings.cpp - one configuration per process, changed only by the host's
// setup call and read under a lock by every call.
#include "vudo/settings.h"

#include <openssl/err.h>

#include <map>
#include <mutex>

namespace zz::vudo {
namespace {

std::mutex g_mutex;
Settings g_settings;
thread_local std::string t_reason;
// Never destroyed, as OpenSSL cleans up first at exit.
auto &g_digests = *new std::map<std::string, EVP_MD *>;

}  // namespace

Settings settings() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_settings;
}

void set_settings(const Settings &s) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_settings = s;
}

const EVP_MD *digest_of(const std::string &name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto found = g_digests.find(name);
  if (found != g_digests.end()) return found->second;
  EVP_MD *md = EVP_MD_fetch(nullptr, name.c_str(), nullptr);
  // Digests of an engine (GOST) are found only the older way.
  if (md == nullptr) md = const_cast<EVP_MD *>(EVP_get_digestbyname(name.c_str()));
  ERR_clear_error();
  if (md != nullptr) g_digests[name] = md;
  return md;
}

const std::string &reason() {
  return t_reason;
}

void note(const std::string &text) {
  t_reason = text;
}

void note_openssl(const std::string &what) {
  const unsigned long code = ERR_peek_last_error();
  char text[256] = "";
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  t_reason = code != 0 ? what + ": " + text : what;
}

}  // namespace zz::vudo
