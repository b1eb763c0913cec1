// find_directory.h - the scan for send directories: the first one of a rule
// directory that is due is claimed (its descriptor moved to a working name)
// and turned into the parts of an outgoing message.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

// SendDirectory - the parts of a claimed send directory, all owned.
struct SendDirectory {
  FileEntry *Files;
  uint32_t FileCount;
  AddressEntry *Recipients;  // null when the descriptor has no "Email" line
  uint32_t RecipientCount;
  char *Subject;  // null when absent
  uint8_t *Body;  // null when absent
  uint32_t BodyLength;
  uint32_t Protection;   // 0 when no "Protection" line was recognised
  AddressEntry *Sender;  // null when absent
  char *InfoPickupPath;
  char *InfoWorkPath;
  char *SendDirPath;  // without a final "\"
  char *SendDirName;
};

void release_send_directory(SendDirectory *dir);

// find_directory - 0 taken, 2 taken but a file could not be read (the files
// read before it are handed out), 1 none taken, -1 failure
int32_t find_directory(GetFileCtx *ctx, const char *directory, SendDirectory *out);

}  // namespace zz
