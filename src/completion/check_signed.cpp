// check_signed.cpp - parsing signature lists and checking every file of a
// message against them. The verdict is all or nothing: the first file that
// fails ends the check; signatures archived before it stay in the archive.
#include "completion/check_signed.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/blocks.h"
#include "files/file_io.h"
#include "files/file_ops.h"
#include "frame/events.h"
#include "host/crypto.h"
#include "host/settings.h"
#include "incoming/target_path.h"
#include "outgoing/message_text.h"
#include "platform/os.h"
#include "text/compare.h"
#include "text/header_record.h"
#include "text/masks.h"

namespace zz {
namespace {

constexpr const char *kCheck = "check_signed_files";
constexpr const char *kParse = "create_sign_struct";

bool missing_key(const char *key, const char *step) {
  report_failure(OXT_EV_SIGN_LIST_FIELD, step, kParse, key);
  return false;
}

bool required_value(TextCursor *cursor, const char *key, char **out) {
  char value[kLineSize];
  if (!find_next_value(cursor, value, key, "Length-Sign")) {
    return missing_key(key, "seek_string_upto_mask");
  }
  return create_string(out, value) == kOk;
}

// length_sign - the "Length-Sign" value; the search ends only at the line
// that is "Sign" itself, passing over the signer's type and address lines
bool length_sign(TextCursor *cursor, uint32_t *length) {
  char line[kLineSize];
  const size_t name_length = std::strlen("Length-Sign");
  while (read_line(cursor, line)) {
    normalise(line);
    if (line[0] == '\0') continue;
    if (equal_ascii_ignoring_case(line, "Sign")) break;
    if (std::strlen(line) > name_length && cmp_prefix(line, "Length-Sign") == 0) {
      char *value = line + name_length;
      normalise(value);
      *length = to_number(value, nullptr, 10);
      return true;
    }
  }
  return missing_key("Length-Sign", "seek_string_upto_mask");
}

bool parse_entry(TextCursor *cursor, SignStruct *entry) {
  if (!required_value(cursor, "Name-Signer", &entry->NameSigner) ||
      !required_value(cursor, "Hash-Value", &entry->Hash) ||
      !required_value(cursor, "Name-Attachment", &entry->NameAttachment)) {
    return false;
  }
  char value[kLineSize];
  entry->TypeAddress = find_value(*cursor, value, "Signer-Type-Address", "Length-Sign") &&
                               equal_ascii_ignoring_case(value, "EX")
                           ? 0
                           : 1;
  if (find_value(*cursor, value, "Signer-Address", "Length-Sign") &&
      create_string(&entry->Address, value) != kOk) {
    return false;
  }
  if (!length_sign(cursor, &entry->LengthSign)) return false;
  // The signature starts right after the LF of the "Sign" line; a list that
  // holds fewer bytes than it claims has no signature there.
  if (!skip_past(cursor, "Sign") || entry->LengthSign > cursor->Left) {
    return missing_key("Sign", "seek_string_mask");
  }
  void *block = nullptr;
  if (create_data(&block, cursor->Pos, entry->LengthSign) != kOk) return false;
  entry->Sign = static_cast<uint8_t *>(block);
  cursor->Pos += entry->LengthSign;
  cursor->Left -= entry->LengthSign;
  return true;
}

// Archive - where verified signatures go, when archiving is on.
struct Archive {
  bool on = false;
  char path[host::kTextSize] = "";
};

bool read_archive(Archive *archive) {
  char key[host::kTextSize];
  if (!host::fetch_registry_key_into(key)) {
    report_failure(OXT_EV_REGISTRY_KEY, "NR_GetRegistryKeyString", kCheck);
    return false;
  }
  uint32_t flags = 0;
  if (!host::read_dword_ex(key, "ArchiveFlags", &flags)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetDWORDEx", kCheck, "ArchiveFlags", key);
    return false;
  }
  if ((flags & 1) == 0) return true;
  if (!host::read_path(key, "ArchivePathOut", archive->path, "Archive\\Out\\")) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetPath", kCheck, "ArchivePathOut", key);
    return false;
  }
  size_t n = std::strlen(archive->path);
  if (n == 0 || archive->path[n - 1] != '\\') append_text(archive->path, "\\");
  uint32_t sort = 0;
  if (!host::read_dword_ex(key, "ArchiveOutSort", &sort)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetDWORDEx", kCheck, "ArchiveOutSort", key);
    return false;
  }
  if (sort >= 1 && sort <= 3) {
    const os::LocalTime now = os::current().local_time();
    char date[32];
    static const char *const kFormats[] = {"%04d%02d%02d", "%04d%02d", "%04d"};
    std::snprintf(date, sizeof date, kFormats[sort - 1], now.year, now.month, now.day);
    append_text(archive->path, date);
    if (!is_dir(archive->path) && !os::current().create_directory(archive->path)) {
      report_failure(OXT_EV_CREATE_DIR, "CreateDirectory", kCheck, archive->path);
      return false;
    }
    append_text(archive->path, "\\");
  }
  archive->on = true;
  return true;
}

bool archive_signature(const Archive &archive, const FileEntry &file, const SignStruct &entry) {
  char name[kNameSize];
  std::snprintf(name, sizeof name, "%s", file.Name != nullptr ? file.Name : "");
  replace_invalid_chars(name);
  char path[host::kTextSize];
  std::snprintf(path, sizeof path, "%s", archive.path);
  append_text(path, name);
  make_unique_path(path);
  char signer[kNameSize];
  std::snprintf(signer, sizeof signer, "%s", entry.NameSigner);
  replace_invalid_chars(signer);
  append_text(path, ".");
  append_text(path, signer);
  append_text(path, ".sgn");
  make_unique_path(path);
  if (write_to_file(path, entry.Sign, entry.LengthSign)) return true;
  report_failure(OXT_EV_WRITE_FILE, "write_to_file", kCheck, path);
  return false;
}

const SignStruct *matching_entry(const SignStruct *entries, uint32_t count, const char *name,
                                 const char *hash) {
  for (uint32_t j = 0; j < count; ++j) {
    if (entries[j].NameAttachment == nullptr || entries[j].Hash == nullptr) continue;
    if (cmp_upper_str(entries[j].NameAttachment, name) == 0 &&
        equal_ascii_ignoring_case(hash, entries[j].Hash)) {
      return &entries[j];
    }
  }
  return nullptr;
}

bool report_verdict(host::SignVerdict verdict) {
  switch (verdict) {
    case host::SignVerdict::kValid:
      return true;
    case host::SignVerdict::kSignedDataFailed:
      report_failure(OXT_EV_SIGNED_DATA, "CCA_sender_signed_data", kCheck);
      return false;
    case host::SignVerdict::kCertNotFound:
      report_failure(OXT_EV_FIND_CERT, "CCA_find_cert_by_serial", kCheck);
      return false;
    case host::SignVerdict::kCheckFailed:
      report_failure(OXT_EV_CHECK_SIGN, "CCA_check_mem_sep", kCheck);
      return false;
    case host::SignVerdict::kNotCorrect:
      report_failure(OXT_EV_SIGN_NOT_CORRECT, "Check.Status==CCD_NOT_CORRECT", kCheck);
      return false;
    case host::SignVerdict::kKeyNotFound:
      report_failure(OXT_EV_SIGN_KEY_NOT_FOUND, "Check.Status==CCD_OKEY_NOT_FOUND", kCheck);
      return false;
    default:
      report_failure(OXT_EV_SIGN_OTHER_ERROR, "Check.Status==CCD_OTHER_ERRORS", kCheck);
      return false;
  }
}

bool check_file(CCA_CONTEXT crypto, const FileEntry &file, const SignStruct *entries,
                uint32_t count, uint32_t mode, const Archive &archive) {
  char hash[kHashTextSize];
  if (!hash_text(crypto, file.Data, file.Length, hash, kCheck)) return false;
  const char *name = file.Name != nullptr ? file.Name : "";
  const SignStruct *entry = matching_entry(entries, count, name, hash);
  if (entry == nullptr) {
    report_failure(OXT_EV_DIGEST_MISMATCH, "stricmp(hash_str, s[j].Hash)", kCheck, name);
    return false;
  }
  if (!report_verdict(host::verify_signature(crypto, file.Data, file.Length, entry->Sign,
                                             entry->LengthSign, mode, entry->TypeAddress,
                                             entry->Address))) {
    return false;
  }
  return !archive.on || archive_signature(archive, file, *entry);
}

}  // namespace

int32_t create_sign_struct(const uint8_t *list, uint32_t length, SignStruct *entries,
                           int32_t count) {
  TextCursor cursor = make_cursor(list, list != nullptr ? length : 0);
  for (int32_t i = 0; i < count; ++i) {
    if (!parse_entry(&cursor, &entries[i])) return -1;
  }
  return 0;
}

void free_sign_structs(SignStruct *entries, uint32_t count) {
  if (entries == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    std::free(entries[i].NameSigner);
    std::free(entries[i].Hash);
    std::free(entries[i].NameAttachment);
    std::free(entries[i].Address);
    std::free(entries[i].Sign);
  }
  std::free(entries);
}

int32_t check_signed_files(CCA_CONTEXT crypto, const FileEntry *files, uint32_t count,
                           uint32_t search_flag) {
  if (count <= 1) {
    report_failure(OXT_EV_TOO_FEW_FILES, "(NumberFile <= 1)", kCheck, count);
    return -1;
  }
  uint32_t list = count;
  for (uint32_t i = 0; i < count && list == count; ++i) {
    const char *name = files[i].Name != nullptr ? files[i].Name : "";
    if (cmp_upper_str(name, kSignListName) == 0 || cmp_upper_str(name, kSignListNameRu) == 0) {
      list = i;
    }
  }
  if (list == count) {
    report_failure(OXT_EV_NO_SIGN_LIST, "cmp_upper_str(File[i].Name, OXT_NAME_SIGNED_ATTACHMENT)",
                   kCheck);
    return -1;
  }
  const uint32_t entry_count = count - 1;
  auto *entries = static_cast<SignStruct *>(std::calloc(entry_count, sizeof(SignStruct)));
  if (entries == nullptr) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", kCheck);
    return -1;
  }
  auto release = [&] {
    free_sign_structs(entries, entry_count);
    return -1;
  };
  if (create_sign_struct(files[list].Data, files[list].Length, entries,
                         static_cast<int32_t>(entry_count)) != 0) {
    return release();
  }
  Archive archive;
  if (!read_archive(&archive)) return release();
  const uint32_t mode = search_flag != 0 ? 1 : 3;
  for (uint32_t i = 0; i < count; ++i) {
    if (i == list) continue;
    if (!check_file(crypto, files[i], entries, entry_count, mode, archive)) return release();
  }
  free_sign_structs(entries, entry_count);
  return 0;
}

}  // namespace zz
