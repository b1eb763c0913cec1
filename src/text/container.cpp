// container.cpp - reading the signed-file container.
#include "text/container.h"

namespace zz {

bool read_container_file(const uint8_t *data, uint32_t length, ContainerBlock *file,
                         TextCursor *rest) {
  TextCursor cursor = make_cursor(data, length);
  uint32_t size = 0;
  const uint8_t *block = nullptr;
  if (data == nullptr || !next_line_is(cursor, "Length-File") ||
      !seek_number(&cursor, "Length-File", &size) ||
      !seek_block(&cursor, "File-Data", size, &block)) {
    return false;
  }
  *file = ContainerBlock{block, size};
  *rest = cursor;
  return true;
}

bool next_container_signature(TextCursor *cursor, ContainerSignature *signature) {
  uint32_t size = 0;
  const uint8_t *block = nullptr;
  if (!seek_value(cursor, "Name-Signer", signature->Signer) ||
      !seek_number(cursor, "Length-Sign", &size) || !seek_block(cursor, "Sign", size, &block)) {
    return false;
  }
  signature->Sign = ContainerBlock{block, size};
  return true;
}

}  // namespace zz
