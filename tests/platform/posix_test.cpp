// posix_test.cpp - what only the POSIX OS layer does: exclusive opens across
// processes, links never followed, "\" as a separator, letter case in plain
// names, "/" as the volume root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "platform/os.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

os::Os &sys() {
  return os::system_os();
}

TEST(PosixOs, ExclusiveOpenIsRefusedWhileAnotherProcessHoldsTheFile) {
  TempDir dir;
  write_file(dir.posix("held"), "content");
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  if (child == 0) {
    auto file = sys().open(dir.file("held").c_str(), os::OpenMode::kReadExisting);
    char byte = file ? 'y' : 'n';
    (void)!write(ready[1], &byte, 1);
    (void)!read(release[0], &byte, 1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  EXPECT_EQ(sys().open(dir.file("held").c_str(), os::OpenMode::kReadExisting), nullptr);
  EXPECT_EQ(sys().last_error(), os::kErrSharingViolation);
  // A refused write must not have emptied the file.
  EXPECT_EQ(sys().open(dir.file("held").c_str(), os::OpenMode::kWriteCreateTruncate), nullptr);
  EXPECT_EQ(read_file(dir.posix("held")), "content");
  ASSERT_EQ(write(release[1], "x", 1), 1);
  waitpid(child, nullptr, 0);
  EXPECT_NE(sys().open(dir.file("held").c_str(), os::OpenMode::kReadExisting), nullptr);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST(PosixOs, SymbolicLinksAreNeitherReadNorWrittenThrough) {
  TempDir dir;
  write_file(dir.posix("target"), "secret");
  ASSERT_EQ(symlink(dir.posix("target").c_str(), dir.posix("link").c_str()), 0);
  EXPECT_EQ(sys().open(dir.file("link").c_str(), os::OpenMode::kReadExisting), nullptr);
  EXPECT_EQ(sys().open(dir.file("link").c_str(), os::OpenMode::kWriteCreateTruncate), nullptr);
  EXPECT_EQ(read_file(dir.posix("target")), "secret");
  os::DirEntry entry;
  ASSERT_NE(sys().find_first(dir.file("link").c_str(), &entry), nullptr);
  EXPECT_EQ(entry.attributes & os::kAttrDirectory, 0u);
  EXPECT_NE(entry.attributes & os::kAttrReparsePoint, 0u);
  // A link to a directory is not a directory either.
  ASSERT_EQ(symlink(dir.path().c_str(), dir.posix("dirlink").c_str()), 0);
  ASSERT_NE(sys().find_first(dir.file("dirlink").c_str(), &entry), nullptr);
  EXPECT_EQ(entry.attributes & os::kAttrDirectory, 0u);
}

TEST(PosixOs, BackslashesInPathsAreDirectorySeparators) {
  TempDir dir;
  ASSERT_TRUE(sys().create_directory(dir.file("sub").c_str()));
  {
    auto file =
        sys().open((dir.path() + "\\sub\\f.txt").c_str(), os::OpenMode::kWriteCreateTruncate);
    ASSERT_NE(file, nullptr);
    uint32_t put = 0;
    ASSERT_TRUE(file->write("abc", 3, &put));
  }
  EXPECT_EQ(read_file(dir.posix("sub/f.txt")), "abc");
  // A name that holds "\" cannot be addressed, so it is not listed.
  write_file(dir.posix("odd\\name"), "x");
  EXPECT_EQ(listed(dir.file("*")), (std::set<std::string>{".", "..", "sub"}));
}

TEST(PosixOs, PlainNamesTellLetterCaseApart) {
  TempDir dir;
  write_file(dir.posix("Report.TXT"), "");
  write_file(dir.posix("b.doc"), "");
  EXPECT_EQ(listed(dir.file("Report.TXT")), (std::set<std::string>{"Report.TXT"}));
  EXPECT_TRUE(listed(dir.file("report.txt")).empty());
  EXPECT_TRUE(listed(dir.file("")).empty());
}

TEST(PosixOs, SystemFacts) {
  EXPECT_TRUE(sys().is_volume_root("/"));
  EXPECT_TRUE(sys().is_volume_root("\\"));
  EXPECT_FALSE(sys().is_volume_root("/tmp/"));
  std::string temp;
  ASSERT_TRUE(sys().temp_path(&temp));
  EXPECT_EQ(temp.back(), '/');
  EXPECT_EQ(sys().thread_id(), static_cast<uint32_t>(gettid()));
}

}  // namespace
}  // namespace zz::test
