// signature_list.cpp - written with nothing between colon and value; read as
// the module reads it: key lines in any order before "Length-Sign", values
// trimmed of blanks and colons, the signature right after the "Sign" line.
#include "gateway/mail/signature_list.h"

#include <cstdio>
#include <cstdlib>

namespace zz::gateway {
namespace {

// "ЭЦП.crs" in code page 1251
constexpr const char kRussianList[] = "\xDD\xD6\xCF.crs";

std::string trimmed(std::string text) {
  const char *blanks = " \t:\r";
  text.erase(0, text.find_first_not_of(blanks));
  const size_t end = text.find_last_not_of(blanks);
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

bool key_is(const std::string &line, const std::string &key) {
  if (line.size() <= key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(line[i])) !=
        std::toupper(static_cast<unsigned char>(key[i]))) {
      return false;
    }
  }
  return true;
}

// upper - ASCII and code page 1251 Cyrillic letters in upper case
std::string upper(std::string text) {
  for (char &c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') c = static_cast<char>(b - 32);
    if (b >= 0xE0) c = static_cast<char>(b - 32);
    if (b == 0xB8) c = static_cast<char>(0xA8);
  }
  return text;
}

}  // namespace

std::string digest_text(const uint8_t *digest, uint32_t length) {
  std::string text;
  char hex[4];
  for (uint32_t i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", digest[i]);
    text += (i == 0 ? "" : " ") + std::string(hex);
  }
  return text;
}

std::string entry_text(const SignatureEntry &e) {
  std::string text = "Name-Signer:" + e.signer + "\r\nHash-Value:" + e.hash +
                     "\r\nName-Attachment:" + e.file + "\r\n";
  if (!e.address_type.empty()) text += "Signer-Type-Address:" + e.address_type + "\r\n";
  if (!e.address.empty()) text += "Signer-Address:" + e.address + "\r\n";
  return text + "Length-Sign:" + std::to_string(e.signature.size()) + "\r\nSign:\r\n" + e.signature;
}

bool parse_signature_list(const std::string &bytes, std::vector<SignatureEntry> *entries,
                          std::string *error) {
  size_t at = 0;
  while (at < bytes.size()) {
    SignatureEntry e;
    size_t length = 0;
    bool have_length = false;
    for (;;) {
      const size_t end = bytes.find('\n', at);
      if (end == std::string::npos) {
        *error = "entry " + std::to_string(entries->size() + 1) + " has no \"Sign\" line";
        return false;
      }
      const std::string line = trimmed(bytes.substr(at, end - at));
      at = end + 1;
      if (line == "Sign") break;
      const size_t colon = line.find(':');
      const std::string value = trimmed(colon == std::string::npos ? "" : line.substr(colon));
      if (key_is(line, "Name-Signer"))
        e.signer = value;
      else if (key_is(line, "Hash-Value"))
        e.hash = value;
      else if (key_is(line, "Name-Attachment"))
        e.file = value;
      else if (key_is(line, "Signer-Type-Address"))
        e.address_type = value;
      else if (key_is(line, "Signer-Address"))
        e.address = value;
      else if (key_is(line, "Length-Sign")) {
        length = std::strtoul(value.c_str(), nullptr, 10);
        have_length = true;
      }
    }
    if (e.signer.empty() || e.hash.empty() || e.file.empty() || !have_length) {
      *error = "entry " + std::to_string(entries->size() + 1) + " lacks a required line";
      return false;
    }
    if (bytes.size() - at < length) {
      *error = "entry " + std::to_string(entries->size() + 1) + " claims " +
               std::to_string(length) + " signature bytes; fewer follow";
      return false;
    }
    e.signature = bytes.substr(at, length);
    at += length;
    entries->push_back(e);
  }
  return true;
}

bool same_file_name(const std::string &a, const std::string &b) {
  return upper(a) == upper(b);
}

bool is_signature_list(const std::string &name) {
  const std::string u = upper(name);
  return u == kSignatureList || u == upper(kRussianList);
}

}  // namespace zz::gateway
