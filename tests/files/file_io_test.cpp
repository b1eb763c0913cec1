// file_io_test.cpp - whole-file reads and writes: their attempts, pauses and
// events when the file is missing, held by another program or unwritable.
#include "files/file_io.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/test_host.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

using Pauses = std::vector<uint32_t>;
const Pauses kThreePauses = {1000, 1000, 1000};

struct Read {
  int result = 0;
  std::string content;
};

Read read_with(int (*reader)(const char *, uint8_t **, uint32_t *), const std::string &path) {
  uint8_t *data = nullptr;
  uint32_t length = 0xDEAD;
  Read out;
  out.result = reader(path.c_str(), &data, &length);
  if (out.result == 1) {
    out.content.assign(reinterpret_cast<char *>(data), length);
    std::free(data);
  } else {
    EXPECT_EQ(data, nullptr);
  }
  return out;
}

// Attempts, pauses and the one event of a read, by how many opens fail.
TEST(ReadFromFile, AttemptsPausesAndTheSystemError) {
  struct Row {
    const char *name;
    int failing_opens;  // -1: the file is missing
    int result;
    Pauses pauses;
    Events events;
  } rows[] = {
      {"missing", -1, 0, kThreePauses, {{1, OXT_EV_READ_ATTEMPTS, {"2"}}}},
      {"held for two attempts", 2, 1, {1000, 1000}, {}},
      {"held for three: the error before the last",
       3,
       1,
       kThreePauses,
       {{1, OXT_EV_READ_ATTEMPTS, {"32"}}}},
  };
  for (const Row &row : rows) {
    test_os().reset();
    host().events.clear();
    TempDir dir;
    if (row.failing_opens >= 0) write_file(dir.posix("f"), "payload");
    test_os().fail_open = [n = 0, limit = row.failing_opens](const char *, os::OpenMode) mutable {
      return ++n <= limit;
    };
    test_os().forced_error = os::kErrSharingViolation;
    const Read read = read_with(read_from_file, dir.file("f"));
    EXPECT_EQ(read.result, row.result) << row.name;
    EXPECT_EQ(read.content, row.result == 1 ? "payload" : "") << row.name;
    EXPECT_EQ(test_os().opens, row.result == 1 ? row.failing_opens + 1 : 4) << row.name;
    EXPECT_EQ(test_os().pauses, row.pauses) << row.name;
    EXPECT_EQ(host().events, row.events) << row.name;
  }
}

TEST(ReadFromFile, EmptyAndBinaryFiles) {
  TempDir dir;
  write_file(dir.posix("empty"), "");
  write_file(dir.posix("binary"), std::string("a\0b\xFF\n", 5));
  EXPECT_EQ(read_with(read_from_file, dir.file("empty")).content, "");
  EXPECT_EQ(read_with(read_from_file, dir.file("empty")).result, 1);
  EXPECT_EQ(read_with(read_from_file, dir.file("binary")).content, std::string("a\0b\xFF\n", 5));
  EXPECT_TRUE(test_os().pauses.empty());
}

TEST(ReadFileOnce, OneAttemptNoPauseNoEvent) {
  TempDir dir;
  auto read_file_once = [](const char *path, uint8_t **data, uint32_t *length) {
    return zz::read_file_once(path, data, length);
  };
  EXPECT_EQ(read_with(read_file_once, dir.file("missing")).result, 0);
  EXPECT_EQ(test_os().opens, 1);
  EXPECT_TRUE(test_os().pauses.empty());
  EXPECT_TRUE(host().events.empty());
  write_file(dir.posix("f"), "x");
  EXPECT_EQ(read_with(read_file_once, dir.file("f")).content, "x");
}

TEST(WriteToFile, MissingDirectoryTakesFourAttemptsSilently) {
  TempDir dir;
  EXPECT_EQ(write_to_file(dir.file("no\\such\\file").c_str(), "x", 1), 0);
  EXPECT_EQ(test_os().opens, 4);
  EXPECT_EQ(test_os().pauses, kThreePauses);
  EXPECT_TRUE(host().events.empty());
}

TEST(WriteToFile, ReplacesContentAndRetriesAFileThatIsHeld) {
  TempDir dir;
  write_file(dir.posix("f"), "old and longer");
  test_os().fail_open = [n = 0](const char *, os::OpenMode) mutable { return ++n <= 2; };
  EXPECT_EQ(write_to_file(dir.file("f").c_str(), "new", 3), 1);
  EXPECT_EQ(read_file(dir.posix("f")), "new");
  EXPECT_EQ(test_os().pauses, (Pauses{1000, 1000}));
  EXPECT_EQ(write_to_file(dir.file("empty").c_str(), "", 0), 1);
  EXPECT_TRUE(exists(dir.posix("empty")));
}

TEST(GetFileSize, SizeOrZero) {
  TempDir dir;
  write_file(dir.posix("f"), "12345");
  uint32_t size = 0;
  EXPECT_EQ(get_file_size(dir.file("f").c_str(), &size), 1);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(get_file_size(dir.file("missing").c_str(), &size), 0);
}

TEST(CopyToFile, CopiesWholeOrFails) {
  TempDir dir;
  write_file(dir.posix("src"), "content");
  EXPECT_EQ(copy_to_file(dir.file("src").c_str(), dir.file("dst").c_str()), 1);
  EXPECT_EQ(read_file(dir.posix("dst")), "content");
  EXPECT_EQ(copy_to_file(dir.file("missing").c_str(), dir.file("dst2").c_str()), 0);
  EXPECT_FALSE(exists(dir.posix("dst2")));
}

}  // namespace
}  // namespace zz::test
