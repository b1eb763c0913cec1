// bd_message.h - the incoming database message InMsg: growth of its arrays
// and its two releases (keeping the stored files after a database write,
// deleting them, and the message's own directory, otherwise).
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

constexpr uint32_t kArrayStep = 64;
constexpr uint32_t kSignRoom = 76;
constexpr uint32_t kMostSigns = 64;

// next_recipient / next_attachment - a zeroed entry at the end, counted; null on no memory
AddressEntry *next_recipient(BdMsg *msg);
BdAttachment *next_attachment(BdMsg *msg);

void release_msg(BdMsg *msg);
void release_msg_and_files(BdMsg *msg);

}  // namespace zz
