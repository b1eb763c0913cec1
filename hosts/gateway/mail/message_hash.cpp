// message_hash.cpp - SHA-256 over what a message carries, through OpenSSL.
#include "gateway/mail/message_hash.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstring>

namespace zz::gateway {

std::string message_hash(const OutgoingMessage &msg) {
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
  if (msg.Subject != nullptr) EVP_DigestUpdate(ctx, msg.Subject, std::strlen(msg.Subject));
  if (msg.Body != nullptr) EVP_DigestUpdate(ctx, msg.Body, msg.BodyLength);
  for (uint32_t i = 0; i < msg.NumberFile; ++i) {
    const FileEntry &f = msg.File[i];
    if (f.Name != nullptr) EVP_DigestUpdate(ctx, f.Name, std::strlen(f.Name) + 1);
    if (f.Data != nullptr) EVP_DigestUpdate(ctx, f.Data, f.Length);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx, digest, &length);
  EVP_MD_CTX_free(ctx);
  std::string text;
  char hex[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", digest[i]);
    text += hex;
  }
  return text;
}

}  // namespace zz::gateway
