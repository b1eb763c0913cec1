// zura_vez_test.cpp - the real message database over ODBC, on SQLite's
// driver with a database file in a temporary directory and on a private
// PostgreSQL server: the schema made once and guarded, a queued message
// claimed once with every field, released as sent or queued again, an
// abandoned claim taken over, incoming messages written all or nothing, and
// two processes draining one queue with every message sent exactly once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "support/postgres.h"
#include "support/temp_dir.h"
#include "zura_vez/odbc.h"
#include "zura_vez/zura_vez.h"

namespace zz::test {
namespace {

constexpr const char kDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
// "Отчёт" in code page 1251
constexpr const char kRussian[] = "\xCE\xF2\xF7\xB8\xF2";

std::string reason() {
  char text[512];
  zura_vez_last_reason(text, sizeof text);
  return text;
}

// The one private server of this process, started on first use.
PrivatePostgres *postgres(std::string *reason) {
  static std::unique_ptr<PrivatePostgres> server;
  static std::string why;
  static bool tried = false;
  if (!tried) {
    tried = true;
    server = std::make_unique<PrivatePostgres>();
    if (!server->start(&why)) server.reset();
  }
  *reason = why;
  return server.get();
}

class ZuraVez : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    zura_vez_configure("gw-test", 600, 0);
    if (GetParam() == "sqlite") {
      if (!exists(kDriver))
        GTEST_SKIP() << "the SQLite ODBC driver is not installed (libsqliteodbc)";
      dsn_ =
          std::string("Driver=") + kDriver + ";Database=" + dir_.posix("zz.db") + ";Timeout=20000";
      return;
    }
    std::string why;
    PrivatePostgres *pg = postgres(&why);
    if (pg == nullptr) GTEST_SKIP() << "no PostgreSQL: " << why;
    dsn_ = pg->dsn();
    // Each test starts from an empty database.
    ASSERT_TRUE(
        pg->sql("DROP TABLE IF EXISTS zz_schema, zz_message, zz_recipient, "
                "zz_attachment, zz_signature, zz_activity"));
  }
  BD_HANDLE open() {
    BD_HANDLE h = 0;
    BdInitParams p{dsn_.c_str(), 5, 1};
    EXPECT_EQ(BdInit(&h, &p), 0u) << reason();
    return h;
  }

  // message - a record with every member the module reads set
  struct Message {
    AddressEntry to[2] = {{const_cast<char *>("SMTP"), const_cast<char *>("a@x")},
                          {const_cast<char *>("EX"), const_cast<char *>(kRussian)}};
    BdSign sign{const_cast<char *>("Clerk"), const_cast<char *>("SMTP"), const_cast<char *>("c@x"),
                const_cast<char *>("f.Clerk.sgn"), const_cast<char *>("/att/f.Clerk.sgn")};
    BdAttachment att{const_cast<char *>("att-guid"),
                     const_cast<char *>(kRussian),
                     const_cast<char *>("/att/f"),
                     1,
                     &sign,
                     0};
    std::string body = std::string("line\0bytes", 10);
    BdMsg msg{};
    explicit Message(const char *guid) {
      msg.MsgGuid = const_cast<char *>(guid);
      msg.Subject = const_cast<char *>(kRussian);
      msg.Flags = 3;
      msg.Body = reinterpret_cast<uint8_t *>(body.data());
      msg.BodyLength = static_cast<uint32_t>(body.size());
      msg.SenderType = const_cast<char *>("SMTP");
      msg.SenderAddress = const_cast<char *>("from@x");
      msg.Digest = reinterpret_cast<uint8_t *>(const_cast<char *>("0A 1B"));
      msg.DigestLength = 5;
      msg.Part6Value = 0x123456789ULL;
      msg.Part7Value = 7;
      msg.RecipientCount = 2;
      msg.Recipients = to;
      msg.AttachmentCount = 1;
      msg.Attachments = &att;
    }
  };

  TempDir dir_;
  std::string dsn_;
};

TEST_P(ZuraVez, AQueuedMessageIsClaimedOnceWithEveryField) {
  const BD_HANDLE a = open(), b = open();
  Message m("guid-1");
  ASSERT_EQ(zura_vez_enqueue(a, &m.msg), 0u) << reason();
  // Another program stored a subject 1251 cannot write in full.
  zura::Connection db;
  std::string error;
  ASSERT_TRUE(db.open(dsn_, 5, &error)) << error;
  ASSERT_TRUE(
      db.run("UPDATE zz_message SET subject = ?",
             {zura::Value::text_of("\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xE6\x97\xA5")},
             nullptr, &error))
      << error;
  BdMsg got{};
  ASSERT_EQ(BdReadMsg(a, &got), 0u) << reason();
  BdMsg none{};
  EXPECT_EQ(BdReadMsg(b, &none), 1u);  // claimed: no other gateway gets it
  EXPECT_STREQ(got.MsgGuid, "guid-1");
  EXPECT_EQ(std::string(got.Subject), std::string(kRussian) + " ?");
  EXPECT_EQ(got.Flags, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(got.Body), got.BodyLength), m.body);
  EXPECT_STREQ(got.SenderAddress, "from@x");
  EXPECT_EQ(std::string(reinterpret_cast<char *>(got.Digest), got.DigestLength), "0A 1B");
  EXPECT_EQ(got.Part6Value, 0x123456789ULL);
  EXPECT_EQ(got.Part7Value, 7u);
  ASSERT_EQ(got.RecipientCount, 2u);
  EXPECT_STREQ(got.Recipients[1].Type, "EX");
  EXPECT_STREQ(got.Recipients[1].Address, kRussian);
  ASSERT_EQ(got.AttachmentCount, 1u);
  EXPECT_STREQ(got.Attachments[0].Name, kRussian);
  EXPECT_STREQ(got.Attachments[0].FilePath, "/att/f");
  ASSERT_EQ(got.Attachments[0].SignCount, 1u);
  EXPECT_STREQ(got.Attachments[0].Signs[0].SignFilePath, "/att/f.Clerk.sgn");
  EXPECT_EQ(got.MsgDir, nullptr);

  // Not sent: queued again, and the next read has it back.
  ASSERT_EQ(BdFreeMsg(a, &got, 0, ""), 0u) << reason();
  EXPECT_EQ(got.MsgGuid, nullptr);
  ASSERT_EQ(BdReadMsg(b, &got), 0u);
  EXPECT_STREQ(got.MsgGuid, "guid-1");
  // Sent: gone from the queue for good.
  ASSERT_EQ(BdFreeMsg(b, &got, 1, "HASH"), 0u);
  EXPECT_EQ(BdReadMsg(a, &got), 1u);
  EXPECT_EQ(BdPing(a), 0u);
  EXPECT_EQ(BdActivityIndicator(a, 2), 0u);
  EXPECT_EQ(BdActivityIndicator(a, 2), 0u);
  BdClose(a);
  BdClose(b);
}

TEST_P(ZuraVez, IncomingMessagesAreWrittenWholeOrNotAtAll) {
  const BD_HANDLE h = open();
  Message m("in-1");
  EXPECT_EQ(BdWriteMsg(h, &m.msg), 0u) << reason();
  // The same GUID again: refused, and nothing of it is left half written.
  EXPECT_NE(BdWriteMsg(h, &m.msg), 0u);
  EXPECT_NE(reason(), "");
  BdMsg got{};
  EXPECT_EQ(BdReadMsg(h, &got), 1u) << reason();  // incoming messages are not queued to send
  // Read back field by field, texts in UTF-8.
  std::vector<std::string> fields;
  auto keep = [](void *user, const char *name, const char *value) {
    static_cast<std::vector<std::string> *>(user)->push_back(std::string(name) + "=" + value);
  };
  ASSERT_EQ(zura_vez_show(h, "in-1", keep, &fields), 0u) << reason();
  const std::string otchet = "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82";
  for (const std::string &expected : std::vector<std::string>{
           "direction=1", "state=stored", "flags=3", "subject=" + otchet, "sender=SMTP:from@x",
           "recipient=SMTP:a@x", "recipient=EX:" + otchet, "attachment=" + otchet + " /att/f",
           "signature=Clerk /att/f.Clerk.sgn"}) {
    EXPECT_NE(std::find(fields.begin(), fields.end(), expected), fields.end()) << expected;
  }
  BdClose(h);
}

TEST_P(ZuraVez, ConnectionsAndSchemas) {
  BD_HANDLE h = 0;
  const std::string wrong = "Driver=/nowhere/libnothing.so;Database=x";
  BdInitParams p{wrong.c_str(), 1, 1};
  EXPECT_NE(BdInit(&h, &p), 0u);
  EXPECT_NE(reason(), "");
  EXPECT_EQ(h, 0u);

  // A version 1 database (no part indexes) is brought up to version 2.
  h = open();
  BdClose(h);
  zura::Connection db;
  std::string error;
  std::vector<zura::Row> rows;
  ASSERT_TRUE(db.open(dsn_, 5, &error)) << error;
  for (const char *index : {"zz_recipient_guid", "zz_attachment_guid", "zz_signature_guid"}) {
    ASSERT_TRUE(db.run(std::string("DROP INDEX ") + index, {}, nullptr, &error)) << error;
  }
  ASSERT_TRUE(db.run("UPDATE zz_schema SET version = 1", {}, nullptr, &error)) << error;
  h = open();
  BdClose(h);
  ASSERT_TRUE(db.run("SELECT version FROM zz_schema", {}, &rows, &error)) << error;
  EXPECT_EQ(rows, (std::vector<zura::Row>{{"2"}}));
  // Made again, the index is there: dropping it works once more.
  ASSERT_TRUE(db.run("DROP INDEX zz_signature_guid", {}, nullptr, &error)) << error;

  // A database that takes no writes: opened, but nothing is queued, with the reason.
  if (GetParam() == "postgres") {
    std::string why;
    PrivatePostgres *pg = postgres(&why);
    ASSERT_TRUE(pg->sql("ALTER ROLE zz SET default_transaction_read_only = on"));
    h = open();
    Message m("read-only");
    EXPECT_EQ(zura_vez_enqueue(h, &m.msg), 2u);
    EXPECT_NE(reason().find("read-only"), std::string::npos) << reason();
    BdClose(h);
    ASSERT_TRUE(
        pg->sql("BEGIN READ WRITE; ALTER ROLE zz RESET default_transaction_read_only; "
                "COMMIT"));
  }

  // A schema newer than this library is refused, naming both versions.
  ASSERT_TRUE(db.run("UPDATE zz_schema SET version = 3", {}, nullptr, &error)) << error;
  BdInitParams again{dsn_.c_str(), 5, 1};
  EXPECT_NE(BdInit(&h, &again), 0u);
  EXPECT_EQ(reason(), "the database holds schema version 3; this zura_vez knows version 2");
}

TEST_P(ZuraVez, AnAbandonedClaimIsTakenOverAfterTheLease) {
  const BD_HANDLE a = open(), b = open();
  Message m("guid-lease");
  ASSERT_EQ(zura_vez_enqueue(a, &m.msg), 0u) << reason();
  BdMsg got{};
  ASSERT_EQ(BdReadMsg(a, &got), 0u);
  BdMsg other{};
  EXPECT_EQ(BdReadMsg(b, &other), 1u);
  // The claiming gateway died an hour ago.
  zura::Connection db;
  std::string error;
  ASSERT_TRUE(db.open(dsn_, 5, &error)) << error;
  ASSERT_TRUE(db.run("UPDATE zz_message SET claimed_at = claimed_at - 3600", {}, nullptr, &error))
      << error;
  ASSERT_EQ(BdReadMsg(b, &other), 0u) << reason();
  EXPECT_STREQ(other.MsgGuid, "guid-lease");
  // The first gateway's late release leaves the new claim alone.
  EXPECT_EQ(BdFreeMsg(a, &got, 0, ""), 0u) << reason();
  EXPECT_EQ(BdReadMsg(a, &got), 1u);
  ASSERT_EQ(BdFreeMsg(b, &other, 1, "H"), 0u);
  EXPECT_EQ(BdReadMsg(b, &other), 1u);
  BdClose(a);
  BdClose(b);
}

TEST_P(ZuraVez, AMessagePutBackTooOftenFailsUntilAnAdminRequeuesIt) {
  zura_vez_configure("gw-test", 600, 2);
  const BD_HANDLE h = open();
  Message m("guid-fail");
  ASSERT_EQ(zura_vez_enqueue(h, &m.msg), 0u) << reason();
  BdMsg got{};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(BdReadMsg(h, &got), 0u) << reason();
    ASSERT_EQ(BdFreeMsg(h, &got, 0, ""), 0u) << reason();
  }
  EXPECT_EQ(BdReadMsg(h, &got), 1u);  // failed: no longer offered
  std::map<std::string, std::string> fields;
  auto keep = [](void *user, const char *name, const char *value) {
    auto &f = *static_cast<std::map<std::string, std::string> *>(user);
    f[name] += f.count(name) != 0 ? std::string("|") + value : value;
  };
  ASSERT_EQ(zura_vez_show(h, "guid-fail", keep, &fields), 0u) << reason();
  EXPECT_EQ(fields["state"], "failed");
  EXPECT_EQ(fields["attempts"], "2");
  EXPECT_EQ(fields["recipient"], "SMTP:a@x|EX:\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82");
  EXPECT_EQ(fields["attachment"], "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 /att/f");
  EXPECT_EQ(fields["signature"], "Clerk /att/f.Clerk.sgn");
  EXPECT_EQ(zura_vez_show(h, "no-such", keep, &fields), 1u);
  std::vector<std::string> listed;
  auto list = [](void *user, const zura_vez_summary *s) {
    static_cast<std::vector<std::string> *>(user)->push_back(std::string(s->guid) + " " + s->state);
  };
  ASSERT_EQ(zura_vez_each_message(h, nullptr, 0, list, &listed), 0u) << reason();
  EXPECT_EQ(listed, std::vector<std::string>{"guid-fail failed"});

  // Requeued with its attempts reset; a live claim is never taken away.
  uint64_t count = 0;
  ASSERT_EQ(zura_vez_requeue(h, nullptr, &count), 0u) << reason();
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(BdReadMsg(h, &got), 0u) << reason();
  ASSERT_EQ(zura_vez_requeue(h, "guid-fail", &count), 0u);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(BdFreeMsg(h, &got, 1, "H"), 0u);
  BdClose(h);
}

TEST_P(ZuraVez, ALostConnectionIsMadeAgain) {
  if (GetParam() == "sqlite") GTEST_SKIP() << "a database file has no connection to lose";
  std::string why;
  PrivatePostgres *pg = postgres(&why);
  BD_HANDLE h = 0;
  BdInitParams p{dsn_.c_str(), 5, 0};
  ASSERT_EQ(BdInit(&h, &p), 0u) << reason();
  Message m("guid-lost");
  ASSERT_EQ(zura_vez_enqueue(h, &m.msg), 0u) << reason();
  // The server ends the session: the next call connects again by itself.
  ASSERT_TRUE(
      pg->sql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
              "usename = 'zz' AND pid <> pg_backend_pid()"));
  BdMsg got{};
  ASSERT_EQ(BdReadMsg(h, &got), 0u) << reason();
  // The server goes away: calls fail with the reason, then work once it is back.
  ASSERT_TRUE(pg->stop());
  EXPECT_EQ(BdFreeMsg(h, &got, 1, "H"), 2u);
  EXPECT_NE(reason().find("the connection to the database was lost"), std::string::npos)
      << reason();
  EXPECT_EQ(BdPing(h), 2u);
  ASSERT_TRUE(pg->run());
  EXPECT_EQ(BdPing(h), 0u) << reason();
  EXPECT_EQ(BdFreeMsg(h, &got, 1, "H"), 0u) << reason();  // the record was kept for this
  EXPECT_EQ(BdReadMsg(h, &got), 1u);
  BdClose(h);
}

TEST_P(ZuraVez, TwoProcessesSendEveryMessageExactlyOnce) {
  constexpr int kMessages = 400;
  const BD_HANDLE h = open();
  std::vector<std::string> guids;
  for (int i = 0; i < kMessages; ++i) {
    guids.push_back("q-" + std::to_string(i));
    Message m(guids.back().c_str());
    ASSERT_EQ(zura_vez_enqueue(h, &m.msg), 0u) << reason();
  }
  BdClose(h);
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    if (children[c] == 0) {
      // Each process has a connection of its own, as two gateways would.
      BD_HANDLE mine = 0;
      BdInitParams p{dsn_.c_str(), 5, 1};
      std::ofstream sent(dir_.posix("sent." + std::to_string(c)));
      if (BdInit(&mine, &p) != 0) _exit(2);
      for (int idle = 0; idle < 50;) {
        BdMsg msg{};
        const uint32_t r = BdReadMsg(mine, &msg);
        if (r == 1) break;
        if (r != 0) {  // busy: another process holds the database for a moment
          ++idle;
          continue;
        }
        sent << msg.MsgGuid << "\n" << std::flush;
        if (BdFreeMsg(mine, &msg, 1, "H") != 0) _exit(3);
      }
      BdClose(mine);
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::map<std::string, int> count;
  int by[2] = {0, 0};
  for (int c = 0; c < 2; ++c) {
    std::ifstream in(dir_.posix("sent." + std::to_string(c)));
    for (std::string g; std::getline(in, g); ++by[c]) ++count[g];
  }
  int once = 0;
  for (const std::string &g : guids) once += count[g] == 1 ? 1 : 0;
  EXPECT_EQ(once, kMessages) << "sent by the two processes: " << by[0] << " and " << by[1];
  EXPECT_EQ(count.size(), guids.size());
}

INSTANTIATE_TEST_SUITE_P(Backends, ZuraVez, testing::Values("sqlite", "postgres"),
                         [](const testing::TestParamInfo<std::string> &info) {
                           return info.param;
                         });

}  // namespace
}  // namespace zz::test
