// send_dirs_test.cpp - send directories made from groups of loose files and
// from collected files, their descriptors, and the notification request.
#include "completion/send_dirs.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "completion/notification.h"
#include "frame/context.h"
#include "support/test_host.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

using Tree = std::map<std::string, std::string>;

AddressEntry entry(const char *type, const char *address) {
  return AddressEntry{const_cast<char *>(type), const_cast<char *>(address)};
}

SendOptions limits(uint32_t files, uint32_t kilobytes) {
  SendOptions o{};
  o.UseSendLimits = 1;
  o.NumFileLimit = files;
  o.SizeFileLimit = kilobytes;
  return o;
}

TEST(GroupFiles, CountLimit) {
  TempDir dir;
  for (const char *name : {"a", "b", "c", "d", "e"}) write_file(dir.posix(name), "x");
  GetFileCtx ctx{};
  AddressEntry to[] = {entry("SMTP", "a@x")};
  ASSERT_EQ(group_files_to_subdir(&ctx, dir.path().c_str(), to, 1, "", limits(3, 100), "Subj"), 0);
  Tree files = tree(dir.path());
  int grouped = 0;
  for (const auto &[path, content] : files) {
    if (path.rfind("TMP_*/", 0) == 0 && path != "TMP_*/" && path != "TMP_*/olminfo.txt") ++grouped;
  }
  EXPECT_EQ(grouped, 3);
  EXPECT_EQ(files["TMP_*/olminfo.txt"], "Subject:Subj\r\nEmail:SMTP:a@x\r\n");
}

TEST(GroupFiles, SizeLimitTakesWhatFits) {
  TempDir dir;
  // Whatever the listing order, 8 KiB fits the 10 KiB limit and 11 KiB never does.
  write_file(dir.posix("eight"), std::string(8 * 1024, 'e'));
  write_file(dir.posix("huge"), std::string(11 * 1024, 'h'));
  GetFileCtx ctx{};
  SendOptions o = limits(10, 10);
  o.GarantedDelivery = 1;
  o.IterationNum = 3;
  o.TimeInterval = 20;
  ASSERT_EQ(group_files_to_subdir(&ctx, dir.path().c_str(), nullptr, 0, "", o, ""), 0);
  Tree files = tree(dir.path());
  EXPECT_EQ(files.count("huge"), 1u);  // larger than the whole limit: never grouped
  EXPECT_EQ(files.count("TMP_*/eight"), 1u);
  EXPECT_EQ(files["TMP_*/olminfo.txt"], "RepeatNumber:3\r\nRepeatTimeout:20\r\nSubject: \r\n");
}

TEST(GroupFiles, NothingToGroup) {
  TempDir dir;
  GetFileCtx ctx{};
  EXPECT_EQ(group_files_to_subdir(&ctx, "", nullptr, 0, "", limits(3, 3), "S"), 1);
  EXPECT_EQ(group_files_to_subdir(&ctx, dir.path().c_str(), nullptr, 0, "", limits(3, 3), "S"), 1);
  write_file(dir.posix("skipped.txt"), "x");
  write_file(dir.posix("other.doc"), "x");
  write_file(dir.posix("qmt-1-2-3.tmp"), "x");
  append_skip_node(&ctx, kSkipFile, (dir.path() + "\\SKIPPED.TXT").c_str());
  EXPECT_EQ(group_files_to_subdir(&ctx, dir.path().c_str(), nullptr, 0, "*.txt", limits(3, 3), "S"),
            1);
  EXPECT_EQ(group_files_to_subdir(&ctx, dir.path().c_str(), nullptr, 0, "", limits(0, 3), "S"), 1);
  EXPECT_EQ(tree(dir.path()).size(), 3u);  // no directory was left behind
  OXT_free_get_files(&ctx);
}

TEST(CreateDirForSendFile, SeparateAndGuaranteed) {
  TempDir dir;
  AddressEntry to[] = {entry("SMTP", "a@x"), entry("EX", "/o=b"), entry("NOTES", "c/d")};
  std::string data = "content";
  FileEntry file{reinterpret_cast<uint8_t *>(data.data()),
                 7,
                 const_cast<char *>("r.txt"),
                 nullptr,
                 nullptr,
                 nullptr};
  ASSERT_EQ(create_dir_for_send_file(kSeparateSending, dir.path().c_str(), &file, 1, to, 3, 0, 0,
                                     "Report"),
            0);
  Tree files = tree(dir.path());
  EXPECT_EQ(files["TMP_*/r.txt"], "content");
  EXPECT_EQ(files["TMP_*/olminfo.txt"],
            "SeparateSending:3\r\nSubject:Report\r\nEmail:SMTP:a@x\r\nEmail:EX:/o=b\r\n"
            "Email:NOTES:c/d\r\n");
  ASSERT_NE(file.CopyPath, nullptr);
  // The directory as a literal part of the pattern ("\\" on Windows).
  const std::string literal =
      std::regex_replace(dir.path(), std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)");
  EXPECT_TRUE(
      std::regex_match(file.CopyPath, std::regex(literal + "\\\\TMP_[0-9]{14}_[0-9]+\\\\r\\.txt")))
      << file.CopyPath;
  std::free(file.CopyPath);

  TempDir other;
  file.CopyPath = nullptr;
  ASSERT_EQ(create_dir_for_send_file(kGuaranteedDelivery, other.path().c_str(), &file, 1, to, 1, 4,
                                     30, ""),
            0);
  EXPECT_EQ(tree(other.path())["TMP_*/olminfo.txt"],
            "RepeatNumber:4\r\nRepeatTimeout:30\r\nSubject: \r\nEmail:SMTP:a@x\r\n");
  std::free(file.CopyPath);
}

TEST(CreateDirForSendFile, FailureLeavesNothingBehind) {
  TempDir dir;
  std::string data = "x";
  FileEntry files[2] = {{reinterpret_cast<uint8_t *>(data.data()), 1, const_cast<char *>("ok.txt"),
                         nullptr, nullptr, nullptr},
                        {reinterpret_cast<uint8_t *>(data.data()), 1,
                         const_cast<char *>("sub/no.txt"), nullptr, nullptr, nullptr}};
  EXPECT_EQ(create_dir_for_send_file(kSeparateSending, dir.path().c_str(), files, 2, nullptr, 0, 0,
                                     0, "S"),
            -1);
  EXPECT_TRUE(tree(dir.path()).empty());
  ASSERT_EQ(host().events.size(), 2u);
  EXPECT_EQ(host().events[0].code, OXT_EV_WRITE_FILE);
  EXPECT_EQ(host().events[1], summary("write_to_file", "create_dir_for_send_file"));
  EXPECT_EQ(test_os().pauses.size(), 3u);
  std::free(files[0].CopyPath);
}

TEST(SendNotification, RequestForTheAdministrator) {
  TempDir dir;
  test_os().fixed_time = os::LocalTime{2024, 3, 5, 14, 30, 9, 0};
  ASSERT_EQ(send_notification((dir.path() + "\\").c_str(), "admin", "EX", "/bad/TMP_1"), 0);
  ASSERT_EQ(send_notification(dir.path().c_str(), "admin", "EX", "/bad/TMP_1"), 0);
  const std::vector<std::string> made = names_in(dir.path());
  ASSERT_EQ(made.size(), 2u);  // the same second: a second name was drawn
  for (const std::string &name : made) {
    EXPECT_EQ(name.substr(0, 19), "TMP_20240305143009_");
    EXPECT_EQ(read_file(dir.posix(name) + "/olminfo.txt"),
              "Subject:\xD3\xE2\xE5\xE4\xEE\xEC\xEB\xE5\xED\xE8\xE5 \xD2\xE5\xEB\xFC\xEC\xE0"
              "\xF0\xE0 \xEE \xF1\xE1\xEE\xE5 \xEF\xF0\xE8 \xEE\xF2\xEF\xF0\xE0\xE2\xEA\xE5 "
              "\xF4\xE0\xE9\xEB\xE0\r\nEmail:EX:admin\r\nProtection:Plain\r\nBody:\r\n"
              "\xD4\xE0\xE9\xEB \xEF\xE5\xF0\xE5\xED\xE5\xF1\xE5\xED \xE2 \xE0\xF0\xF5\xE8\xE2"
              "\xED\xF3\xFE \xE4\xE8\xF0\xE5\xEA\xF2\xEE\xF0\xE8\xFE: /bad/TMP_1\r\n");
  }
  EXPECT_EQ(send_notification(dir.posix("missing").c_str(), "a", "SMTP", "/x"), -1);
  ASSERT_EQ(host().events.size(), 2u);
  EXPECT_EQ(host().events[0].code, OXT_EV_CREATE_DIR);
  EXPECT_EQ(host().events[1], summary("CreateDirectory", "send_notification"));
}

}  // namespace
}  // namespace zz::test
