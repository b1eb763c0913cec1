// database_message.cpp - OutMsg, as BdReadMsg filled it, copied into the
// outgoing record. Attachments and signatures travel as files: each is read
// from the path the database gives.
#include "outgoing/database_message.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "completion/check_signed.h"
#include "files/blocks.h"
#include "files/file_io.h"
#include "frame/events.h"
#include "host/crypto.h"
#include "host/database.h"
#include "outgoing/message_text.h"
#include "outgoing/outgoing_record.h"

namespace zz {
namespace {

constexpr const char *kExport = "OXT_get_files";
constexpr size_t kListLine = 4096;

bool copy_text(char **out, const char *text) {
  return create_string(out, text) == kOk;
}

bool append_line(WriteBuffer *buffer, const char *name, const char *value) {
  char line[kListLine];
  std::snprintf(line, sizeof line, "%s:%s\r\n", name, value != nullptr ? value : "");
  return store_write_string(buffer, line) == kOk;
}

bool read_attachments(const BdMsg &in, OutgoingMessage *msg) {
  msg->File = static_cast<FileEntry *>(std::calloc(in.AttachmentCount + 1, sizeof(FileEntry)));
  if (msg->File == nullptr) return false;
  for (uint32_t i = 0; i < in.AttachmentCount; ++i) {
    const BdAttachment &a = in.Attachments[i];
    FileEntry &file = msg->File[i];
    const char *path = a.FilePath != nullptr ? a.FilePath : "";
    if (!read_from_file(path, &file.Data, &file.Length)) {
      report_failure(OXT_EV_READ_FILE, "read_from_file", kExport, path);
      return false;
    }
    msg->NumberFile = i + 1;
    if (!copy_text(&file.Name, a.Name != nullptr ? a.Name : "")) return false;
  }
  return true;
}

bool copy_recipients(const BdMsg &in, OutgoingMessage *msg) {
  if (in.RecipientCount == 0 || in.Recipients == nullptr) return true;
  msg->Recipients =
      static_cast<AddressEntry *>(std::calloc(in.RecipientCount, sizeof(AddressEntry)));
  if (msg->Recipients == nullptr) return false;
  msg->RecipientCount = in.RecipientCount;
  for (uint32_t i = 0; i < in.RecipientCount; ++i) {
    const AddressEntry &r = in.Recipients[i];
    if (r.Address != nullptr && !copy_text(&msg->Recipients[i].Address, r.Address)) return false;
    if (r.Type != nullptr && !copy_text(&msg->Recipients[i].Type, r.Type)) return false;
  }
  return true;
}

// append_signatures - the entries of one attachment's signatures
bool append_signatures(CCA_CONTEXT crypto, const BdAttachment &a, const FileEntry &file,
                       WriteBuffer *list) {
  char hash[kHashTextSize];
  if (!hash_text(crypto, file.Data, file.Length, hash, kExport)) return false;
  for (uint32_t s = 0; s < a.SignCount && a.Signs != nullptr; ++s) {
    const BdSign &sign = a.Signs[s];
    if (!append_line(list, "Name-Signer", sign.SignerName) ||
        !append_line(list, "Hash-Value", hash) || !append_line(list, "Name-Attachment", a.Name) ||
        (sign.SignerType != nullptr &&
         !append_line(list, "Signer-Type-Address", sign.SignerType)) ||
        (sign.SignerAddress != nullptr &&
         !append_line(list, "Signer-Address", sign.SignerAddress))) {
      return false;
    }
    const char *path = sign.SignFilePath != nullptr ? sign.SignFilePath : "";
    uint8_t *data = nullptr;
    uint32_t length = 0;
    if (!read_from_file(path, &data, &length)) {
      report_failure(OXT_EV_READ_FILE, "read_from_file", kExport, path);
      return false;
    }
    Owned<uint8_t> bytes(data);
    char line[kListLine];
    std::snprintf(line, sizeof line, "%s:%lu\r\n", "Length-Sign",
                  static_cast<unsigned long>(length));
    if (store_write_string(list, line) != kOk || store_write_string(list, "Sign:\r\n") != kOk ||
        store_write_buffer(list, bytes.get(), length) != kOk) {
      return false;
    }
  }
  return true;
}

// add_signature_list - "OLMSIGN.CRS" in the spare entry, when any attachment is signed
bool add_signature_list(CCA_CONTEXT crypto, const BdMsg &in, OutgoingMessage *msg) {
  WriteBuffer list{};
  for (uint32_t i = 0; i < in.AttachmentCount; ++i) {
    if (in.Attachments[i].SignCount == 0) continue;
    if (!append_signatures(crypto, in.Attachments[i], msg->File[i], &list)) {
      free_write_buffer(&list);
      return false;
    }
  }
  if (list.Length == 0) return true;
  FileEntry &entry = msg->File[msg->NumberFile];
  if (!copy_text(&entry.Name, kSignListName)) {
    free_write_buffer(&list);
    return false;
  }
  entry.Data = list.Data;
  entry.Length = list.Length;
  ++msg->NumberFile;
  return true;
}

bool copy_message(CCA_CONTEXT crypto, const BdMsg &in, OutgoingMessage *msg) {
  if (in.AttachmentCount != 0 && !read_attachments(in, msg)) return false;
  if (!copy_recipients(in, msg)) return false;
  if (!copy_text(&msg->Subject, in.Subject != nullptr ? in.Subject : "")) return false;
  if (in.Body != nullptr) {
    void *block = nullptr;
    if (create_data(&block, in.Body, in.BodyLength) != kOk) return false;
    msg->Body = static_cast<uint8_t *>(block);
    msg->BodyLength = in.BodyLength;
  }
  msg->Flags = in.Flags & 3u;
  if (in.SenderAddress != nullptr && !copy_text(&msg->SenderAddress, in.SenderAddress))
    return false;
  if (in.SenderType != nullptr && !copy_text(&msg->SenderType, in.SenderType)) return false;
  if ((msg->Flags & 2u) != 0 && in.AttachmentCount != 0 && !add_signature_list(crypto, in, msg)) {
    return false;
  }
  return true;
}

}  // namespace

uint32_t collect_database_message(GetFileCtx *ctx, CCA_CONTEXT crypto, OutgoingMessage *msg) {
  std::memset(msg, 0, sizeof *msg);
  std::memset(&ctx->OutMsg, 0, sizeof ctx->OutMsg);
  const uint32_t read = host::db_read(ctx->BdHandle, &ctx->OutMsg);
  if (read == 1) return 1;
  if (read != 0) {
    report_failure(OXT_EV_BD_READ, "BdReadMsg", kExport);
    return kFailed;
  }
  if (!copy_message(crypto, ctx->OutMsg, msg)) {
    host::db_free(ctx->BdHandle, &ctx->OutMsg, 0, "");
    free_outgoing_message(msg);
    return kFailed;
  }
  ctx->OutMsgHeld = 1;
  return kOk;
}

}  // namespace zz
