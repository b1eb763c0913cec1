// win32.cpp - the OS layer on Windows: the ANSI file calls, local time, the
// thread id, RPC UUIDs and the user32 code page conversions, each wrapped so
// that the module sees the same small interface as on POSIX: reparse points
// (symbolic links, junctions) and device names are never read or written
// through, and a file of 4 GiB or more has no size.
#include <rpc.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/codepage_tables.h"
#include "platform/os.h"

namespace zz::os {
namespace {

bool fail_with(DWORD code) {
  SetLastError(code);
  return false;
}

char ascii_upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// is_device_name - CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$ and CONOUT$
// name a device in every directory, whatever extension or trailing blanks
// follow: "C:\in\aux.txt" is the serial port, not a file.
bool is_device_name(const char *path) {
  const char *name = path;
  for (const char *p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  }
  std::string base;
  for (const char *p = name; *p != '\0' && *p != '.'; ++p) base.push_back(ascii_upper(*p));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

// seen_as - what the module is told an entry is: a reparse point or a device
// name is neither file nor directory, as a link or a device node on POSIX
DWORD seen_as(const char *name, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || is_device_name(name)) {
    return kAttrReparsePoint;
  }
  return attributes;
}

class Win32File final : public File {
 public:
  Win32File(HANDLE handle, bool created) : handle_(handle), created_(created) {}
  ~Win32File() override { CloseHandle(handle_); }
  Win32File(const Win32File &) = delete;
  Win32File &operator=(const Win32File &) = delete;

  bool size(uint32_t *out) override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_, &size)) return false;
    if (size.QuadPart >= 0xFFFFFFFFLL) return fail_with(ERROR_ACCESS_DENIED);
    *out = static_cast<uint32_t>(size.QuadPart);
    return true;
  }

  bool read(void *buffer, uint32_t len, uint32_t *got) override {
    DWORD n = 0;
    if (!ReadFile(handle_, buffer, len, &n, nullptr)) return false;
    *got = n;
    return true;
  }

  bool write(const void *data, uint32_t len, uint32_t *put) override {
    DWORD n = 0;
    if (!WriteFile(handle_, data, len, &n, nullptr)) return false;
    *put = n;
    return true;
  }

  bool created() const override { return created_; }
  bool read_only() const override { return read_only_; }
  void know_read_only(bool read_only) { read_only_ = read_only; }

 private:
  HANDLE handle_;
  bool created_;
  bool read_only_ = false;
};

class Win32Finder final : public Finder {
 public:
  explicit Win32Finder(HANDLE handle) : handle_(handle) {}
  ~Win32Finder() override { FindClose(handle_); }
  Win32Finder(const Win32Finder &) = delete;
  Win32Finder &operator=(const Win32Finder &) = delete;

  bool next(DirEntry *entry) override {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(handle_, &data)) return false;
    entry->name = data.cFileName;
    entry->attributes = seen_as(data.cFileName, data.dwFileAttributes);
    return true;
  }

 private:
  HANDLE handle_;
};

class Win32Os final : public Os {
 public:
  std::unique_ptr<File> open(const char *path, OpenMode mode) override {
    const bool writing = mode != OpenMode::kReadExisting;
    const bool only_new = mode == OpenMode::kWriteCreateNew;
    if (is_device_name(path)) {
      fail_with(only_new ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
      return nullptr;
    }
    // A file is written only where no link stands; it is read through no
    // link (the handle is the link itself, and refused).
    const DWORD existing = GetFileAttributesA(path);
    if (only_new && existing != INVALID_FILE_ATTRIBUTES) {
      fail_with(ERROR_FILE_EXISTS);
      return nullptr;
    }
    if (writing && existing != INVALID_FILE_ATTRIBUTES &&
        (existing & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
      fail_with(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    HANDLE handle = CreateFileA(path, writing ? GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                                only_new  ? CREATE_NEW
                                : writing ? CREATE_ALWAYS
                                          : OPEN_EXISTING,
                                writing ? (FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH)
                                        : (FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT),
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto file =
        std::make_unique<Win32File>(handle, writing && GetLastError() != ERROR_ALREADY_EXISTS);
    // Only plain files, and for reading only a file of one name: a second
    // name could be a file from elsewhere linked in by someone who may not read it.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        (!writing && info.nNumberOfLinks > 1)) {
      file.reset();
      fail_with(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    file->know_read_only((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0);
    return file;
  }

  std::unique_ptr<Finder> find_first(const char *pattern, DirEntry *first) override {
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern, &data);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    first->name = data.cFileName;
    first->attributes = seen_as(data.cFileName, data.dwFileAttributes);
    return std::make_unique<Win32Finder>(handle);
  }

  bool get_attributes(const char *path, uint32_t *attributes) override {
    // A device name is there in every directory, and is no file.
    if (is_device_name(path)) {
      *attributes = kAttrReparsePoint;
      return true;
    }
    DWORD value = GetFileAttributesA(path);
    if (value == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = seen_as(path, value);
    return true;
  }

  bool set_attributes(const char *path, uint32_t attributes) override {
    uint32_t now = 0;
    if (!get_attributes(path, &now)) return false;
    if (now == kAttrReparsePoint) return fail_with(ERROR_ACCESS_DENIED);
    return SetFileAttributesA(path, attributes) != 0;
  }

  bool create_directory(const char *path) override {
    if (is_device_name(path)) return fail_with(ERROR_ACCESS_DENIED);
    return CreateDirectoryA(path, nullptr) != 0;
  }
  bool remove_directory(const char *path) override { return RemoveDirectoryA(path) != 0; }
  bool delete_file(const char *path) override {
    if (is_device_name(path)) return fail_with(ERROR_ACCESS_DENIED);
    return DeleteFileA(path) != 0;
  }
  bool move_file(const char *from, const char *to) override {
    if (is_device_name(from) || is_device_name(to)) return fail_with(ERROR_ACCESS_DENIED);
    return MoveFileA(from, to) != 0;
  }

  bool is_volume_root(const char *path) override {
    return GetVolumeInformationA(path, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0) != 0;
  }

  bool temp_path(std::string *out) override {
    char buffer[1025];
    DWORD n = GetTempPathA(1024, buffer);
    if (n == 0 || n > 1024) return false;
    out->assign(buffer, n);
    return true;
  }

  LocalTime local_time() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
  }

  int64_t unix_time() override { return static_cast<int64_t>(_time64(nullptr)); }
  void sleep_ms(uint32_t milliseconds) override { Sleep(milliseconds); }
  uint32_t thread_id() override { return GetCurrentThreadId(); }

  bool create_uuid(uint8_t id[16]) override {
    UUID uuid;
    if (UuidCreate(&uuid) != RPC_S_OK) return false;
    memcpy(id, &uuid, 16);
    return true;
  }

  bool uuid_to_text(const uint8_t id[16], std::string *out) override {
    UUID uuid;
    memcpy(&uuid, id, 16);
    RPC_CSTR text = nullptr;
    if (UuidToStringA(&uuid, &text) != RPC_S_OK) return false;
    *out = reinterpret_cast<char *>(text);
    RpcStringFreeA(&text);
    return true;
  }

  uint32_t last_error() override { return GetLastError(); }
};

}  // namespace

Os &system_os() {
  static Win32Os os;
  return os;
}

char upper_1251(char c) {
  CharUpperBuffA(&c, 1);
  return c;
}

void upper_1251(char *text) {
  if (text != nullptr) CharUpperA(text);
}

void upper_1251(const char *text, char *out, size_t length) {
  if (length == 0) return;
  std::memmove(out, text, length);
  CharUpperBuffA(out, static_cast<DWORD>(length));
}

// The same table as on POSIX, not OemToCharBuffA: Windows turns the box
// drawing bytes into look-alike letters, and both systems must give the same
// bytes for the same file.
void oem866_to_1251(char *buffer, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    buffer[i] = static_cast<char>(kOem866To1251[static_cast<unsigned char>(buffer[i])]);
  }
}

}  // namespace zz::os
