// header_record_fuzz.cpp - every reading operation of header records on
// arbitrary bytes: lookups with and without a stop marker, counts, and the
// signed-file container walk with its blocks.
#include <cstdint>
#include <cstring>
#include <vector>

#include "text/header_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A copy of exactly `size` bytes, so that any read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  const zz::TextCursor record = zz::make_cursor(bytes.data(), static_cast<uint32_t>(size));
  char value[zz::kLineSize];
  uint32_t number = 0;
  for (const char *name : {"Email", "Subject", "From", "Length-File", "", ":"}) {
    zz::find_value(record, value, name, "Body");
    zz::find_number(record, name, &number, nullptr);
    zz::count_values(record, name, "Body");
    zz::next_line_is(record, name);
  }
  zz::TextCursor walk = record;
  while (zz::find_next_value(&walk, value, "Email", "Body")) {
  }
  walk = record;
  zz::skip_past(&walk, "Body");

  walk = record;
  const uint8_t *block = nullptr;
  if (zz::seek_number(&walk, "Length-File", &number) &&
      zz::seek_block(&walk, "File-Data", number, &block)) {
    volatile uint8_t sink = number != 0 ? block[number - 1] : 0;
    (void)sink;
    while (zz::seek_value(&walk, "Name-Signer", value) &&
           zz::seek_number(&walk, "Length-Sign", &number) &&
           zz::seek_block(&walk, "Sign", number, &block)) {
    }
  }
  walk = record;
  while (zz::read_line(&walk, value)) {
  }
  return 0;
}
