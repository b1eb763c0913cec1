// win32_test.cpp - what only the Windows OS layer has to refuse: device
// names, which name a device in every directory, and reparse points
// (symbolic links and junctions), as far as the system under test makes them.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/os.h"
#include "support/temp_dir.h"

namespace zz::test {
namespace {

os::Os &sys() {
  return os::system_os();
}

TEST(Win32Os, DeviceNamesAreNeverOpenedAsDevices) {
  TempDir dir;
  for (const char *name :
       {"aux.txt", "NUL", "COM1.log", "con", "lpt9.a.b", "Prn .txt", "conout$"}) {
    const std::string path = dir.file(name);
    EXPECT_EQ(sys().open(path.c_str(), os::OpenMode::kWriteCreateTruncate), nullptr) << name;
    EXPECT_EQ(sys().last_error(), os::kErrAccessDenied) << name;
    // Taken, as far as a new file goes: a stored aux.txt gets a counted name.
    EXPECT_EQ(sys().open(path.c_str(), os::OpenMode::kWriteCreateNew), nullptr) << name;
    EXPECT_EQ(sys().last_error(), os::kErrFileExists) << name;
    EXPECT_EQ(sys().open(path.c_str(), os::OpenMode::kReadExisting), nullptr) << name;
    uint32_t attributes = 0;
    ASSERT_TRUE(sys().get_attributes(path.c_str(), &attributes)) << name;
    EXPECT_EQ(attributes, os::kAttrReparsePoint) << name;
    EXPECT_FALSE(sys().create_directory(path.c_str())) << name;
    EXPECT_FALSE(sys().move_file(dir.file("x").c_str(), path.c_str())) << name;
  }
  // Names that only begin like a device are files.
  for (const char *name : {"auxiliary.txt", "com10.txt", "null", "x.aux"}) {
    auto file = sys().open(dir.file(name).c_str(), os::OpenMode::kWriteCreateTruncate);
    ASSERT_NE(file, nullptr) << name;
    uint32_t put = 0;
    EXPECT_TRUE(file->write("ok", 2, &put));
  }
  EXPECT_EQ(names_in(dir.path()),
            (std::vector<std::string>{"auxiliary.txt", "com10.txt", "null", "x.aux"}));
}

// make_junction - a mount-point reparse point at `link` leading to `target`;
// false where the file system makes none
bool make_junction(const std::string &link, const std::string &target) {
  if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
  HANDLE handle = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::wstring substitute = L"\\??\\";
  for (char c : target) substitute.push_back(static_cast<wchar_t>(c));
  const std::wstring print = substitute.substr(4);
  const size_t sub_bytes = substitute.size() * 2, print_bytes = print.size() * 2;
  std::vector<uint8_t> buffer(20 + sub_bytes + print_bytes + 4);
  auto put16 = [&](size_t at, size_t v) {
    buffer[at] = static_cast<uint8_t>(v);
    buffer[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  const uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(buffer.data(), &tag, 4);
  put16(4, buffer.size() - 8);  // ReparseDataLength
  put16(8, 0);                  // SubstituteNameOffset
  put16(10, sub_bytes);         // SubstituteNameLength
  put16(12, sub_bytes + 2);     // PrintNameOffset
  put16(14, print_bytes);       // PrintNameLength
  std::memcpy(buffer.data() + 16, substitute.data(), sub_bytes);
  std::memcpy(buffer.data() + 16 + sub_bytes + 2, print.data(), print_bytes);
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(),
                      static_cast<DWORD>(buffer.size() - 4), nullptr, 0, &returned, nullptr);
  CloseHandle(handle);
  const DWORD attributes = GetFileAttributesA(link.c_str());
  return ok && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool is_reparse_point(const std::string &path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

TEST(Win32Os, ReparsePointsAreNeitherReadNorWrittenThrough) {
  TempDir dir;
  write_file(dir.posix("target"), "secret");
  make_dir(dir.posix("inside"));
  write_file(dir.posix("inside/olminfo.txt"), "Email:a@x\r\n");
  int made = 0;
  if (CreateSymbolicLinkA(dir.file("link").c_str(), dir.file("target").c_str(), 0x2) &&
      is_reparse_point(dir.file("link"))) {
    ++made;
    EXPECT_EQ(sys().open(dir.file("link").c_str(), os::OpenMode::kReadExisting), nullptr);
    EXPECT_EQ(sys().last_error(), os::kErrAccessDenied);
    EXPECT_EQ(sys().open(dir.file("link").c_str(), os::OpenMode::kWriteCreateTruncate), nullptr);
    EXPECT_EQ(read_file(dir.posix("target")), "secret");
  }
  if (make_junction(dir.file("junction"), dir.file("inside"))) {
    ++made;
    os::DirEntry entry;
    ASSERT_NE(sys().find_first(dir.file("junction").c_str(), &entry), nullptr);
    EXPECT_EQ(entry.attributes, os::kAttrReparsePoint);
    uint32_t attributes = 0;
    ASSERT_TRUE(sys().get_attributes(dir.file("junction").c_str(), &attributes));
    EXPECT_EQ(attributes & os::kAttrDirectory, 0u);
    EXPECT_FALSE(sys().set_attributes(dir.file("junction").c_str(), os::kAttrReadOnly));
  }
  if (made == 0) GTEST_SKIP() << "this system makes neither symbolic links nor junctions";
}

TEST(Win32Os, SystemFacts) {
  char windows[MAX_PATH];
  ASSERT_NE(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  const std::string root = std::string(windows, 3);  // "C:\"
  EXPECT_TRUE(sys().is_volume_root(root.c_str()));
  EXPECT_FALSE(sys().is_volume_root((std::string(windows) + "\\").c_str()));
  EXPECT_EQ(sys().thread_id(), GetCurrentThreadId());
  // A drive that does not exist is a missing path, as a missing directory is.
  uint32_t attributes = 0;
  EXPECT_FALSE(sys().get_attributes("Q:\\none\\f.txt", &attributes));
  EXPECT_EQ(sys().last_error(), os::kErrPathNotFound);
  EXPECT_EQ(sys().open("Q:\\none\\f.txt", os::OpenMode::kWriteCreateTruncate), nullptr);
  EXPECT_EQ(sys().last_error(), os::kErrPathNotFound);
  // Russian systems: the module's paths and settings are code page 1251.
  EXPECT_EQ(GetACP(), 1251u);
  EXPECT_EQ(GetOEMCP(), 866u);
}

}  // namespace
}  // namespace zz::test
