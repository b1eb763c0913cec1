// signature_list.h - the signature list of a send directory ("OLMSIGN.CRS"):
// per signature the signer's name, the file's digest as hex text, the file's
// name, the signer's address when known, and the detached signature's bytes.
// Texts are code page 1251 bytes, as the module reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zz::gateway {

constexpr const char kSignatureList[] = "OLMSIGN.CRS";

struct SignatureEntry {
  std::string signer, hash, file;
  std::string address_type, address;  // empty when not given
  std::string signature;
};

// digest_text - "0A 1B FF": two upper-case hex digits per byte, one space between
std::string digest_text(const uint8_t *digest, uint32_t length);
// entry_text - one entry exactly as the module's writer lays it out
std::string entry_text(const SignatureEntry &e);
// parse_signature_list - the entries; false with the reason at the first bad one
bool parse_signature_list(const std::string &bytes, std::vector<SignatureEntry> *entries,
                          std::string *error);
// is_signature_list - "OLMSIGN.CRS" or "ЭЦП.crs" in any letter case
bool is_signature_list(const std::string &name);
// same_file_name - equal after upper-casing Latin and Cyrillic letters (code page 1251)
bool same_file_name(const std::string &a, const std::string &b);

}  // namespace zz::gateway
