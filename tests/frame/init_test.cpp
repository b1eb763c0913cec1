// init_test.cpp - opening and closing a module context through the exports,
// in file mode and in database mode, with the exact event pairs of failures.
#include <gtest/gtest.h>

#include <cstring>

#include "support/test_host.h"
#include "support/test_os.h"
#include "zozerez.h"

namespace zz::test {
namespace {

const std::string kKey = "HKLM\\SOFTWARE\\Zozerez";

bool is_zero(const GetFileCtx &ctx) {
  const GetFileCtx zero{};
  return std::memcmp(&ctx, &zero, sizeof ctx) == 0;
}

void configure_database(uint32_t flags = 3) {
  host().set_dword(kKey, "GWODBCFlags", flags);
  host().set_string(kKey, "ODBC_DSN", "gateway-db");
  host().set_string(kKey, "ODBCAttachmentDir", "/var/spool/att\\");
  host().set_dword(kKey, "AttachmentSort", 2);
  host().set_dword(kKey, "ODBCTimeout", 30);
  host().set_dword(kKey, "ODBCDelay", 5);
}

class InitGetFiles : public testing::Test {
 protected:
  void TearDown() override { OXT_deinit_get_files(&ctx_); }
  GetFileCtx ctx_{};
};

TEST_F(InitGetFiles, WithoutDatabaseFlagsWorksInFileMode) {
  std::memset(&ctx_, 0x5A, sizeof ctx_);
  EXPECT_EQ(OXT_init_get_files(&ctx_), 0u);
  EXPECT_TRUE(is_zero(ctx_));
  EXPECT_EQ(OXT_is_bd(&ctx_), 0u);
  EXPECT_EQ(OXT_input_life_signal(&ctx_), 0u);
  EXPECT_EQ(OXT_output_life_signal(&ctx_), 0u);
  EXPECT_TRUE(host().db_calls.empty());
  EXPECT_TRUE(host().events.empty());
}

TEST_F(InitGetFiles, DatabaseBitClearMeansFileMode) {
  configure_database(2);
  EXPECT_EQ(OXT_init_get_files(&ctx_), 0u);
  EXPECT_TRUE(is_zero(ctx_));
  EXPECT_TRUE(host().db_calls.empty());
}

TEST_F(InitGetFiles, DatabaseModeKeepsTheSettings) {
  configure_database();
  ASSERT_EQ(OXT_init_get_files(&ctx_), 0u);
  EXPECT_EQ(OXT_is_bd(&ctx_), 1u);
  EXPECT_EQ(ctx_.BdHandle, host().bd_handle);
  EXPECT_STREQ(ctx_.OdbcDsn, "gateway-db");
  EXPECT_STREQ(ctx_.AttachmentDir, "/var/spool/att\\");
  EXPECT_EQ(ctx_.AttachmentSort, 'M');
  EXPECT_EQ(ctx_.GuidSubdir, 1u);
  EXPECT_EQ(ctx_.OdbcTimeout, 30u);
  EXPECT_EQ(ctx_.OdbcDelay, 5u);
  EXPECT_EQ(host().last_init_dsn, "gateway-db");
  EXPECT_EQ(host().last_init.Timeout, 30u);
  EXPECT_EQ(host().last_init.Delay, 5u);
  EXPECT_TRUE(host().events.empty());

  OXT_input_life_signal(&ctx_);
  OXT_output_life_signal(&ctx_);
  EXPECT_EQ(host().activity_directions, (std::vector<uint8_t>{1, 2}));

  OXT_deinit_get_files(&ctx_);
  EXPECT_TRUE(is_zero(ctx_));
  EXPECT_EQ(host().db_calls.back(), "BdClose");
}

TEST_F(InitGetFiles, AttachmentSortLetters) {
  const std::pair<uint32_t, char> rows[] = {{0, 'N'}, {1, 'D'}, {2, 'M'},
                                            {3, 'Y'}, {4, 'N'}, {0xFFFFFFFF, 'N'}};
  for (auto [value, letter] : rows) {
    configure_database(1);
    host().set_dword(kKey, "AttachmentSort", value);
    ASSERT_EQ(OXT_init_get_files(&ctx_), 0u);
    EXPECT_EQ(ctx_.AttachmentSort, letter) << value;
    EXPECT_EQ(ctx_.GuidSubdir, 0u);
    OXT_deinit_get_files(&ctx_);
  }
}

// configure_database_without - database mode with one setting left out
void configure_database_without(const std::string &missing) {
  for (const char *name : {"ODBC_DSN", "ODBCAttachmentDir"}) {
    if (missing != name) host().set_string(kKey, name, "/att");
  }
  for (const char *name : {"GWODBCFlags", "AttachmentSort", "ODBCTimeout", "ODBCDelay"}) {
    if (missing != name) host().set_dword(kKey, name, 1);
  }
}

TEST_F(InitGetFiles, FailuresLeaveTheContextZeroWithTheirEventPairs) {
  const std::string f = "OXT_init_get_files";
  struct Row {
    std::string missing;
    bool key_fails, init_fails;
    Events events;
  } rows[] = {
      {"", true, false, {{3, OXT_EV_REGISTRY_KEY, {}}, summary("NR_GetRegistryKeyString", f)}},
      {"ODBC_DSN",
       false,
       false,
       {{3, OXT_EV_READ_SETTING, {"ODBC_DSN", kKey}}, summary("OLM_ConfGetPath", f)}},
      {"ODBCAttachmentDir",
       false,
       false,
       {{3, OXT_EV_READ_SETTING, {"ODBCAttachmentDir", kKey}}, summary("OLM_ConfGetPath", f)}},
      {"AttachmentSort",
       false,
       false,
       {{3, OXT_EV_READ_SETTING, {"AttachmentSort", kKey}},
        {1, OXT_EV_SORT_SETTING, {"OLM_ConfGetDWORDEx", f}}}},
      {"ODBCTimeout",
       false,
       false,
       {{3, OXT_EV_READ_SETTING, {"ODBCTimeout", kKey}}, summary("OLM_ConfGetDWORDEx", f)}},
      {"ODBCDelay",
       false,
       false,
       {{3, OXT_EV_READ_SETTING, {"ODBCDelay", kKey}}, summary("OLM_ConfGetDWORDEx", f)}},
      {"", false, true, {{3, OXT_EV_BD_INIT, {}}, summary("BdInit", f)}},
  };
  for (const Row &row : rows) {
    host().reset();
    configure_database_without(row.missing);
    if (row.key_fails) host().fail_registry_key();
    if (row.init_fails) host().bd_init_result = 7;
    std::memset(&ctx_, 0x5A, sizeof ctx_);
    EXPECT_EQ(OXT_init_get_files(&ctx_), 0xFFFFFFFFu) << row.missing;
    EXPECT_TRUE(is_zero(ctx_)) << row.missing;
    EXPECT_EQ(host().events, row.events) << row.missing;
  }
}

TEST(Context, DeinitAndFreeAcceptNullAndEmptyContexts) {
  OXT_deinit_get_files(nullptr);
  OXT_free_get_files(nullptr);
  GetFileCtx ctx{};
  OXT_free_get_files(&ctx);
  OXT_free_get_files(&ctx);
  OXT_deinit_get_files(&ctx);
  EXPECT_TRUE(is_zero(ctx));
  EXPECT_TRUE(host().db_calls.empty());
  EXPECT_EQ(OXT_is_bd(nullptr), 0u);
}

TEST(StoreBdPing, ChecksTheAttachmentDirectoryThenTheDatabase) {
  TempDir dir;
  GetFileCtx ctx{};
  ctx.BdMode = 1;
  ctx.BdHandle = 9;
  std::string missing = dir.file("gone\\");
  ctx.AttachmentDir = missing.data();
  EXPECT_EQ(OXT_store_bd_ping(&ctx), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_NO_DIRECTORY, {dir.file("gone")}},
                                   summary("!is_dir", "OXT_store_bd_ping")}));
  EXPECT_TRUE(host().db_calls.empty());

  host().events.clear();
  std::string present = dir.path() + "/";
  ctx.AttachmentDir = present.data();
  host().bd_ping_result = 1;
  EXPECT_EQ(OXT_store_bd_ping(&ctx), 0xFFFFFFFFu);
  EXPECT_EQ(host().events,
            (Events{{3, OXT_EV_BD_PING, {}}, summary("BdPing", "OXT_store_bd_ping")}));

  host().events.clear();
  host().bd_ping_result = 0;
  EXPECT_EQ(OXT_store_bd_ping(&ctx), 0u);
  EXPECT_TRUE(host().events.empty());
}

}  // namespace
}  // namespace zz::test
