// registry_win32_test.cpp - roriv.dll as Windows code: settings written into
// the registry by reg.exe and regedit.exe read back through the functions
// the module imports (by ordinal), the answers for absent and mistyped values
// and short buffers, and the message table the Event Viewer formats events with.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/event_table.h"
#include "roriv/roriv.h"
#include "support/temp_dir.h"
#include "zozerez_host.h"

namespace zz::test {
namespace {

// The library as the module sees it: loaded, its functions by ordinal.
struct Roriv {
  HMODULE dll = LoadLibraryA("roriv.dll");
  template <class F>
  F at(int ordinal) const {
    return reinterpret_cast<F>(
        reinterpret_cast<void *>(GetProcAddress(dll, MAKEINTRESOURCEA(ordinal))));
  }
  decltype(&NR_GetRegistryKeyString) key = at<decltype(key)>(3);
  decltype(&OLM_ConfGetDWORDEx) dword = at<decltype(dword)>(57);
  decltype(&OLM_ConfGetString) string = at<decltype(string)>(59);
  decltype(&OLM_ConfGetPath) path = at<decltype(path)>(62);
  decltype(&OLM_ReportEvent) report = at<decltype(report)>(10);
};

const Roriv &roriv() {
  static Roriv r;
  return r;
}

// run - a command through cmd.exe, as an admin would type it
int run(const std::string &command) {
  return std::system(command.c_str());
}

class Win32Roriv : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(roriv().dll, nullptr);
    key_ = "SOFTWARE\\ZozerezTest\\" + std::to_string(GetCurrentProcessId()) + "_" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str());
    roriv_setup("", "");
  }

  std::string key_;
};

TEST_F(Win32Roriv, ReadsWhatRegAndRegeditWrote) {
  // "Привет" and "Все" in code page 1251, as cmd.exe passes them on.
  const std::string hello = "\xCF\xF0\xE8\xE2\xE5\xF2";
  const std::string all = "\xC2\xF1\xE5";
  const std::string at = "HKLM\\" + key_;
  ASSERT_EQ(run("reg add \"" + at + "\" /v Text /t REG_SZ /d \"" + hello + "\" /f >NUL"), 0);
  ASSERT_EQ(run("reg add \"" + at + "\" /v Number /t REG_DWORD /d 42 /f >NUL"), 0);
  // cmd leaves an unset variable as it is; it is set only for roriv to expand.
  ASSERT_EQ(
      run("reg add \"" + at + "\" /v Place /t REG_EXPAND_SZ /d \"%ZZ_TEST_ROOT%\\in\" /f >NUL"), 0);
  ASSERT_EQ(run("reg add \"" + at + "\" /v Empty /t REG_SZ /d \"\" /f >NUL"), 0);
  TempDir dir;
  const std::string reg = dir.posix("rules.reg");
  write_file(reg, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + key_ +
                      "\\InputFileRulez\\0]\r\n\"Email\"=\"" + all +
                      "\"\r\n\"Type\"=dword:00000007\r\n\"Mask\"=hex:01,02\r\n");
  ASSERT_EQ(run("regedit /S \"" + reg + "\""), 0);
  _putenv_s("ZZ_TEST_ROOT", "D:\\gw");

  ASSERT_EQ(roriv_setup("", ("HKEY_LOCAL_MACHINE\\" + key_).c_str()), 0u);
  char key[2048] = "";
  ASSERT_EQ(roriv().key(key), 0u);
  EXPECT_EQ(std::string(key), "HKEY_LOCAL_MACHINE\\" + key_);  // as named
  char text[2048] = "";
  uint32_t number = 0;
  EXPECT_EQ(roriv().string(key, "Text", text, sizeof text, 0), 0u);
  EXPECT_EQ(std::string(text), hello);
  EXPECT_EQ(roriv().dword(key, "number", &number, 0, 0), 0u);  // names ignore case
  EXPECT_EQ(number, 42u);
  EXPECT_EQ(roriv().path(key, "Place", text, "", 0), 0u);
  EXPECT_EQ(std::string(text), "D:\\gw\\in");
  EXPECT_EQ(roriv().string(key, "Empty", text, sizeof text, 0), 0u);
  EXPECT_EQ(std::string(text), "");
  const std::string rule = std::string(key) + "\\InputFileRulez\\0";
  EXPECT_EQ(roriv().string(rule.c_str(), "Email", text, sizeof text, 0), 0u);
  EXPECT_EQ(std::string(text), all);
  EXPECT_EQ(roriv().dword(rule.c_str(), "Type", &number, 0, 0), 0u);
  EXPECT_EQ(number, 7u);

  // Absent, mistyped, too long for the buffer: "not read", the buffer untouched.
  struct Row {
    const char *what;
    bool read;
  };
  char small[6] = "keep";
  const Row rows[] = {
      {"absent string", roriv().string(key, "None", text, sizeof text, 0) == 0},
      {"absent number", roriv().dword(key, "None", &number, 0, 0) == 0},
      {"number as text", roriv().string(key, "Number", text, sizeof text, 0) == 0},
      {"text as number", roriv().dword(key, "Text", &number, 0, 0) == 0},
      {"binary as text", roriv().string(rule.c_str(), "Mask", text, sizeof text, 0) == 0},
      {"text longer than the buffer", roriv().string(key, "Text", small, sizeof small, 0) == 0},
      {"absent key",
       roriv().string((std::string(key) + "\\None").c_str(), "Text", text, sizeof text, 0) == 0},
  };
  for (const Row &row : rows) EXPECT_FALSE(row.read) << row.what;
  EXPECT_EQ(std::string(small), "keep");
  EXPECT_EQ(roriv().path(key, "None", text, "C:\\default", 0), 0u);
  EXPECT_EQ(std::string(text), "C:\\default");
}

TEST_F(Win32Roriv, AMissingKeyFailsTheKeyAndSaysWhich) {
  ASSERT_NE(roriv_setup("", key_.c_str()), 0u);
  char key[2048] = "";
  EXPECT_NE(roriv().key(key), 0u);
  char message[512] = "";
  EXPECT_NE(roriv_store_status(message, sizeof message), 0u);
  EXPECT_NE(std::string(message).find("HKEY_LOCAL_MACHINE\\" + key_), std::string::npos) << message;
  // Made later, the key serves from the next fetch on.
  HKEY made = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &made, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(made);
  EXPECT_EQ(roriv().key(key), 0u);
}

TEST_F(Win32Roriv, AStoreFileIsUsedOnlyWhenNamed) {
  TempDir dir;
  const std::string file = dir.posix("portable.reg");
  write_file(file,
             "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Portable]\r\n\"A\"=dword:00000005\r\n");
  ASSERT_EQ(roriv_setup(file.c_str(), ""), 0u);
  char key[2048] = "";
  ASSERT_EQ(roriv().key(key), 0u);
  EXPECT_EQ(std::string(key), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Portable");
  uint32_t number = 0;
  EXPECT_EQ(roriv().dword(key, "A", &number, 0, 0), 0u);
  EXPECT_EQ(number, 5u);
}

// Events go to the Event Log (event_log_test.sh reads what Wine shows of
// them) and, as everywhere, to the host's sink.
TEST_F(Win32Roriv, ReportsEvents) {
  std::vector<std::string> lines;
  roriv_set_event_sink(
      [](void *user, uint32_t, uint32_t, const char *line) {
        static_cast<std::vector<std::string> *>(user)->push_back(line);
      },
      &lines);
  roriv().report(3, OXT_EV_WRITE_FILE, "C:\\in\\report.txt");
  roriv().report(1, OXT_EV_SUMMARY, "write_to_file(2)", "OXT_store_file_ext");
  roriv_set_event_sink(nullptr, nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{"cannot write the file \"C:\\in\\report.txt\"",
                                             "write_to_file(2) failed in OXT_store_file_ext"}));
}

// Every event the module reports has its message in roriv.dll, formatted as
// the Event Viewer does it from the insertion strings.
TEST_F(Win32Roriv, TheMessageTableHoldsEveryEventText) {
  std::vector<uint32_t> codes;
  for (uint32_t facility : {0x3u, 0x9u, 0xAu}) {
    for (uint32_t n = 0; n < 0x40; ++n) {
      const uint32_t code = 0xE0000000u | (facility << 16) | n;
      if (host_common::find_event(code) != nullptr) codes.push_back(code);
    }
  }
  ASSERT_GE(codes.size(), 38u);
  for (uint32_t code : codes) {
    const auto *info = host_common::find_event(code);
    const std::vector<std::string> args = {"first", "second", "7"};
    const char *inserts[] = {"first", "second", "7"};
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                       FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                   roriv().dll, code, 0, reinterpret_cast<char *>(&text), 0,
                                   reinterpret_cast<va_list *>(const_cast<char **>(inserts)));
    ASSERT_NE(n, 0u) << std::hex << code;
    std::string shown(text, n);
    LocalFree(text);
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    EXPECT_EQ(shown, host_common::format_event(*info, args)) << std::hex << code;
  }
}

}  // namespace
}  // namespace zz::test
