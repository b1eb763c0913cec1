// container.h - the signed-file container an incoming signed or encrypted
// message arrives in: a "Length-File" line first, the "File-Data" block, then
// per signature a "Name-Signer" line (and for the database its type and
// address lines), a "Length-Sign" line and the "Sign" block.
#pragma once

#include <cstdint>

#include "text/header_record.h"

namespace zz {

struct ContainerBlock {
  const uint8_t *Data;  // points into the container
  uint32_t Length;
};

// read_container_file - the "File-Data" block; `rest` is left after it.
// False when the first line is not "Length-File" or a value or block is missing.
bool read_container_file(const uint8_t *data, uint32_t length, ContainerBlock *file,
                         TextCursor *rest);

struct ContainerSignature {
  char Signer[kLineSize];
  ContainerBlock Sign;
};

// next_container_signature - the next signer and "Sign" block; false at the
// first signature that lacks either
bool next_container_signature(TextCursor *cursor, ContainerSignature *signature);

}  // namespace zz
