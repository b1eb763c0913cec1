// store_bd.cpp - OXT_store_bd_init, OXT_store_bd_add and OXT_store_bd_flush.
// After any failed add the whole message is released with its files, so that
// nothing of it is left behind; after a database write its files stay, for
// the database refers to them.
#include "database/store_bd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "database/bd_message.h"
#include "database/files_to_dir.h"
#include "files/blocks.h"
#include "files/file_io.h"
#include "files/file_ops.h"
#include "files/paths.h"
#include "frame/events.h"
#include "host/database.h"
#include "host/settings.h"
#include "incoming/target_path.h"
#include "platform/os.h"
#include "text/container.h"
#include "text/masks.h"
#include "text/names.h"

namespace zz {
namespace {

constexpr const char *kAdd = "OXT_store_bd_add";
constexpr const char *kFlush = "OXT_store_bd_flush";
constexpr const char *kSavePath = "get_path_for_save";
constexpr uint32_t kReceiptBit = 4;
constexpr uint32_t kProtected = 1 | 2;
constexpr size_t kJoinedLimit = 245;
constexpr int kWriteAttempts = 6;
// "Хэш-функция сообщения:"
constexpr const char kDigestRu[] =
    "\xD5\xFD\xF8-\xF4\xF3\xED\xEA\xF6\xE8\xFF \xF1\xEE\xEE\xE1\xF9\xE5\xED\xE8\xFF:";

bool copy_text(char **out, const char *text) {
  std::free(*out);
  *out = nullptr;
  return create_string(out, text != nullptr ? text : "") == kOk;
}

bool copy_bytes(uint8_t **out, uint32_t *length, const uint8_t *data, uint32_t size) {
  std::free(*out);
  *out = nullptr;
  void *block = nullptr;
  if (create_data(&block, data, data != nullptr ? size : 0) != kOk) return false;
  *out = static_cast<uint8_t *>(block);
  *length = data != nullptr ? size : 0;
  return true;
}

bool create_missing(const char *dir) {
  if (is_dir(dir) || os::current().create_directory(dir)) return true;
  report_failure(OXT_EV_CREATE_DIR, "CreateDirectory", kSavePath, dir);
  return false;
}

bool write_or_report(const char *path, const void *data, uint32_t length, const char *step) {
  if (write_to_file(path, data, length)) return true;
  report_failure(OXT_EV_WRITE_FILE, step, kAdd, path);
  return false;
}

const char *file_part(const char *path) {
  const char *slash = std::strrchr(path, '\\');
  return slash != nullptr ? slash + 1 : path;
}

// AttachmentStore - one part of type 9 written under the message's directory.
class AttachmentStore {
 public:
  AttachmentStore(GetFileCtx *ctx, CCA_CONTEXT *crypto, const BdPart &part)
      : ctx_(ctx), crypto_(crypto), part_(part), msg_(ctx->InMsg) {}

  bool run() {
    const char *name = part_.Name != nullptr ? part_.Name : "";
    if (((part_.Flags | msg_.Flags) & kReceiptBit) != 0 &&
        cmp_upper_str(name, "OLMNOTIF.TXT") == 0) {
      take_receipt_digest();
    }
    BdAttachment *entry = next_attachment(&msg_);
    if (entry == nullptr) {
      report_failure(OXT_EV_NO_MEMORY, "malloc", kAdd);
      return false;
    }
    if (get_random_guid(crypto_, &entry->Guid) != kOk) return false;
    if (!copy_text(&entry->Name, name)) return false;
    char dir[host::kTextSize];
    if (get_path_for_save(ctx_, dir, msg_.MsgGuid, &msg_.MsgDir) != 0) return false;
    char path[host::kTextSize];
    make_unique_path(dir, name, "", path);
    if ((part_.Flags & kProtected) == 0) {
      if (!write_or_report(path, part_.Data, part_.DataLength, "write_to_file(1)")) return false;
      return copy_text(&entry->FilePath, path);
    }
    ContainerBlock file;
    TextCursor signatures;
    if (!read_container_file(part_.Data, part_.DataLength, &file, &signatures)) {
      report_failure(OXT_EV_NO_FILE_DATA, "seek_file_value", kAdd);
      return false;
    }
    if (!write_or_report(path, file.Data, file.Length, "write_to_file(2)")) return false;
    if (!copy_text(&entry->FilePath, path)) return false;
    return store_signatures(dir, signatures, entry);
  }

 private:
  void take_receipt_digest() {
    char digest[kLineSize];
    if (!receipt_digest(part_.Data, part_.DataLength, digest)) return;
    copy_bytes(&msg_.Digest, &msg_.DigestLength, reinterpret_cast<const uint8_t *>(digest),
               static_cast<uint32_t>(std::strlen(digest)));
  }

  bool store_signatures(const char *dir, TextCursor cursor, BdAttachment *entry) {
    for (;;) {
      char signer[kLineSize], type[kLineSize], address[kLineSize];
      uint32_t length = 0;
      const uint8_t *sign = nullptr;
      if (!seek_value(&cursor, "Name-Signer", signer) ||
          !seek_value(&cursor, "Signer-Type-Address", type) ||
          !seek_value(&cursor, "Signer-Address", address) ||
          !seek_number(&cursor, "Length-Sign", &length) ||
          !seek_block(&cursor, "Sign", length, &sign)) {
        return true;
      }
      if (entry->SignCount >= kMostSigns) return true;
      char path[host::kTextSize];
      make_unique_path(dir, signer, ".sgn", path);
      if (!write_or_report(path, sign, length, "write_to_file(3)")) return false;
      if (entry->Signs == nullptr) {
        entry->Signs = static_cast<BdSign *>(std::calloc(kSignRoom, sizeof(BdSign)));
        if (entry->Signs == nullptr) {
          delete_file(path);
          report_failure(OXT_EV_NO_MEMORY, "malloc", kAdd);
          return false;
        }
      }
      BdSign &s = entry->Signs[entry->SignCount++];
      if (!copy_text(&s.SignFilePath, path) || !copy_text(&s.SignerName, signer) ||
          !copy_text(&s.SignerType, type) || !copy_text(&s.SignerAddress, address) ||
          !copy_text(&s.SignFileName, file_part(path))) {
        return false;
      }
    }
  }

  GetFileCtx *ctx_;
  CCA_CONTEXT *crypto_;
  const BdPart &part_;
  BdMsg &msg_;
};

bool store_part(GetFileCtx *ctx, CCA_CONTEXT *crypto, const BdPart &part) {
  BdMsg &m = ctx->InMsg;
  switch (part.PartType) {
    case 1:
      m.Flags = part.Flags;
      return true;
    case 2:
      return copy_text(&m.Subject, part.Subject);
    case 3:
      return copy_bytes(&m.Body, &m.BodyLength, part.Body, part.BodyLength);
    case 4:
      return copy_text(&m.SenderType, part.SenderType) &&
             copy_text(&m.SenderAddress, part.SenderAddress);
    case 5:
      // A receipt's digest comes only from its "OLMNOTIF.TXT".
      if (((part.Flags | m.Flags) & kReceiptBit) != 0) return true;
      return copy_bytes(&m.Digest, &m.DigestLength, part.Digest, part.DigestLength);
    case 6:
      m.Part6Value = part.Part6Value;
      return true;
    case 7:
      m.Part7Value = part.Part7Value;
      return true;
    case 8: {
      AddressEntry *entry = next_recipient(&m);
      if (entry == nullptr) {
        report_failure(OXT_EV_NO_MEMORY, "malloc", kAdd);
        return false;
      }
      return copy_text(&entry->Type, part.RecipientType) &&
             copy_text(&entry->Address, part.RecipientAddress);
    }
    case 9:
      return AttachmentStore(ctx, crypto, part).run();
    default:
      report_failure(OXT_EV_BAD_PART_TYPE, "default", kAdd, part.PartType);
      return false;
  }
}

bool only_dov_cab(const BdMsg &m) {
  if (m.AttachmentCount == 0 || m.Attachments == nullptr) return false;
  for (uint32_t i = 0; i < m.AttachmentCount; ++i) {
    const char *name = m.Attachments[i].Name != nullptr ? m.Attachments[i].Name : "";
    if (match_mask("*.dov.cab", name) != 0) return false;
  }
  return true;
}

bool write_with_retries(GetFileCtx *ctx) {
  uint32_t pause = 1000;
  for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
    if (host::db_write(ctx->BdHandle, &ctx->InMsg)) return true;
    if (attempt < kWriteAttempts) {
      os::current().sleep_ms(pause);
      pause *= 2;
    }
  }
  return false;
}

}  // namespace

bool receipt_digest(const uint8_t *data, uint32_t length, char *digest) {
  const TextCursor text = make_cursor(data, data != nullptr ? length : 0);
  return find_value(text, digest, kDigestRu, nullptr) ||
         find_value(text, digest, "Message digest:", nullptr);
}

int32_t get_path_for_save(GetFileCtx *ctx, char *dir, const char *guid, char **msg_dir) {
  std::snprintf(dir, host::kTextSize, "%s",
                ctx->AttachmentDir != nullptr ? ctx->AttachmentDir : "");
  strip_backslash(dir);
  if (!is_dir(dir)) {
    report_failure(OXT_EV_NO_DIRECTORY, "!is_dir", kSavePath, dir);
    return -1;
  }
  add_backslash(dir);
  if (add_date_string(ctx->AttachmentSort, dir)) {
    if (!create_missing(dir)) return -1;
    add_backslash(dir);
  }
  if (ctx->GuidSubdir != 0) {
    append_text(dir, guid != nullptr ? guid : "");
    if (!is_dir(dir)) {
      if (!create_missing(dir)) return -1;
      if (*msg_dir == nullptr && create_string(msg_dir, dir) != kOk) return -1;
    }
    add_backslash(dir);
  }
  return 0;
}

void make_unique_path(const char *dir, const char *name, const char *suffix, char *path) {
  char clean[kNameSize];
  std::snprintf(clean, sizeof clean, "%s", name);
  replace_invalid_chars(clean);
  std::string joined = std::string(dir) + clean;
  if (joined.size() > kJoinedLimit) joined.resize(kJoinedLimit);
  std::string candidate = joined + suffix;
  char base[kNameSize], ext[kNameSize];
  split_name_ext(joined.c_str(), base, ext);
  for (unsigned counter = 1; file_exists(candidate.c_str()); ++counter) {
    const std::string mark = "~" + std::to_string(counter);
    candidate = *suffix == '\0' ? std::string(base) + mark + ext : joined + mark + suffix;
  }
  std::snprintf(path, host::kTextSize, "%s", candidate.c_str());
}

uint32_t store_bd_init(GetFileCtx *ctx, CCA_CONTEXT *crypto) {
  std::memset(&ctx->InMsg, 0, sizeof ctx->InMsg);
  if (get_random_guid(crypto, &ctx->InMsg.MsgGuid) != kOk) {
    release_msg(&ctx->InMsg);
    return kFailed;
  }
  return kOk;
}

uint32_t store_bd_add(GetFileCtx *ctx, CCA_CONTEXT *crypto, const BdPart *part) {
  if (store_part(ctx, crypto, *part)) return kOk;
  release_msg_and_files(&ctx->InMsg);
  return kFailed;
}

uint32_t store_bd_flush(GetFileCtx *ctx) {
  BdMsg &m = ctx->InMsg;
  if (m.MsgGuid == nullptr) {
    report_summary("(!GetFileCtx->InMsg.MsgGuid)", kFlush);
    return kFailed;
  }
  const bool outside_database = only_dov_cab(m);
  if (!outside_database && !write_with_retries(ctx)) {
    report_failure(OXT_EV_BD_WRITE, "BdWriteMsg", kFlush);
    release_msg_and_files(&m);
    return kFailed;
  }
  if (store_bd_mes_files_to_dir(&m) != 0) host::signal_failure();
  if (outside_database) {
    release_msg_and_files(&m);
  } else {
    release_msg(&m);
  }
  return kOk;
}

}  // namespace zz
