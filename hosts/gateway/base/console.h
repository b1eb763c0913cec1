// console.h - what the host program prints: the module's code page 1251
// texts as UTF-8, and the store setup shared by every command.
#pragma once

#include <string>
#include <string_view>

namespace zz::gateway {

// utf8 - a code page 1251 text as UTF-8
std::string utf8(std::string_view cp1251);
// native_path - a module path ("\\" inside) for this system's calls: "/"
// throughout, no final "/"
std::string native_path(std::string path);
// shown_path - a module path (code page 1251, "\\" inside) as people read it:
// UTF-8, with this system's separator throughout
std::string shown_path(std::string_view cp1251_path);
// cp1251 - a UTF-8 argument as code page 1251; false when it cannot be
bool cp1251(std::string_view utf8_text, std::string *out);

// open_store - roriv set up from --config/--key (or RORIV_STORE/RORIV_KEY, or
// the default store); false, with the reason on stderr, when it is unusable
bool open_store(const std::string &config, const std::string &key);
// configure_database - zura_vez set up from <key>\Gateway: "DatabaseLease"
// (seconds before an abandoned claim is queued again), "DatabaseAttempts"
// (put-backs before a message is failed) and "DatabaseHostName" (the name
// claims are made under)
void configure_database();
// configure_crypto - vudo set up from <key>\Gateway: "CertificateDirectory",
// "TrustedCADirectory", "DigestAlgorithm"; false, with the reason on stderr,
// when the digest is unknown
bool configure_crypto();

}  // namespace zz::gateway
