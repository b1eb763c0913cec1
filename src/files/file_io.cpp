// file_io.cpp - whole-file reads and writes with their attempts and pauses.
#include "files/file_io.h"

#include <cstdlib>

#include "files/blocks.h"
#include "frame/events.h"
#include "platform/os.h"

namespace zz {
namespace {

// write_attempt - `made` is set when this attempt made the file
bool write_attempt(const char *path, const void *data, uint32_t length, bool *made,
                   os::OpenMode mode = os::OpenMode::kWriteCreateTruncate) {
  auto file = os::current().open(path, mode);
  if (!file) return false;
  if (file->created()) *made = true;
  uint32_t put = 0;
  return file->write(data, length, &put) && put == length;
}

// read_attempt - the block is handed out only when the whole file was read.
bool read_attempt(const char *path, uint8_t **data, uint32_t *length, bool *read_only = nullptr) {
  auto file = os::current().open(path, os::OpenMode::kReadExisting);
  if (!file) return false;
  if (read_only != nullptr) *read_only = file->read_only();
  uint32_t size = 0;
  if (!file->size(&size)) return false;
  Owned<uint8_t> block(static_cast<uint8_t *>(std::malloc(size + kSpareBytes)));
  if (!block) return false;
  if (size != 0) {
    uint32_t got = 0;
    if (!file->read(block.get(), size, &got) || got != size) return false;
  }
  *data = block.release();
  *length = size;
  return true;
}

}  // namespace

// write_to_file - a new file that could not be written whole is removed, so
// that a full disk leaves no empty or cut file for a scan or a reader to take
// as complete; a file that was there before stays as the failure left it.
int write_to_file(const char *path, const void *data, uint32_t length) {
  return write_new_file(path, data, length, false);
}

// write_new_file - the first attempt also learns whether the name is free,
// so a caller that wants a free name needs no look of its own beforehand.
int write_new_file(const char *path, const void *data, uint32_t length, bool only_new) {
  bool made = false;
  for (int attempt = 1; attempt <= kFileAttempts; ++attempt) {
    if (attempt == 1 && only_new) {
      if (write_attempt(path, data, length, &made, os::OpenMode::kWriteCreateNew)) return 1;
      if (!made && os::current().last_error() == os::kErrFileExists) return -1;
    } else if (write_attempt(path, data, length, &made)) {
      return 1;
    }
    if (attempt < kFileAttempts) os::current().sleep_ms(kFilePauseMs);
  }
  if (made) os::current().delete_file(path);
  return 0;
}

int read_from_file(const char *path, uint8_t **data, uint32_t *length) {
  for (int attempt = 1; attempt <= kFileAttempts; ++attempt) {
    if (read_attempt(path, data, length)) return 1;
    if (attempt == 3) {
      host::report_event(kLevelSummary, OXT_EV_READ_ATTEMPTS, os::current().last_error());
    }
    if (attempt < kFileAttempts) os::current().sleep_ms(kFilePauseMs);
  }
  return 0;
}

int read_file_once(const char *path, uint8_t **data, uint32_t *length, bool *read_only) {
  return read_attempt(path, data, length, read_only) ? 1 : 0;
}

int get_file_size(const char *path, uint32_t *length) {
  auto file = os::current().open(path, os::OpenMode::kReadExisting);
  if (!file) return 0;
  return file->size(length) ? 1 : 0;
}

int copy_to_file(const char *source, const char *target) {
  uint8_t *data = nullptr;
  uint32_t length = 0;
  if (!read_from_file(source, &data, &length)) return 0;
  Owned<uint8_t> content(data);
  return write_to_file(target, content.get(), length);
}

}  // namespace zz
