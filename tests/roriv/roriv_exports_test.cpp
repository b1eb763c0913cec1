// roriv_exports_test.cpp - the real roriv library as the module calls it: the
// key, the readers and their "not read" answers, reload when the file
// changes, refusal of a broken file, and event lines in the log file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// A reader expects each operation to ask what the last one asked, in the same
// order. Operations here ask in ever other ways - the same run again, cut
// short, with a read added or left out, two kinds taking turns, one key
// buffer rewritten in place between reads, and a store edited between runs -
// and every answer must still be the store's.
TEST_F(RorivExports, EveryReadIsAnsweredRightWhateverOrderOperationsAsk) {
  setenv("ZZ_READ_TEST", "/srv", 1);
  const std::string rule = std::string(kKey) + "\\Rule";
  auto store_text = [&](int generation) {
    std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez]\n";
    for (int n = 0; n < 3; ++n) {
      text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez\\Rule" + std::to_string(n) + "]\n";
      text += "\"Path\"=\"in" + std::to_string(n) + "_" + std::to_string(generation) + "\"\n";
      text += "\"Type\"=dword:0000000" + std::to_string(n + generation) + "\n";
      // "%ZZ_READ_TEST%\x" as an expandable string
      if (n == 1) text += "\"Root\"=hex(2):25,5a,5a,5f,52,45,41,44,5f,54,45,53,54,25,5c,78,00\n";
    }
    return text;
  };
  // The answer each (rule, name) must get, "" for not read.
  auto expected = [](int generation, int n, const std::string &name) -> std::string {
    if (n > 2) return "";
    if (name == "Path") return "in" + std::to_string(n) + "_" + std::to_string(generation);
    if (name == "Type") return std::to_string(n + generation);
    if (name == "Root" && n == 1) return "/srv\\x";
    return "";
  };
  const char *const names[] = {"Path", "Type", "Root", "Missing"};
  char key[2048];
  uint32_t seed = 7;
  auto next = [&seed](uint32_t below) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % below;
  };
  struct Read {
    int rule;
    int name;
  };
  std::vector<Read> last, other;
  for (int i = 0; i < 12; ++i) other.push_back({int(next(4)), int(next(4))});
  int generation = 0;
  for (int operation = 0; operation < 600; ++operation) {
    // An edit comes between two runs that ask the same: the second must not
    // be answered from the first one's store.
    const bool edited = operation % 150 == 148;
    if (edited) {
      write(store_text(++generation));
    } else if (operation == 0) {
      write(store_text(0));
    }
    std::vector<Read> run = operation % 5 == 4 ? other : last;
    switch (edited ? 5 : next(6)) {
      case 0:
        run.clear();
        for (uint32_t n = next(30); n != 0; --n) run.push_back({int(next(4)), int(next(4))});
        break;
      case 1:
        if (!run.empty()) run.resize(next(uint32_t(run.size())));
        break;
      case 2:
        run.insert(run.begin() + (run.empty() ? 0 : next(uint32_t(run.size()))),
                   {int(next(4)), int(next(4))});
        break;
      case 3:
        if (!run.empty()) run.erase(run.begin() + next(uint32_t(run.size())));
        break;
      default:
        break;  // the same reads again
    }
    ASSERT_EQ(NR_GetRegistryKeyString(key), 0u);
    for (const Read &read : run) {
      // One buffer, rewritten for each rule, as the module builds its keys.
      std::snprintf(key, sizeof key, "%s%d", rule.c_str(), read.rule);
      const std::string name = names[read.name];
      const std::string want = expected(generation, read.rule, name);
      char text[2048] = "";
      uint32_t number = 0;
      std::string got;
      if (name == "Type") {
        if (OLM_ConfGetDWORDEx(key, name.c_str(), &number, 0, 0) == 0) got = std::to_string(number);
      } else if (OLM_ConfGetString(key, name.c_str(), text, sizeof text, 0) == 0) {
        got = text;
      }
      ASSERT_EQ(got, want) << "operation " << operation << ", " << key << " " << name;
    }
    if (operation % 5 != 4) last = run;
  }
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
