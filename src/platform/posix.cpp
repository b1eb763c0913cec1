// posix.cpp - the OS layer on Linux: the Windows calls the module is written
// against, as their POSIX equivalents. "\" in paths becomes "/"; exclusive
// opens are flock locks; moves never replace (renameat2 RENAME_NOREPLACE);
// symbolic links are never followed, read or written through, and below a
// directory the module lists no path passes through one (posix_places).
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage_tables.h"
#include "platform/os.h"
#include "platform/posix_places.h"

namespace zz::os {
namespace {

using posix::Place;

thread_local uint32_t t_last_error = 0;
// A missing path whose error (2 or 3) is worked out only when asked for: the
// module asks rarely, and most misses are existence checks.
constexpr uint32_t kErrMissingUnresolved = 0xFFFFFFFE;
thread_local std::string t_missing_path;
// The longest path the module's buffers hold.
constexpr size_t kMaxPath = 2047;

// windows_error - the one place where errno becomes a Windows error code.
uint32_t windows_error(int err) {
  switch (err) {
    case ENOENT:
      return kErrFileNotFound;
    case ENOTDIR:
      return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kErrAccessDenied;
    case EWOULDBLOCK:
      return kErrSharingViolation;
    case EEXIST:
      return kErrAlreadyExists;
    case ENOTEMPTY:
      return kErrDirNotEmpty;
    default:
      return static_cast<uint32_t>(err);
  }
}

bool fail(int err) {
  t_last_error = windows_error(err);
  return false;
}

bool fail_with(uint32_t code) {
  t_last_error = code;
  return false;
}

// fail_at - as fail, but a path whose directory is missing gives "path not
// found" (3) like Windows, and only a missing last component "file not found" (2)
bool fail_at(int err, const std::string &path) {
  if (err != ENOENT) return fail(err);
  t_missing_path = path;
  return fail_with(kErrMissingUnresolved);
}

uint32_t resolved_last_error() {
  if (t_last_error != kErrMissingUnresolved) return t_last_error;
  const std::string &path = t_missing_path;
  size_t slash = path.rfind('/');
  struct stat st;
  if (slash != std::string::npos && slash != 0 &&
      (::stat(path.substr(0, slash).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
    t_last_error = kErrPathNotFound;
  } else {
    t_last_error = kErrFileNotFound;
  }
  return t_last_error;
}

std::string native(const char *path) {
  std::string out(path != nullptr ? path : "");
  for (char &c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

bool has_wildcard(const std::string &s) {
  return s.find_first_of("*?") != std::string::npos;
}

char ascii_upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// wildcard_match - "*" any run, "?" one character, ASCII case ignored.
bool wildcard_match(const char *pattern, const char *name) {
  const char *star = nullptr;
  const char *resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || ascii_upper(*pattern) == ascii_upper(*name)) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

uint32_t attributes_of(const struct stat &st) {
  if (S_ISLNK(st.st_mode)) return kAttrReparsePoint;
  uint32_t attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) attributes = kAttrReparsePoint;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  return attributes;
}

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd, bool created = false) : fd_(fd), created_(created) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile &) = delete;
  PosixFile &operator=(const PosixFile &) = delete;

  bool size(uint32_t *out) override {
    long long size = known_size_;
    if (size < 0) {
      struct stat st;
      if (::fstat(fd_, &st) != 0) return fail(errno);
      size = static_cast<long long>(st.st_size);
    }
    if (size >= 0xFFFFFFFFLL) return fail_with(kErrAccessDenied);
    *out = static_cast<uint32_t>(size);
    return true;
  }

  // know - the size and write permission as the open found them once the
  // lock was held
  void know(long long size, bool read_only) {
    known_size_ = size;
    read_only_ = read_only;
  }

  bool read(void *buffer, uint32_t len, uint32_t *got) override {
    uint32_t total = 0;
    auto *p = static_cast<char *>(buffer);
    while (total < len) {
      ssize_t n = ::read(fd_, p + total, len - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail(errno);
      if (n == 0) break;
      total += static_cast<uint32_t>(n);
    }
    *got = total;
    return true;
  }

  bool write(const void *data, uint32_t len, uint32_t *put) override {
    uint32_t total = 0;
    const auto *p = static_cast<const char *>(data);
    while (total < len) {
      ssize_t n = ::write(fd_, p + total, len - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail(errno);
      total += static_cast<uint32_t>(n);
    }
    *put = total;
    if (::fdatasync(fd_) != 0) return fail(errno);
    return true;
  }

 private:
  bool created() const override { return created_; }
  bool read_only() const override { return read_only_; }

 private:
  int fd_;
  bool created_;
  long long known_size_ = -1;
  bool read_only_ = false;
};

// PosixFinder - a listing of one directory filtered by a pattern, or a
// single entry. The entries are read with getdents64 into a buffer that
// starts small and grows: most scans stop at the first file they can take,
// and a large first read would cost in proportion to the directory. The
// entry's type comes with the name; a file system that does not give it
// (DT_UNKNOWN) is asked with fstatat. Listings tell directories, files and
// neither apart; the read-only bit is reported by get_attributes.
class PosixFinder final : public Finder {
 public:
  PosixFinder(int fd, size_t directory_length, std::string pattern)
      : fd_(fd),
        directory_length_(directory_length),
        pattern_(std::move(pattern)),
        match_all_(pattern_ == "*") {}
  PosixFinder() = default;
  ~PosixFinder() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixFinder(const PosixFinder &) = delete;
  PosixFinder &operator=(const PosixFinder &) = delete;

  bool next(DirEntry *entry) override {
    if (fd_ < 0) return fail_with(18);  // ERROR_NO_MORE_FILES
    for (;;) {
      if (at_ >= filled_ && !read_more()) return fail_with(18);
      const auto *d = reinterpret_cast<const struct dirent64 *>(buffer_.data() + at_);
      at_ += d->d_reclen;
      const char *name = d->d_name;
      // A name holding "\", or too long for a path, cannot be addressed
      // through the module's paths.
      const size_t length = strlen(name);
      if (memchr(name, '\\', length) != nullptr) continue;
      if (directory_length_ + 1 + length > kMaxPath) continue;
      if (!match_all_ && !wildcard_match(pattern_.c_str(), name)) continue;
      uint32_t attributes = 0;
      switch (d->d_type) {
        case DT_REG:
          attributes = kAttrArchive;
          break;
        case DT_DIR:
          attributes = kAttrDirectory;
          break;
        case DT_UNKNOWN: {
          struct stat st;
          if (::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
          attributes = attributes_of(st) & ~kAttrReadOnly;
          break;
        }
        default:  // links, devices, pipes, sockets: neither file nor directory
          attributes = kAttrReparsePoint;
          break;
      }
      entry->name = name;
      entry->attributes = attributes;
      return true;
    }
  }

 private:
  bool read_more() {
    if (buffer_.empty()) {
      buffer_.resize(2048);
    } else if (buffer_.size() < 32768) {
      buffer_.resize(buffer_.size() * 2);
    }
    const long n = ::syscall(SYS_getdents64, fd_, buffer_.data(), buffer_.size());
    if (n <= 0) return false;
    filled_ = static_cast<size_t>(n);
    at_ = 0;
    return true;
  }

  int fd_ = -1;
  size_t directory_length_ = 0;
  std::string pattern_;
  bool match_all_ = false;  // "*": every name
  std::vector<char> buffer_;
  size_t filled_ = 0;
  size_t at_ = 0;
};

class PosixOs final : public Os {
 public:
  std::unique_ptr<File> open(const char *path, OpenMode mode) override {
    std::string p = native(path);
    const bool writing = mode != OpenMode::kReadExisting;
    // O_NONBLOCK keeps a planted FIFO from hanging the open (plain files
    // ignore it); no O_TRUNC: the file is emptied only once the lock is ours.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (writing ? (O_WRONLY | O_CREAT) : O_RDONLY);
    Place place;
    if (!posix::place_of(p, &place)) {
      fail_at(errno, p);
      return nullptr;
    }
    if (writing) {
      // Most writes make a new file: made exclusively, nothing else stands
      // at its name and there is nothing to empty.
      int fd = ::openat(place.dir(), place.name(), flags | O_EXCL, 0666);
      if (fd >= 0) return locked(fd, true);
      if (errno == EEXIST && mode == OpenMode::kWriteCreateNew) {
        fail_with(kErrFileExists);
        return nullptr;
      }
      if (errno != EEXIST || mode == OpenMode::kWriteCreateNew) {
        fail_at(errno == ELOOP ? EACCES : errno, p);
        return nullptr;
      }
    }
    // Only plain files are opened at all: a device node may act on an open.
    struct stat st;
    if (::fstatat(place.dir(), place.name(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(st.st_mode)) {
      fail(EACCES);
      return nullptr;
    }
    int fd = ::openat(place.dir(), place.name(), flags, 0666);
    if (fd < 0) {
      fail_at(errno == ELOOP ? EACCES : errno, p);
      return nullptr;
    }
    auto file = locked(fd);
    if (!file) return nullptr;
    // Looked at once the lock is ours, so that the size is the one a reader
    // gets. A second name for a file read here could be a file from
    // elsewhere linked in by someone who may not read it.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (!writing && st.st_nlink > 1)) {
      fail(EACCES);
      return nullptr;
    }
    if (writing && ::ftruncate(fd, 0) != 0) {
      fail(errno);
      return nullptr;
    }
    if (!writing) file->know(static_cast<long long>(st.st_size), (st.st_mode & S_IWUSR) == 0);
    return file;
  }

  std::unique_ptr<Finder> find_first(const char *pattern, DirEntry *first) override {
    std::string p = native(pattern);
    size_t slash = p.rfind('/');
    std::string directory = slash == std::string::npos ? "." : p.substr(0, slash);
    if (slash == 0) directory = "/";
    std::string last = slash == std::string::npos ? p : p.substr(slash + 1);
    if (last.empty()) {
      fail_at(ENOENT, p);
      return nullptr;
    }
    if (!has_wildcard(last)) {
      struct stat st;
      if (!stat_of(p, &st)) return nullptr;
      first->name = last;
      first->attributes = attributes_of(st);
      return std::make_unique<PosixFinder>();
    }
    const int dir = open_listing(directory);
    if (dir < 0) return nullptr;
    auto finder = std::make_unique<PosixFinder>(dir, directory.size(), last);
    if (!finder->next(first)) {
      fail(ENOENT);
      return nullptr;
    }
    return finder;
  }

  bool get_attributes(const char *path, uint32_t *attributes) override {
    struct stat st;
    if (!stat_of(native(path), &st)) return false;
    *attributes = attributes_of(st);
    return true;
  }

  bool set_attributes(const char *path, uint32_t attributes) override {
    Place place;
    struct stat st;
    const std::string p = native(path);
    if (!posix::place_of(p, &place)) return fail_at(errno, p);
    if (::fstatat(place.dir(), place.name(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return fail_at(errno, p);
    }
    if (S_ISLNK(st.st_mode)) return fail_with(kErrAccessDenied);
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttrReadOnly) != 0 ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
    if (::fchmodat(place.dir(), place.name(), mode, 0) != 0) return fail(errno);
    return true;
  }

  bool create_directory(const char *path) override {
    Place place;
    const std::string p = native(path);
    if (!posix::place_of(p, &place)) return fail_at(errno, p);
    if (::mkdirat(place.dir(), place.name(), 0777) != 0) return fail_at(errno, p);
    return true;
  }

  bool remove_directory(const char *path) override {
    Place place;
    const std::string p = native(path);
    if (!posix::place_of(p, &place)) return fail_at(errno, p);
    if (::unlinkat(place.dir(), place.name(), AT_REMOVEDIR) != 0) return fail_at(errno, p);
    return true;
  }

  bool delete_file(const char *path) override {
    Place place;
    const std::string p = native(path);
    if (!posix::place_of(p, &place)) return fail_at(errno, p);
    if (::unlinkat(place.dir(), place.name(), 0) != 0) return fail_at(errno, p);
    return true;
  }

  bool move_file(const char *from, const char *to) override {
    std::string source = native(from);
    std::string target = native(to);
    Place from_place, to_place;
    if (!posix::place_of(source, &from_place)) return fail_at(errno, source);
    if (!posix::place_of(target, &to_place)) return fail_at(errno, target);
    if (::renameat2(from_place.dir(), from_place.name(), to_place.dir(), to_place.name(),
                    RENAME_NOREPLACE) == 0)
      return true;
    if (errno == ENOENT) {
      // Windows names the missing directory (3) before a missing source (2).
      fail_at(ENOENT, target);
      return resolved_last_error() == kErrPathNotFound ? false : fail_at(ENOENT, source);
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EXDEV) return fail(errno);
    return move_without_noreplace(source, target, errno == EXDEV);
  }

  bool is_volume_root(const char *path) override {
    std::string p = native(path);
    return !p.empty() && p.find_first_not_of('/') == std::string::npos;
  }

  bool temp_path(std::string *out) override {
    const char *dir = getenv("TMPDIR");
    *out = (dir != nullptr && *dir != '\0') ? dir : "/tmp/";
    if (out->back() != '/') out->push_back('/');
    return true;
  }

  LocalTime local_time() override {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    localtime_r(&ts.tv_sec, &tm);
    return {tm.tm_year + 1900,
            tm.tm_mon + 1,
            tm.tm_mday,
            tm.tm_hour,
            tm.tm_min,
            tm.tm_sec,
            static_cast<int>(ts.tv_nsec / 1000000)};
  }

  int64_t unix_time() override { return static_cast<int64_t>(::time(nullptr)); }

  void sleep_ms(uint32_t milliseconds) override {
    struct timespec left = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  uint32_t thread_id() override {
    thread_local const uint32_t id = static_cast<uint32_t>(::gettid());
    return id;
  }

  bool create_uuid(uint8_t id[16]) override {
    size_t have = 0;
    while (have < 16) {
      ssize_t n = ::getrandom(id + have, 16 - have, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail(errno);
      have += static_cast<size_t>(n);
    }
    id[7] = static_cast<uint8_t>((id[7] & 0x0F) | 0x40);  // version 4 (Data3 is little-endian)
    id[8] = static_cast<uint8_t>((id[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return true;
  }

  bool uuid_to_text(const uint8_t id[16], std::string *out) override {
    char text[40];
    unsigned d1 = id[0] | (id[1] << 8) | (id[2] << 16) | (static_cast<unsigned>(id[3]) << 24);
    unsigned d2 = id[4] | (id[5] << 8);
    unsigned d3 = id[6] | (id[7] << 8);
    snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", d1, d2, d3,
             id[8], id[9], id[10], id[11], id[12], id[13], id[14], id[15]);
    *out = text;
    return true;
  }

  uint32_t last_error() override { return resolved_last_error(); }

 private:
  // stat_of - the entry itself (never a link's target); false with the error set
  static bool stat_of(const std::string &path, struct stat *st) {
    Place place;
    if (!posix::place_of(path, &place)) return fail_at(errno, path);
    if (::fstatat(place.dir(), place.name(), st, AT_SYMLINK_NOFOLLOW) != 0) {
      return fail_at(errno, path);
    }
    return true;
  }

  // locked - the open file once its lock is ours; closed and null when
  // another holds it
  static std::unique_ptr<PosixFile> locked(int fd, bool created = false) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      ::close(fd);
      fail(err);
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd, created);
  }

  // fail_listing - a directory to list that is missing is a missing path (3)
  static void fail_listing(int err) {
    if (err == ENOENT) {
      fail_with(kErrPathNotFound);
    } else {
      fail(err);
    }
  }

  // open_listing - a served directory as configured; one below it only when
  // no link leads there; -1 on failure
  static int open_listing(const std::string &directory) {
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (posix::serve(directory)) {
      const int fd = ::open(directory.c_str(), kFlags);
      if (fd < 0) fail_listing(errno);
      return fd;
    }
    Place place;
    if (!posix::place_of(directory, &place)) {
      fail_listing(errno);
      return -1;
    }
    const int fd = ::openat(place.dir(), place.name(), kFlags | O_NOFOLLOW);
    if (fd < 0) fail_listing(errno == ELOOP ? EACCES : errno);
    return fd;
  }

  // Where renameat2 cannot refuse to replace: files are linked then
  // unlinked (link fails on an existing target); across file systems they are
  // copied into a target created exclusively.
  bool move_without_noreplace(const std::string &source, const std::string &target,
                              bool cross_device) {
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) return fail(errno);
    if (!S_ISREG(st.st_mode)) {
      if (cross_device) return fail(EXDEV);
      struct stat existing;
      if (::lstat(target.c_str(), &existing) == 0) return fail(EEXIST);
      if (::rename(source.c_str(), target.c_str()) != 0) return fail(errno);
      return true;
    }
    if (!cross_device) {
      if (::link(source.c_str(), target.c_str()) != 0) return fail(errno);
      ::unlink(source.c_str());
      return true;
    }
    return copy_then_unlink(source, target, st.st_mode & 07777);
  }

  bool copy_then_unlink(const std::string &source, const std::string &target, mode_t mode) {
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return fail(errno);
    int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out < 0) {
      int err = errno;
      ::close(in);
      return fail(err);
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
      ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        break;
      }
      for (ssize_t off = 0; off < n;) {
        ssize_t w = ::write(out, buffer + off, static_cast<size_t>(n - off));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) {
          ok = false;
          break;
        }
        off += w;
      }
      if (!ok) break;
    }
    int err = errno;
    ok = ok && ::fdatasync(out) == 0;
    ::close(in);
    ::close(out);
    if (!ok) {
      ::unlink(target.c_str());
      return fail(err);
    }
    ::unlink(source.c_str());
    return true;
  }
};

}  // namespace

Os &system_os() {
  static PosixOs os;
  return os;
}

char upper_1251(char c) {
  return static_cast<char>(kUpper1251[static_cast<unsigned char>(c)]);
}

void upper_1251(char *text) {
  for (; text != nullptr && *text != '\0'; ++text) *text = upper_1251(*text);
}

// Names and addresses are mostly ASCII: eight such bytes are upper-cased at
// once (each byte from 'a' to 'z' loses 0x20); a word with any other byte
// goes through the table.
void upper_1251(const char *text, char *out, size_t length) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, text + i, 8);
    if ((word & kHigh) == 0) {
      const uint64_t from_a = word + (0x80 - 'a') * kOnes;      // high bit: byte >= 'a'
      const uint64_t past_z = word + (0x80 - 'z' - 1) * kOnes;  // high bit: byte > 'z'
      word -= ((from_a & ~past_z & kHigh) >> 2);
      std::memcpy(out + i, &word, 8);
      continue;
    }
    for (size_t j = i; j < i + 8; ++j) {
      out[j] = static_cast<char>(kUpper1251[static_cast<unsigned char>(text[j])]);
    }
  }
  for (; i < length; ++i) {
    out[i] = static_cast<char>(kUpper1251[static_cast<unsigned char>(text[i])]);
  }
}

void oem866_to_1251(char *buffer, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    buffer[i] = static_cast<char>(kOem866To1251[static_cast<unsigned char>(buffer[i])]);
  }
}

}  // namespace zz::os
