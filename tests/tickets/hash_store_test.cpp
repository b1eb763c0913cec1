// hash_store_test.cpp - the ticket hash store: recording sent copies and
// ending the repeats of every request a receipt confirms.
#include "tickets/hash_store.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "host/settings.h"
#include "support/rules_config.h"
#include "support/test_os.h"
#include "zozerez.h"

namespace zz::test {
namespace {

class HashStore : public testing::Test {
 protected:
  void SetUp() override {
    host().set_string(kHostKey, "Filename", data_.path());
    ASSERT_TRUE(host::fetch_registry_key());  // as OXT_init_get_files would have
  }
  // request - a send directory with a descriptor and a file; its descriptor path
  std::string request(const std::string &name) {
    make_dir(dirs_.posix(name));
    write_file(dirs_.posix(name + "/olminfo.txt"), "RepeatNumber:1\r\n");
    write_file(dirs_.posix(name + "/f.txt"), "x");
    return dirs_.path() + "\\" + name + "\\olminfo.txt";
  }
  std::string store() const { return read_file(data_.posix("olmhash.dat")); }

  TempDir data_;
  TempDir dirs_;
};

TEST_F(HashStore, RecordsAndConfirms) {
  const std::string a = request("a");
  const std::string b = request("b");
  ASSERT_EQ(add_hash_to_file(a.c_str(), "ABCDEF"), 0u);
  ASSERT_EQ(add_hash_to_file(b.c_str(), "ABCDEF"), 0u);
  ASSERT_EQ(add_hash_to_file(b.c_str(), "OTHER"), 0u);
  EXPECT_EQ(store(), a + "|ABCDEF\r\n" + b + "|ABCDEF\r\n" + b + "|OTHER\r\n");

  EXPECT_EQ(OXT_ticket_hash("nothing"), 0u);
  EXPECT_EQ(store(), a + "|ABCDEF\r\n" + b + "|ABCDEF\r\n" + b + "|OTHER\r\n");

  // Lower case and a prefix of the stored hash both match; every line of a
  // confirmed path goes, also the one with another hash.
  EXPECT_EQ(OXT_ticket_hash("abc"), 0u);
  EXPECT_FALSE(exists(dirs_.posix("a")));
  EXPECT_FALSE(exists(dirs_.posix("b")));
  EXPECT_FALSE(exists(data_.posix("olmhash.dat")));  // the last line removed
  EXPECT_TRUE(host().events.empty());
  EXPECT_EQ(OXT_ticket_hash("abc"), 0u);  // no store: nothing to do
}

TEST_F(HashStore, SameRequestRecordedTwice) {
  const std::string a = request("a");
  const std::string keep = request("keep");
  ASSERT_EQ(add_hash_to_file(a.c_str(), "H1"), 0u);
  ASSERT_EQ(add_hash_to_file(a.c_str(), "H1"), 0u);
  ASSERT_EQ(add_hash_to_file(keep.c_str(), "H2"), 0u);
  EXPECT_EQ(OXT_ticket_hash("H1"), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_DELETE_FILE, {a}},
                                   summary("delete_file", "delete_files_and_subdir")}));
  EXPECT_EQ(store(), keep + "|H2\r\n");
  EXPECT_TRUE(exists(dirs_.posix("keep/f.txt")));
}

TEST_F(HashStore, LinesWithoutBarAndLongLinesAreKept) {
  const std::string a = request("a");
  const std::string long_line = std::string(3000, 'L') + "|H1\r\n";
  write_file(data_.posix("olmhash.dat"),
             "no bar here\r\n\r\n" + a + "|H1 \r\n" + long_line + "after|H1\r\n");
  EXPECT_EQ(OXT_ticket_hash("H1"), 0u);
  EXPECT_FALSE(exists(dirs_.posix("a")));
  EXPECT_EQ(store(), "no bar here\r\n" + long_line + "after|H1\r\n");
  EXPECT_EQ(OXT_ticket_hash(""), 0u);  // an empty hash names nothing
  EXPECT_EQ(OXT_ticket_hash(nullptr), 0u);
  EXPECT_EQ(store(), "no bar here\r\n" + long_line + "after|H1\r\n");
}

TEST_F(HashStore, CleanupFailures) {
  write_file("relative.txt", "x");
  EXPECT_EQ(delete_files_and_subdir("relative.txt"), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_NO_SEPARATOR, {"relative.txt"}},
                                   summary("rafter", "delete_files_and_subdir")}));
  host().events.clear();
  const std::string a = request("a");
  make_dir(dirs_.posix("a/sub"));
  EXPECT_EQ(delete_files_and_subdir(a.c_str()), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_REMOVE_DIR, {dirs_.path() + "\\a"}},
                                   summary("delete_file", "delete_files_and_subdir")}));
  EXPECT_FALSE(exists(dirs_.posix("a/f.txt")));
}

TEST_F(HashStore, EmptyFilenameMeansTheTemporaryDirectory) {
  host().set_string(kHostKey, "Filename", "");
  TempDir temp;
  {
    TempEnvironment in(temp.path());
    EXPECT_EQ(add_hash_to_file("X:\\r\\olminfo.txt", "H"), 0u);
  }
  EXPECT_EQ(read_file(temp.posix("olmhash.dat")), "X:\\r\\olminfo.txt|H\r\n");
}

}  // namespace
}  // namespace zz::test
