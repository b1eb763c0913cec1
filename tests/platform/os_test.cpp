// os_test.cpp - the file primitives every platform's OS layer must give the
// module alike, checked on real directories: moves that never replace,
// exclusive opens, read-only, sizes of 4 GiB and more, the error codes of
// missing paths and non-empty directories, listings, the temporary
// directory and UUIDs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "platform/os.h"
#include "support/temp_dir.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

os::Os &sys() {
  return os::system_os();
}

TEST(OsLayer, MoveNeverReplacesAnExistingTarget) {
  TempDir dir;
  write_file(dir.posix("a"), "first");
  write_file(dir.posix("b"), "second");
  EXPECT_FALSE(sys().move_file(dir.file("a").c_str(), dir.file("b").c_str()));
  EXPECT_EQ(sys().last_error(), os::kErrAlreadyExists);
  EXPECT_EQ(read_file(dir.posix("a")), "first");
  EXPECT_EQ(read_file(dir.posix("b")), "second");
  EXPECT_TRUE(sys().move_file(dir.file("a").c_str(), dir.file("c").c_str()));
  EXPECT_FALSE(exists(dir.posix("a")));
  EXPECT_EQ(read_file(dir.posix("c")), "first");
}

TEST(OsLayer, AnOpenFileIsHeldAgainstEveryOtherOpen) {
  TempDir dir;
  write_file(dir.posix("held"), "content");
  auto held = sys().open(dir.file("held").c_str(), os::OpenMode::kReadExisting);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(sys().open(dir.file("held").c_str(), os::OpenMode::kReadExisting), nullptr);
  EXPECT_EQ(sys().last_error(), os::kErrSharingViolation);
  // A refused write must not have emptied the file.
  EXPECT_EQ(sys().open(dir.file("held").c_str(), os::OpenMode::kWriteCreateTruncate), nullptr);
  EXPECT_EQ(sys().last_error(), os::kErrSharingViolation);
  held.reset();
  EXPECT_EQ(read_file(dir.posix("held")), "content");
  EXPECT_NE(sys().open(dir.file("held").c_str(), os::OpenMode::kReadExisting), nullptr);
}

TEST(OsLayer, ACreateOfANewFileRefusesEveryTakenName) {
  TempDir dir;
  write_file(dir.posix("taken"), "content");
  std::filesystem::create_directory(dir.posix("folder"));
  for (const char *name : {"taken", "folder"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(sys().open(dir.file(name).c_str(), os::OpenMode::kWriteCreateNew), nullptr);
    EXPECT_EQ(sys().last_error(), os::kErrFileExists);
  }
  EXPECT_EQ(read_file(dir.posix("taken")), "content");
  auto made = sys().open(dir.file("free").c_str(), os::OpenMode::kWriteCreateNew);
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->created());
}

TEST(OsLayer, ReadOnlyIsAnAttributeThatCanBeTakenBack) {
  TempDir dir;
  write_file(dir.posix("f"), "x");
  uint32_t attributes = 0;
  ASSERT_TRUE(sys().get_attributes(dir.file("f").c_str(), &attributes));
  EXPECT_EQ(attributes & (os::kAttrReadOnly | os::kAttrDirectory), 0u);
  ASSERT_TRUE(sys().set_attributes(dir.file("f").c_str(), os::kAttrReadOnly));
  ASSERT_TRUE(sys().get_attributes(dir.file("f").c_str(), &attributes));
  EXPECT_NE(attributes & os::kAttrReadOnly, 0u);
  ASSERT_TRUE(sys().set_attributes(dir.file("f").c_str(), os::kAttrArchive));
  ASSERT_TRUE(sys().get_attributes(dir.file("f").c_str(), &attributes));
  EXPECT_EQ(attributes & os::kAttrReadOnly, 0u);
  ASSERT_TRUE(sys().get_attributes(dir.path().c_str(), &attributes));
  EXPECT_NE(attributes & os::kAttrDirectory, 0u);
}

TEST(OsLayer, AFileOf4GiBOrMoreHasNoSize) {
  TempDir dir;
  for (uintmax_t size : {uintmax_t{0xFFFFFFFF}, (uintmax_t{1} << 32) + 10}) {
    {
      std::FILE *f = std::fopen(dir.posix("big").c_str(), "wb");
      ASSERT_NE(f, nullptr);
      std::fclose(f);
    }
    std::filesystem::resize_file(dir.posix("big"), size);  // sparse
    auto file = sys().open(dir.file("big").c_str(), os::OpenMode::kReadExisting);
    ASSERT_NE(file, nullptr);
    uint32_t got = 12345;
    EXPECT_FALSE(file->size(&got)) << size;
    EXPECT_EQ(sys().last_error(), os::kErrAccessDenied);
    file.reset();
    std::filesystem::remove(dir.posix("big"));
  }
}

TEST(OsLayer, ErrorCodesOfMissingPathsAndFullDirectories) {
  TempDir dir;
  struct Row {
    const char *what;
    bool (*call)(const std::string &);
    std::string path;
    uint32_t error;
  };
  auto open_read = [](const std::string &p) {
    return sys().open(p.c_str(), os::OpenMode::kReadExisting) != nullptr;
  };
  auto open_write = [](const std::string &p) {
    return sys().open(p.c_str(), os::OpenMode::kWriteCreateTruncate) != nullptr;
  };
  auto attributes = [](const std::string &p) {
    uint32_t a = 0;
    return sys().get_attributes(p.c_str(), &a);
  };
  auto remove_dir = [](const std::string &p) { return sys().remove_directory(p.c_str()); };
  auto make_dir = [](const std::string &p) { return sys().create_directory(p.c_str()); };
  auto remove_file = [](const std::string &p) { return sys().delete_file(p.c_str()); };
  ASSERT_TRUE(sys().create_directory(dir.file("full").c_str()));
  write_file(dir.posix("full/x"), "");
  const Row rows[] = {
      {"read, missing file", open_read, dir.file("none"), os::kErrFileNotFound},
      {"read, missing directory", open_read, dir.file("nodir\\f"), os::kErrPathNotFound},
      {"write, missing directory", open_write, dir.file("nodir\\f"), os::kErrPathNotFound},
      {"attributes, missing file", attributes, dir.file("none"), os::kErrFileNotFound},
      {"attributes, missing directory", attributes, dir.file("nodir\\f"), os::kErrPathNotFound},
      {"delete, missing file", remove_file, dir.file("none"), os::kErrFileNotFound},
      {"create, missing parent", make_dir, dir.file("nodir\\sub"), os::kErrPathNotFound},
      {"create, exists", make_dir, dir.file("full"), os::kErrAlreadyExists},
      {"remove, not empty", remove_dir, dir.file("full"), os::kErrDirNotEmpty},
  };
  for (const Row &row : rows) {
    EXPECT_FALSE(row.call(row.path)) << row.what;
    EXPECT_EQ(sys().last_error(), row.error) << row.what;
  }
  EXPECT_FALSE(sys().move_file(dir.file("none").c_str(), dir.file("b").c_str()));
  EXPECT_EQ(sys().last_error(), os::kErrFileNotFound);
  EXPECT_FALSE(sys().move_file(dir.file("full\\x").c_str(), dir.file("nodir\\x").c_str()));
  EXPECT_EQ(sys().last_error(), os::kErrPathNotFound);
  os::DirEntry entry;
  EXPECT_EQ(sys().find_first(dir.file("nodir\\*").c_str(), &entry), nullptr);
  EXPECT_EQ(sys().last_error(), os::kErrPathNotFound);
  EXPECT_EQ(sys().find_first(dir.file("none*").c_str(), &entry), nullptr);
  EXPECT_EQ(sys().last_error(), os::kErrFileNotFound);
}

TEST(OsLayer, PatternsMatchWithoutRegardToAsciiCase) {
  TempDir dir;
  write_file(dir.posix("Report.TXT"), "");
  write_file(dir.posix("b.doc"), "");
  EXPECT_EQ(listed(dir.file("*.txt")), (std::set<std::string>{"Report.TXT"}));
  EXPECT_EQ(listed(dir.file("?.DOC")), (std::set<std::string>{"b.doc"}));
  EXPECT_EQ(listed(dir.file("*")), (std::set<std::string>{".", "..", "Report.TXT", "b.doc"}));
  EXPECT_EQ(listed(dir.file("Report.TXT")), (std::set<std::string>{"Report.TXT"}));
  EXPECT_TRUE(listed(dir.file("none*")).empty());
}

TEST(OsLayer, TemporaryDirectoryAndUuids) {
  TempDir dir;
  {
    TempEnvironment temp(dir.path());
    std::string path;
    ASSERT_TRUE(sys().temp_path(&path));
    EXPECT_TRUE(path == dir.path() + "/" || path == dir.path() + "\\") << path;
  }
  uint8_t id[16];
  ASSERT_TRUE(sys().create_uuid(id));
  std::string text;
  ASSERT_TRUE(sys().uuid_to_text(id, &text));
  ASSERT_EQ(text.size(), 36u);
  EXPECT_EQ(text[8], '-');
  EXPECT_EQ(text[14], '4');  // version 4
  const uint8_t fixed[16] = {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56,
                             0xAB, 0xCD, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  ASSERT_TRUE(sys().uuid_to_text(fixed, &text));
  EXPECT_EQ(text, "12345678-1234-5678-abcd-010203040506");
}

}  // namespace
}  // namespace zz::test
