// masks_fuzz.cpp - match_mask and transform_name on arbitrary masks, names
// and templates (three texts separated by zero bytes), with dates.
#include <cstdint>
#include <string>

#include "text/masks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t first = input.find('\0');
  size_t second = first == std::string::npos ? first : input.find('\0', first + 1);
  const std::string mask = input.substr(0, first);
  const std::string name =
      first == std::string::npos ? mask : input.substr(first + 1, second - first - 1);
  const std::string pattern =
      second == std::string::npos ? "*<DDMMYYYY>?" : input.substr(second + 1);
  zz::match_mask(mask.c_str(), name.c_str());
  char result[zz::kNameSize];
  zz::transform_name(mask.c_str(), name.c_str(), pattern.c_str(), result);
  char base[zz::kNameSize], ext[zz::kNameSize];
  zz::split_name_ext(name.substr(0, 2047).c_str(), base, ext);
  return 0;
}
