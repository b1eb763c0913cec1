// check_signed.h - verification of a send directory's files against its
// signature list ("OLMSIGN.CRS" or "ЭЦП.crs"): every file's digest must be
// in the list and its detached signature valid; with archiving on, each
// verified signature is also written as a ".sgn" file into the archive.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

constexpr const char kSignListName[] = "OLMSIGN.CRS";         // OXT_NAME_SIGNED_ATTACHMENT
constexpr const char kSignListNameRu[] = "\xDD\xD6\xCF.crs";  // ЭЦП.crs

// SignStruct - one entry of a signature list, all texts and bytes owned.
struct SignStruct {
  char *NameSigner;
  char *Hash;
  char *NameAttachment;
  uint32_t TypeAddress;  // 0 for "EX", else 1
  char *Address;         // null when absent
  uint8_t *Sign;
  uint32_t LengthSign;
};

// create_sign_struct - parses the first `count` entries; 0, or -1 (the array
// keeps what was filled, for the caller to release)
int32_t create_sign_struct(const uint8_t *list, uint32_t length, SignStruct *entries,
                           int32_t count);
void free_sign_structs(SignStruct *entries, uint32_t count);

// check_signed_files - 0 every file verified (and archived), -1 otherwise
int32_t check_signed_files(CCA_CONTEXT crypto, const FileEntry *files, uint32_t count,
                           uint32_t search_flag);

}  // namespace zz
