// bd_message.cpp - arrays that grow by 64 entries, and the releases.
#include "database/bd_message.h"

#include <cstdlib>
#include <cstring>

#include "files/blocks.h"
#include "files/file_ops.h"

namespace zz {
namespace {

// grow - room for one more entry: a new array 64 entries larger whenever
// the count reaches a multiple of 64
template <class T>
T *grow(T *&array, uint32_t &count) {
  if (count % kArrayStep == 0) {
    auto *bigger = static_cast<T *>(std::calloc(count + kArrayStep, sizeof(T)));
    if (bigger == nullptr) return nullptr;
    if (count != 0) std::memcpy(bigger, array, count * sizeof(T));
    std::free(array);
    array = bigger;
  }
  array[count] = T{};
  return &array[count++];
}

void free_signs(BdAttachment &a) {
  for (uint32_t s = 0; s < a.SignCount; ++s) {
    std::free(a.Signs[s].SignerName);
    std::free(a.Signs[s].SignerType);
    std::free(a.Signs[s].SignerAddress);
    std::free(a.Signs[s].SignFileName);
    std::free(a.Signs[s].SignFilePath);
  }
  std::free(a.Signs);
}

}  // namespace

AddressEntry *next_recipient(BdMsg *msg) {
  return grow(msg->Recipients, msg->RecipientCount);
}

BdAttachment *next_attachment(BdMsg *msg) {
  return grow(msg->Attachments, msg->AttachmentCount);
}

void release_msg(BdMsg *msg) {
  std::free(msg->MsgGuid);
  std::free(msg->Subject);
  std::free(msg->Body);
  std::free(msg->SenderAddress);
  std::free(msg->SenderType);
  std::free(msg->Digest);
  free_pairs(msg->Recipients, msg->RecipientCount);
  for (uint32_t i = 0; i < msg->AttachmentCount; ++i) {
    BdAttachment &a = msg->Attachments[i];
    std::free(a.Guid);
    std::free(a.FilePath);
    std::free(a.Name);
    free_signs(a);
  }
  std::free(msg->Attachments);
  std::free(msg->MsgDir);
  std::memset(msg, 0, sizeof *msg);
}

void release_msg_and_files(BdMsg *msg) {
  for (uint32_t i = 0; i < msg->AttachmentCount; ++i) {
    const BdAttachment &a = msg->Attachments[i];
    for (uint32_t s = 0; s < a.SignCount; ++s) {
      if (a.Signs[s].SignFilePath != nullptr) delete_file(a.Signs[s].SignFilePath);
    }
    if (a.FilePath != nullptr) delete_file(a.FilePath);
  }
  if (msg->MsgDir != nullptr) remove_directory(msg->MsgDir);
  release_msg(msg);
}

}  // namespace zz
