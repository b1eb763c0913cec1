// file_ops_test.cpp - existence tests, deletes, moves and path separators.
#include "files/file_ops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "files/paths.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

void make_read_only(const std::string &path) {
  chmod(path.c_str(), 0444);
}

TEST(FileOps, DeleteAndRenameClearTheReadOnlyAttribute) {
  TempDir dir;
  write_file(dir.posix("a"), "x");
  write_file(dir.posix("b"), "y");
  make_read_only(dir.posix("a"));
  make_read_only(dir.posix("b"));
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
  mkdir(dir.posix("d").c_str(), 0777);
  write_file(dir.posix("d/f"), "");
  EXPECT_EQ(remove_directory(dir.file("d").c_str()), 0);
  EXPECT_EQ(delete_file(dir.file("d\\f").c_str()), 1);
  chmod(dir.posix("d").c_str(), 0555);
  EXPECT_EQ(remove_directory(dir.file("d").c_str()), 1);
  EXPECT_EQ(delete_file(dir.file("d").c_str()), 0);
}

TEST(FileOps, IsDirAndFileExists) {
  TempDir dir;
  write_file(dir.posix("plain"), "");
  struct Row {
    std::string path;
    int is_dir, exists;
  } rows[] = {
      {dir.path(), 1, 1},   {dir.file("plain"), 0, 1}, {dir.file("missing"), 0, 0},
      {dir.file(""), 0, 0},  // a final "\" finds nothing and is no volume root
      {"/", 1, 0},           // a root is a volume, not a search match
      {"\\", 1, 0},         {dir.file("pl*"), 0, 1},
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
