// roriv_exports_test.cpp - the real roriv library as the module calls it: the
// key, the readers and their "not read" answers, reload when the file
// changes, refusal of a broken file, and event lines in the log file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "roriv/roriv.h"
#include "support/temp_dir.h"
#include "zozerez_host.h"

namespace zz::test {
namespace {

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez";

class RorivExports : public testing::Test {
 protected:
  void SetUp() override {
    store_ = dir_.posix("gateway.reg");
    write(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez]\n\"InnRulezFlags\"=dword:00000001\n"
        "\"SaveInErrorPath\"=\"/var/err\"\n\"Empty\"=\"\"\n");
    // Every fetch of the key looks at the file: a change counts at once.
    setenv("RORIV_RECHECK_MS", "0", 1);
    ASSERT_EQ(roriv_setup(store_.c_str(), nullptr), 0u);
  }
  void TearDown() override { roriv_set_log_file(nullptr); }

  void write(const std::string &content) { write_file(store_, content); }

  TempDir dir_;
  std::string store_;
};

TEST_F(RorivExports, KeyDefaultsToTheFirstKeyOfTheFile) {
  char key[2048];
  ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
  EXPECT_STREQ(key, kKey);
  ASSERT_EQ(roriv_setup(store_.c_str(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Other"), 0u);
  ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
  EXPECT_STREQ(key, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Other");
}

TEST_F(RorivExports, ReadersAnswerNotReadForAbsentOrMistypedValues) {
  uint32_t value = 99;
  EXPECT_EQ(OLM_ConfGetDWORD(kKey, "innrulezflags", &value, 0), 0u);
  EXPECT_EQ(value, 1u);
  EXPECT_NE(OLM_ConfGetDWORDEx(kKey, "SaveInErrorPath", &value, 0, 0), 0u);
  EXPECT_NE(OLM_ConfGetDWORD(kKey, "Missing", &value, 0), 0u);
  char text[2048] = "unchanged";
  EXPECT_NE(OLM_ConfGetString(kKey, "InnRulezFlags", text, sizeof text, 0), 0u);
  EXPECT_EQ(OLM_ConfGetString(kKey, "SaveInErrorPath", text, sizeof text, 0), 0u);
  EXPECT_STREQ(text, "/var/err");
  EXPECT_NE(OLM_ConfGetString(kKey, "SaveInErrorPath", text, 5, 0), 0u);
  EXPECT_EQ(OLM_ConfGetString(kKey, "Empty", text, sizeof text, 0), 0u);
  EXPECT_STREQ(text, "");
  EXPECT_NE(OLM_ConfGetPath(kKey, "ArchivePathOut", text, "", 0), 0u);
  EXPECT_EQ(OLM_ConfGetPath(kKey, "ArchivePathOut", text, "Archive\\Out\\", 0), 0u);
  EXPECT_STREQ(text, "Archive\\Out\\");
  EXPECT_EQ(OLM_ConfGetPath(kKey, "Empty", text, "default", 0), 0u);
  EXPECT_STREQ(text, "");
}

TEST_F(RorivExports, ReloadsWhenTheFileChangesAndKeepsTheLastGoodOne) {
  // Like the module, each "operation" fetches the key first: that is when a change is seen.
  uint32_t value = 0;
  char key[2048];
  ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
  ASSERT_EQ(OLM_ConfGetDWORD(kKey, "InnRulezFlags", &value, 0), 0u);
  write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez]\n\"InnRulezFlags\"=dword:00000003\n");
  ASSERT_EQ(OLM_ConfGetDWORD(kKey, "InnRulezFlags", &value, 0), 0u);
  EXPECT_EQ(value, 1u);  // not looked at again within an operation
  ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
  ASSERT_EQ(OLM_ConfGetDWORD(kKey, "InnRulezFlags", &value, 0), 0u);
  EXPECT_EQ(value, 3u);

  // An edit of the same size within the same moment is still seen.
  write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez]\n\"InnRulezFlags\"=dword:00000004\n");
  ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
  ASSERT_EQ(OLM_ConfGetDWORD(kKey, "InnRulezFlags", &value, 0), 0u);
  EXPECT_EQ(value, 4u);

  // A file that turns bad, or goes away, is reported once; what was read stays.
  const std::string log = dir_.posix("events.log");
  roriv_set_log_file(log.c_str());
  write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez]\n\"InnRulezFlags\"=dword:zz\n");
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
    ASSERT_EQ(OLM_ConfGetDWORD(kKey, "InnRulezFlags", &value, 0), 0u);
    EXPECT_EQ(value, 4u);
  }
  char message[512];
  EXPECT_EQ(roriv_store_status(message, sizeof message), 1u);
  EXPECT_EQ(std::string(message), store_ + ", line 3: a dword needs 1 to 8 hexadecimal digits");
  ASSERT_EQ(unlink(store_.c_str()), 0);
  ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
  EXPECT_EQ(OLM_ConfGetDWORD(kKey, "InnRulezFlags", &value, 0), 0u);
  const std::string lines = read_file(log);
  const std::string refusal = "refused: " + store_ +
                              ", line 3: a dword needs 1 to 8 hexadecimal digits; "
                              "the configuration read before stays in force";
  EXPECT_NE(lines.find(refusal), std::string::npos) << lines;
  EXPECT_EQ(lines.find(refusal), lines.rfind(refusal)) << lines;
  EXPECT_NE(lines.find(store_ + ": the store file cannot be found"), std::string::npos) << lines;

  write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez]\n\"InnRulezFlags\"=dword:00000005\n");
  ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
  ASSERT_EQ(OLM_ConfGetDWORD(kKey, "InnRulezFlags", &value, 0), 0u);
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(roriv_store_status(message, sizeof message), 0u);

  // A store that was never good answers nothing.
  write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez]\n\"InnRulezFlags\"=dword:zz\n");
  EXPECT_NE(roriv_setup(store_.c_str(), nullptr), 0u);
  EXPECT_NE(NR_GetRegistryKeyString(key), 0u);
}

TEST_F(RorivExports, EventsBecomeReadableLogLines) {
  std::string log = dir_.posix("events.log");
  roriv_set_log_file(log.c_str());
  OLM_ReportEvent(3, OXT_EV_WRITE_FILE, "C:\\in\\\xEE\xF2\xF7\xE5\xF2.txt");  // отчет
  OLM_ReportEvent(1, OXT_EV_SUMMARY, "write_to_file(2)", "OXT_store_file_ext");
  OLM_ReportEvent(3, OXT_EV_READ_SETTING, "Path", "HKLM\\Zozerez");
  OLM_ReportEvent(3, OXT_EV_NO_INPUT_RULE, "a.txt", "x@y", 3u);
  OLM_SignalFailure(0, 1);
  std::string lines = read_file(log);
  // Paths are shown as this system writes them; a registry key keeps its "\\".
  EXPECT_NE(lines.find("level 3 E0090003 cannot write the file \"C:/in/\xD0\xBE\xD1\x82\xD1"
                       "\x87\xD0\xB5\xD1\x82.txt\"\n"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("cannot read the setting \"Path\" under \"HKLM\\Zozerez\""),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("level 1 E0090002 write_to_file(2) failed in OXT_store_file_ext\n"),
            std::string::npos);
  EXPECT_NE(lines.find("no input rule stored the file \"a.txt\" from \"x@y\" (message flags 3)"),
            std::string::npos);
  EXPECT_NE(lines.find("failure signal (0, 1)"), std::string::npos);
}

}  // namespace
}  // namespace zz::test
