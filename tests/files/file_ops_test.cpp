// file_ops_test.cpp - existence tests, deletes, moves and path separators.
#include "files/file_ops.h"

#include <gtest/gtest.h>

#include <cstring>

#include "files/paths.h"
#include "platform/os.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

// make_read_only - by the module's own path, "\\" and all
void make_read_only(const std::string &path, uint32_t kind = os::kAttrArchive) {
  ASSERT_TRUE(os::system_os().set_attributes(path.c_str(), kind | os::kAttrReadOnly)) << path;
}

TEST(FileOps, DeleteAndRenameClearTheReadOnlyAttribute) {
  TempDir dir;
  write_file(dir.posix("a"), "x");
  write_file(dir.posix("b"), "y");
  make_read_only(dir.file("a"));
  make_read_only(dir.file("b"));
  EXPECT_EQ(delete_file(dir.file("a").c_str()), 1);
  EXPECT_FALSE(exists(dir.posix("a")));
  EXPECT_EQ(rename_file(dir.file("b").c_str(), dir.file("c").c_str()), 1);
  EXPECT_EQ(read_file(dir.posix("c")), "y");
}

TEST(FileOps, RenameOntoAnExistingFileFailsAndKeepsBoth) {
  TempDir dir;
  write_file(dir.posix("a"), "1");
  write_file(dir.posix("b"), "2");
  EXPECT_EQ(rename_file(dir.file("a").c_str(), dir.file("b").c_str()), 0);
  EXPECT_EQ(read_file(dir.posix("a")), "1");
  EXPECT_EQ(read_file(dir.posix("b")), "2");
}

TEST(FileOps, RemoveDirectoryOnlyWhenEmpty) {
  TempDir dir;
  make_dir(dir.posix("d"));
  write_file(dir.posix("d/f"), "");
  EXPECT_EQ(remove_directory(dir.file("d").c_str()), 0);
  EXPECT_EQ(delete_file(dir.file("d\\f").c_str()), 1);
  make_read_only(dir.file("d"), os::kAttrDirectory);
  EXPECT_EQ(remove_directory(dir.file("d").c_str()), 1);
  EXPECT_EQ(delete_file(dir.file("d").c_str()), 0);
}

TEST(FileOps, IsDirAndFileExists) {
  TempDir dir;
  write_file(dir.posix("plain"), "");
  // A root is a volume, not a search match.
#if defined(_WIN32)
  const std::string root = dir.path().substr(0, 3), other_root = root;  // "C:\\"
#else
  const std::string root = "/", other_root = "\\";
#endif
  struct Row {
    std::string path;
    int is_dir, exists;
  } rows[] = {
      {dir.path(), 1, 1},   {dir.file("plain"), 0, 1}, {dir.file("missing"), 0, 0},
      {dir.file(""), 0, 0},  // a final "\" finds nothing and is no volume root
      {root, 1, 0},         {other_root, 1, 0},        {dir.file("pl*"), 0, 1},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(is_dir(row.path.c_str()), row.is_dir) << row.path;
    EXPECT_EQ(file_exists(row.path.c_str()), row.exists) << row.path;
  }
}

TEST(Paths, FinalSeparators) {
  struct Row {
    const char *in, *added, *stripped;
  } rows[] = {
      {"", "", ""},
      {"C:\\in", "C:\\in\\", "C:\\in"},
      {"C:\\in\\", "C:\\in\\", "C:\\in"},
      {"/var/in/", "/var/in/", "/var/in"},
      {"a\\\\", "a\\\\", "a\\"},
  };
  for (const Row &row : rows) {
    char buffer[2048];
    std::strcpy(buffer, row.in);
    add_backslash(buffer);
    EXPECT_STREQ(buffer, row.added) << row.in;
    std::strcpy(buffer, row.in);
    strip_backslash(buffer);
    EXPECT_STREQ(buffer, row.stripped) << row.in;
  }
  char full[2048];
  std::memset(full, 'x', 2047);
  full[2047] = '\0';
  add_backslash(full);
  EXPECT_EQ(std::strlen(full), 2047u);
}

}  // namespace
}  // namespace zz::test
