// message_text.cpp - write buffers, digest texts and subject tokens.
#include "outgoing/message_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/blocks.h"
#include "frame/events.h"
#include "host/crypto.h"
#include "text/header_text.h"
#include "text/masks.h"

namespace zz {
namespace {

constexpr uint32_t kFirstBlock = 4096;
constexpr uint32_t kDoublingLimit = 0x20000;
constexpr size_t kLongestName = 1024;

}  // namespace

uint32_t store_write_buffer(WriteBuffer *buffer, const void *piece, uint32_t length) {
  if (length == 0) return kOk;
  if (buffer->Data == nullptr) {
    const uint32_t capacity = length > kFirstBlock ? length : kFirstBlock;
    auto *block = static_cast<uint8_t *>(std::malloc(capacity));
    if (block == nullptr) {
      report_failure(OXT_EV_NO_MEMORY, "malloc", "store_write_buffer");
      return kFailed;
    }
    std::memcpy(block, piece, length);
    *buffer = WriteBuffer{block, length, capacity};
    return kOk;
  }
  const uint64_t need = static_cast<uint64_t>(buffer->Length) + length;
  if (need > 0xFFFFFFFFull) {
    report_failure(OXT_EV_NO_MEMORY, "realloc", "store_write_buffer");
    return kFailed;
  }
  if (need > buffer->Capacity) {
    uint64_t capacity = need <= kDoublingLimit ? 2 * need
                        : need > static_cast<uint64_t>(buffer->Capacity) + kDoublingLimit
                            ? need
                            : static_cast<uint64_t>(buffer->Capacity) + kDoublingLimit;
    if (capacity > 0xFFFFFFFFull) capacity = need;
    auto *block = static_cast<uint8_t *>(std::realloc(buffer->Data, capacity));
    if (block == nullptr) {
      report_failure(OXT_EV_NO_MEMORY, "realloc", "store_write_buffer");
      return kFailed;
    }
    buffer->Data = block;
    buffer->Capacity = static_cast<uint32_t>(capacity);
  }
  std::memcpy(buffer->Data + buffer->Length, piece, length);
  buffer->Length = static_cast<uint32_t>(need);
  return kOk;
}

uint32_t store_write_string(WriteBuffer *buffer, const char *text) {
  return store_write_buffer(buffer, text, static_cast<uint32_t>(std::strlen(text)));
}

void free_write_buffer(WriteBuffer *buffer) {
  std::free(buffer->Data);
  *buffer = WriteBuffer{};
}

void digest_to_text(const uint8_t *digest, uint32_t length, char *out) {
  out[0] = '\0';
  char *p = out;
  for (uint32_t i = 0; i < length; ++i) {
    std::snprintf(p, 4, "%02X ", digest[i]);
    p += 3;
  }
  trim(out);
}

bool hash_text(CCA_CONTEXT crypto, const uint8_t *data, uint32_t length, char *out,
               const char *function) {
  host::Digest digest(crypto);
  if (!digest.compute(data, length)) {
    report_failure(OXT_EV_HASH_MEM, "CCA_hash_mem", function);
    return false;
  }
  const uint32_t bytes = digest.length() < kLongestDigest ? digest.length() : kLongestDigest;
  digest_to_text(digest.data(), bytes, out);
  return true;
}

uint32_t replace_mask_on_str(char **subject, const char *file_name) {
  if (*subject == nullptr || **subject == '\0' || std::strlen(file_name) >= kLongestName) {
    return kOk;
  }
  static const char *const kTokens[] = {"<#%#>", "<#.%#>", "<#%.#>"};
  const std::string text = *subject;
  int kind = -1;
  for (int i = 0; i < 3 && kind < 0; ++i) {
    if (text.find(kTokens[i]) != std::string::npos) kind = i;
  }
  if (kind < 0) return kOk;
  const std::string token = kTokens[kind];
  char piece[kNameSize];
  if (kind == 0) {
    std::snprintf(piece, sizeof piece, "%s", file_name);
  } else if (kind == 1) {
    get_string_upto_mask(piece, file_name, ".");
  } else if (!get_string_upto_last_mask(piece, file_name, ".")) {
    std::snprintf(piece, sizeof piece, "%s", file_name);
  }
  const std::string replaced =
      text.substr(0, text.find(token)) + piece + text.substr(text.rfind(token) + token.size());
  void *block = std::malloc(text.size() + std::strlen(piece) + kSpareBytes);
  if (block == nullptr) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", "replace_mask_on_str");
    return kFailed;
  }
  std::memcpy(block, replaced.c_str(), replaced.size() + 1);
  std::free(*subject);
  *subject = static_cast<char *>(block);
  return kOk;
}

}  // namespace zz
