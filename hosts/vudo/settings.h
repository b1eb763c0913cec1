// settings.h - the process's vudo configuration and the calling thread's
// last reason; shared by the digest, certificate and signature parts.
#pragma once

#include <openssl/evp.h>

#include <string>

namespace zz::vudo {

struct Settings {
  std::string cert_dir;
  std::string ca_dir;
  std::string digest = "SHA256";
};

// settings - a copy of the configuration in force
Settings settings();
void set_settings(const Settings &s);

// digest_of - the digest of this OpenSSL name (from a provider, else an
// engine), looked up once per name; null when unknown
const EVP_MD *digest_of(const std::string &name);

// reason - the calling thread's last reason; note replaces it
const std::string &reason();
void note(const std::string &text);
// note_openssl - `what` and the text of OpenSSL's last error, which is cleared
void note_openssl(const std::string &what);

}  // namespace zz::vudo
