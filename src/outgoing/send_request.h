// send_request.h - the send-request descriptor "olminfo.txt" of a send
// directory: recipients ("Email"), sender ("From"), "Subject", "Protection",
// separate sending, guaranteed-delivery repeats and times, and the free text
// after the "Body" line. No key is looked for after the "Body" line.
#pragma once

#include <cstdint>

#include "text/header_record.h"
#include "zozerez.h"

namespace zz {

constexpr const char kDescriptorName[] = "olminfo.txt";
constexpr const char kBodyMarker[] = "Body";

// protection_word - from every "Protection" line: "Crypt" sets 1 and clears 4,
// "Sign" sets 2 and clears 4, "Plain" sets 4 while the word is still 0
uint32_t protection_word(TextCursor descriptor);
// make_descriptor_address - an owned entry from an "Email" or "From" value; 0 / 0xFFFFFFFF
uint32_t make_descriptor_address(const char *value, AddressEntry *entry);
// count_files - plain files the pattern finds, less working names
uint32_t count_files(const char *pattern);

}  // namespace zz
