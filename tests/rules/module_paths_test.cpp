// module_paths_test.cpp - the error directories, the administrator's address
// and the data directory, read from the test host's configuration.
#include "rules/module_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "host/settings.h"
#include "support/test_host.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

const std::string kKey = "HKLM\\SOFTWARE\\Zozerez";

class ModulePaths : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host::fetch_registry_key()); }
  TempDir dir_;
  char out_[2048] = "stale";
  uint32_t enabled_ = 7;
};

TEST_F(ModulePaths, ErrorDirectoriesAreOnOnlyWithTheirFlagAndAnExistingDirectory) {
  using Reader = uint32_t (*)(char *, uint32_t *);
  struct Twin {
    Reader read;
    const char *flags, *path, *function;
  } twins[] = {
      {get_config_dir_store_files_if_error, "InnRulezFlags", "SaveInErrorPath",
       "get_config_dir_store_files_if_error"},
      {get_config_dir_store_bad_files, "OutRulezFlags", "SaveOutErrorPath",
       "get_config_dir_store_bad_files"},
  };
  for (const Twin &t : twins) {
    host().reset();
    EXPECT_EQ(t.read(out_, &enabled_), 0u);  // no flag word: off, no report
    EXPECT_EQ(enabled_, 0u);
    EXPECT_STREQ(out_, "");

    host().set_dword(kKey, t.flags, 2);
    EXPECT_EQ(t.read(out_, &enabled_), 0u);
    EXPECT_EQ(enabled_, 0u);

    host().set_dword(kKey, t.flags, 1);
    EXPECT_EQ(t.read(out_, &enabled_), 0xFFFFFFFFu);
    EXPECT_EQ(host().events, (Events{{3, OXT_EV_READ_SETTING, {t.path, kKey}},
                                     summary("OLM_ConfGetPath", t.function)}));

    host().events.clear();
    host().set_string(kKey, t.path, dir_.posix("missing") + "\\");
    EXPECT_EQ(t.read(out_, &enabled_), 0xFFFFFFFFu);
    EXPECT_EQ(enabled_, 0u);
    EXPECT_EQ(host().events, (Events{{3, OXT_EV_NO_DIRECTORY, {dir_.posix("missing")}},
                                     summary("!is_dir", t.function)}));

    host().events.clear();
    host().set_string(kKey, t.path, dir_.path() + "/");
    EXPECT_EQ(t.read(out_, &enabled_), 0u);
    EXPECT_EQ(enabled_, 1u);
    EXPECT_EQ(std::string(out_), dir_.path() + "\\");
    EXPECT_TRUE(host().events.empty());
  }
}

TEST_F(ModulePaths, AdministratorAddress) {
  char type[kAdminTypeSize] = "x";
  host().set_dword(kKey, "OutRulezFlags", 1);
  EXPECT_EQ(get_config_admin_address(out_, type, &enabled_), 0u);  // bit 1 clear: not read
  EXPECT_EQ(enabled_, 0u);
  EXPECT_TRUE(host().events.empty());

  host().set_dword(kKey, "OutRulezFlags", 2);
  EXPECT_EQ(get_config_admin_address(out_, type, &enabled_), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_READ_SETTING, {"AdminEmail", kKey}},
                                   summary("OLM_ConfGetString", "get_config_admin_address")}));
  host().events.clear();
  host().set_string(kKey, "AdminEmail", "admin@example.org");
  EXPECT_EQ(get_config_admin_address(out_, type, &enabled_), 0xFFFFFFFFu);
  EXPECT_EQ(enabled_, 0u);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_READ_SETTING, {"admin_etype", kKey}},
                                   summary("OLM_ConfGetDWORDEx", "get_config_admin_address")}));

  for (auto [kind, name] : {std::pair<uint32_t, const char *>{0, "SMTP"}, {5, "SMTP"}, {1, "EX"}}) {
    host().set_dword(kKey, "admin_etype", kind);
    EXPECT_EQ(get_config_admin_address(out_, type, &enabled_), 0u);
    EXPECT_EQ(enabled_, 1u);
    EXPECT_STREQ(out_, "admin@example.org");
    EXPECT_STREQ(type, name);
  }
}

TEST_F(ModulePaths, LogPath) {
  EXPECT_EQ(get_log_path(out_), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_READ_SETTING, {"Filename", kKey}},
                                   summary("OLM_ConfGetPath", "get_log_path")}));
  host().set_string(kKey, "Filename", "/var/lib/zozerez");
  EXPECT_EQ(get_log_path(out_), 0u);
  EXPECT_STREQ(out_, "/var/lib/zozerez\\");
  host().set_string(kKey, "Filename", "/var/lib/zozerez/");
  EXPECT_EQ(get_log_path(out_), 0u);
  EXPECT_STREQ(out_, "/var/lib/zozerez/");

  // Without a data directory: the system's temporary directory (TMPDIR on
  // POSIX, TMP on Windows), with its separator.
  host().set_string(kKey, "Filename", "");
  {
    TempEnvironment in(dir_.path());
    EXPECT_EQ(get_log_path(out_), 0u);
  }
#ifdef _WIN32
  EXPECT_EQ(std::string(out_), dir_.path() + "\\");
#else
  EXPECT_EQ(std::string(out_), dir_.path() + "/");
#endif
}

}  // namespace
}  // namespace zz::test
