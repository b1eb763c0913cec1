// message_text.h - small tools for building outgoing messages: a growing
// byte buffer (the signature list of a database message is written into
// one), the hexadecimal text of a digest, and the file-name tokens of
// subjects ("<#%#>" whole name, "<#.%#>" up to the first ".", "<#%.#>" up to
// the last ".").
#pragma once

#include <cstddef>
#include <cstdint>

#include "zozerez.h"

namespace zz {

// WriteBuffer - content without a terminating zero; all zero while empty.
struct WriteBuffer {
  uint8_t *Data;
  uint32_t Length;
  uint32_t Capacity;
};

// store_write_buffer - 0 appended; 0xFFFFFFFF with the buffer as it was
uint32_t store_write_buffer(WriteBuffer *buffer, const void *piece, uint32_t length);
uint32_t store_write_string(WriteBuffer *buffer, const char *text);
void free_write_buffer(WriteBuffer *buffer);

// digest_to_text - "0A 1B FF": three characters per byte in `out`
void digest_to_text(const uint8_t *digest, uint32_t length, char *out);

constexpr uint32_t kLongestDigest = 85;  // three characters a byte in 256
constexpr size_t kHashTextSize = 3 * kLongestDigest + 1;

// hash_text - CCA_hash_mem of the bytes as its text (kHashTextSize); false
// after reporting 0xE009000C for `function`
bool hash_text(CCA_CONTEXT crypto, const uint8_t *data, uint32_t length, char *out,
               const char *function);

// replace_mask_on_str - the first kind of token found is replaced by the
// name's piece; 0 done or nothing to do, 0xFFFFFFFF (subject unchanged)
uint32_t replace_mask_on_str(char **subject, const char *file_name);

}  // namespace zz
