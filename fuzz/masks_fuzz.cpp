// masks_fuzz.cpp - match_mask and transform_name on arbitrary masks, names
// and templates (three texts separated by zero bytes), with dates. A mask
// that matches a name matches it in upper case too, and a template's output
// holds a path separator only when the template or the name had one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/os.h"
#include "text/masks.h"

namespace {

bool has_separator(const std::string &text) {
  return text.find_first_of("\\/") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t first = input.find('\0');
  size_t second = first == std::string::npos ? first : input.find('\0', first + 1);
  const std::string mask = input.substr(0, first);
  const std::string name =
      first == std::string::npos ? mask : input.substr(first + 1, second - first - 1);
  const std::string pattern =
      second == std::string::npos ? "*<DDMMYYYY>?" : input.substr(second + 1);
  if (zz::match_mask(mask.c_str(), name.c_str()) == 0) {
    std::string upper = name;
    zz::os::upper_1251(upper.data());
    if (zz::match_mask(mask.c_str(), upper.c_str()) != 0) std::abort();
  }
  char result[zz::kNameSize];
  if (zz::transform_name(mask.c_str(), name.c_str(), pattern.c_str(), result) == 0 &&
      has_separator(result) && !has_separator(pattern) && !has_separator(name)) {
    std::abort();
  }
  char base[zz::kNameSize], ext[zz::kNameSize];
  zz::split_name_ext(name.substr(0, 2047).c_str(), base, ext);
  return 0;
}
