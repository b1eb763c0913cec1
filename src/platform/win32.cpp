// win32.cpp - the OS layer on Windows: the ANSI file calls, local time, the
// thread id, RPC UUIDs and the user32 code page conversions, each wrapped so
// that the module sees the same small interface as on POSIX.
#include <rpc.h>
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/codepage_tables.h"
#include "platform/os.h"

namespace zz::os {
namespace {

class Win32File final : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { CloseHandle(handle_); }
  Win32File(const Win32File &) = delete;
  Win32File &operator=(const Win32File &) = delete;

  bool size(uint32_t *out) override {
    DWORD size = GetFileSize(handle_, nullptr);
    if (size == INVALID_FILE_SIZE) return false;
    *out = size;
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

 private:
  HANDLE handle_;
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
    entry->attributes = data.dwFileAttributes;
    return true;
  }

 private:
  HANDLE handle_;
};

class Win32Os final : public Os {
 public:
  std::unique_ptr<File> open(const char *path, OpenMode mode) override {
    const bool writing = mode == OpenMode::kWriteCreateTruncate;
    HANDLE handle = CreateFileA(
        path, writing ? GENERIC_WRITE : GENERIC_READ, 0, nullptr,
        writing ? CREATE_ALWAYS : OPEN_EXISTING,
        writing ? (FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH) : FILE_ATTRIBUTE_NORMAL,
        nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(handle);
  }

  std::unique_ptr<Finder> find_first(const char *pattern, DirEntry *first) override {
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern, &data);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    first->name = data.cFileName;
    first->attributes = data.dwFileAttributes;
    return std::make_unique<Win32Finder>(handle);
  }

  bool get_attributes(const char *path, uint32_t *attributes) override {
    DWORD value = GetFileAttributesA(path);
    if (value == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = value;
    return true;
  }

  bool set_attributes(const char *path, uint32_t attributes) override {
    return SetFileAttributesA(path, attributes) != 0;
  }

  bool create_directory(const char *path) override { return CreateDirectoryA(path, nullptr) != 0; }
  bool remove_directory(const char *path) override { return RemoveDirectoryA(path) != 0; }
  bool delete_file(const char *path) override { return DeleteFileA(path) != 0; }
  bool move_file(const char *from, const char *to) override { return MoveFileA(from, to) != 0; }

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

// The same table as on POSIX, not OemToCharBuffA: Windows turns the box
// drawing bytes into look-alike letters, and both systems must give the same
// bytes for the same file.
void oem866_to_1251(char *buffer, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    buffer[i] = static_cast<char>(kOem866To1251[static_cast<unsigned char>(buffer[i])]);
  }
}

}  // namespace zz::os
