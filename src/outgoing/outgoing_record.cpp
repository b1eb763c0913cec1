// outgoing_record.cpp - release of the outgoing record: attachments,
// recipients, subject, body, sender, then the four send-request texts.
#include "outgoing/outgoing_record.h"

#include <cstdlib>
#include <cstring>

#include "files/blocks.h"

namespace zz {

void free_outgoing_message(OutgoingMessage *msg) {
  free_file_entries(msg->File, msg->NumberFile);
  free_pairs(msg->Recipients, msg->RecipientCount);
  std::free(msg->Subject);
  std::free(msg->Body);
  std::free(msg->SenderAddress);
  std::free(msg->SenderType);
  free_quad(msg->InfoPickupPath, msg->InfoWorkPath, msg->SendDirPath, msg->SendDirName);
  std::memset(msg, 0, sizeof *msg);
}

}  // namespace zz
