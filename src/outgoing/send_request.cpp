// send_request.cpp - reading send-request descriptors.
#include "outgoing/send_request.h"

#include <cstdlib>
#include <string>

#include "files/blocks.h"
#include "platform/os.h"
#include "rules/output_rules.h"
#include "text/names.h"

namespace zz {

uint32_t protection_word(TextCursor descriptor) {
  uint32_t word = 0;
  char value[kLineSize];
  while (find_next_value(&descriptor, value, "Protection", kBodyMarker)) {
    if (cmp_prefix(value, "Crypt") == 0) {
      word = (word & ~kProtectNone) | kProtectEncrypt;
    } else if (cmp_prefix(value, "Sign") == 0) {
      word = (word & ~kProtectNone) | kProtectSign;
    } else if (cmp_prefix(value, "Plain") == 0 && word == 0) {
      word = kProtectNone;
    }
  }
  return word;
}

uint32_t make_descriptor_address(const char *value, AddressEntry *entry) {
  char type[kAddressTypeSize];
  char address[kLineSize];
  split_address(value, type, address);
  trim(address);
  return make_address_entry(entry, type, address);
}

uint32_t count_files(const char *pattern) {
  os::DirEntry entry;
  auto finder = os::current().find_first(pattern, &entry);
  if (!finder) return 0;
  uint32_t count = 0;
  do {
    if ((entry.attributes & os::kAttrDirectory) != 0 || entry.name == "." || entry.name == "..")
      continue;
    if (!is_work_name(entry.name.c_str())) ++count;
  } while (finder->next(&entry));
  return count;
}

}  // namespace zz
