// os.h - the one door from the module to the operating system.
// Every file, directory, clock, thread and text-conversion call of the module
// goes through `zz::os::current()`. Tests install a wrapper that records
// pauses or breaks a single call; `posix.cpp` and `win32.cpp` implement the
// real thing, one of them chosen by the build. Paths use "\" as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zz::os {

// Attribute bits as GetFileAttributesA reports them.
constexpr uint32_t kAttrReadOnly = 0x1;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrReparsePoint = 0x400;

// Windows error codes that callers and tests look at.
constexpr uint32_t kErrFileNotFound = 2;
constexpr uint32_t kErrPathNotFound = 3;
constexpr uint32_t kErrAccessDenied = 5;
constexpr uint32_t kErrSharingViolation = 32;
constexpr uint32_t kErrFileExists = 80;
constexpr uint32_t kErrDirNotEmpty = 145;
constexpr uint32_t kErrAlreadyExists = 183;

struct LocalTime {
  int year, month, day, hour, minute, second, milliseconds;
};

enum class OpenMode {
  kReadExisting,         // must exist; shared with nobody
  kWriteCreateTruncate,  // created or emptied after the lock is held; write-through
  kWriteCreateNew,       // created here, write-through; kErrFileExists if anything has the name
};

// An open, exclusively held file; the destructor closes it.
class File {
 public:
  virtual ~File() = default;
  // size - false when it cannot be had or is 0xFFFFFFFF or more
  virtual bool size(uint32_t *out) = 0;
  // read - up to len bytes; true when the call itself succeeded
  virtual bool read(void *buffer, uint32_t len, uint32_t *got) = 0;
  // write - the data reaches the disk before this returns true
  virtual bool write(const void *data, uint32_t len, uint32_t *put) = 0;
  // created - the open for writing made the file (it was not there before)
  virtual bool created() const = 0;
  // read_only - the file had the read-only attribute when it was opened
  virtual bool read_only() const = 0;
};

struct DirEntry {
  std::string name;
  uint32_t attributes = 0;
};

// An open directory search; the destructor closes it.
class Finder {
 public:
  virtual ~Finder() = default;
  virtual bool next(DirEntry *entry) = 0;
};

class Os {
 public:
  virtual ~Os() = default;
  // open - null on failure (last_error tells why)
  virtual std::unique_ptr<File> open(const char *path, OpenMode mode) = 0;
  // find_first - null when nothing matches; otherwise `first` holds the first match
  virtual std::unique_ptr<Finder> find_first(const char *pattern, DirEntry *first) = 0;
  virtual bool get_attributes(const char *path, uint32_t *attributes) = 0;
  virtual bool set_attributes(const char *path, uint32_t attributes) = 0;
  virtual bool create_directory(const char *path) = 0;
  virtual bool remove_directory(const char *path) = 0;
  virtual bool delete_file(const char *path) = 0;
  // move_file - never replaces an existing target
  virtual bool move_file(const char *from, const char *to) = 0;
  // is_volume_root - path already ends in a separator
  virtual bool is_volume_root(const char *path) = 0;
  // temp_path - the temporary directory, ending in a separator
  virtual bool temp_path(std::string *out) = 0;
  virtual LocalTime local_time() = 0;
  virtual int64_t unix_time() = 0;
  // sleep_ms - the only way the module ever waits
  virtual void sleep_ms(uint32_t milliseconds) = 0;
  virtual uint32_t thread_id() = 0;
  virtual bool create_uuid(uint8_t id[16]) = 0;
  // uuid_to_text - 36 lower-case characters in the 8-4-4-4-12 layout
  virtual bool uuid_to_text(const uint8_t id[16], std::string *out) = 0;
  // last_error - Windows code of the calling thread's last failure
  virtual uint32_t last_error() = 0;
};

// current - the layer in force: the system's, or one a test installed
Os &current();
// system_os - this platform's implementation
Os &system_os();
// install - makes `os` current; null restores the system's
void install(Os *os);

// upper_1251 - CharUpperA of code page 1251: Latin and Cyrillic letters only
char upper_1251(char c);
void upper_1251(char *text);
// upper_1251 - `length` bytes of `text` upper-cased into `out`, in one call
void upper_1251(const char *text, char *out, size_t length);
// oem866_to_1251 - OemToCharBuffA, in place
void oem866_to_1251(char *buffer, size_t length);

}  // namespace zz::os
