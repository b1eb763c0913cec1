// split_address_fuzz.cpp - address values of any length and content.
#include <cstdint>
#include <string>

#include "text/header_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string value(reinterpret_cast<const char *>(data), size);
  char type[zz::kAddressTypeSize];
  char address[zz::kLineSize];
  // Values come from lines, so they are never longer than a line buffer.
  zz::split_address(value.substr(0, zz::kLineSize - 1).c_str(), type, address);
  return 0;
}
