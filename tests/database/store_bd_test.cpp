// store_bd_test.cpp - storing incoming messages in the database through the
// exports, with the test host's scripted zura_vez (the message it receives
// is inspected field by field) and recorded pauses; then the filing of the
// same message into directories by the input rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "support/rules_config.h"
#include "support/test_os.h"
#include "zozerez.h"

namespace zz::test {
namespace {

std::string signed_container(const std::string &content,
                             const std::vector<std::pair<std::string, std::string>> &signs) {
  std::string out =
      "Length-File:" + std::to_string(content.size()) + "\r\nFile-Data:\r\n" + content;
  for (const auto &[signer, sign] : signs) {
    out += "\r\nName-Signer:" + signer +
           "\r\nSigner-Type-Address:SMTP\r\nSigner-Address:" + signer +
           "@x\r\nLength-Sign:" + std::to_string(sign.size()) + "\r\nSign:\r\n" + sign;
  }
  return out;
}

class StoreBd : public testing::Test {
 public:
  void SetUp() override {
    test_os().fixed_time = os::LocalTime{2024, 3, 5, 14, 30, 9, 0};
    host().set_dword(kHostKey, "InputFileRulezFlags", 0);
    set_input_rules({});
    ctx_.BdMode = 1;
    ctx_.BdHandle = 7;
    attachments_ = att_.path();
    ctx_.AttachmentDir = attachments_.data();
    ctx_.AttachmentSort = 'N';
  }
  void TearDown() override {
    ctx_.BdMode = 0;
    ctx_.AttachmentDir = nullptr;
  }
  uint32_t add(BdPart part) { return OXT_store_bd_add(&ctx_, &crypto_, &part); }
  uint32_t attach(const std::string &name, const std::string &data, uint32_t flags = 0) {
    BdPart part{};
    part.PartType = 9;
    part.Flags = flags;
    part.Name = name.c_str();
    part.Data = reinterpret_cast<const uint8_t *>(data.data());
    part.DataLength = static_cast<uint32_t>(data.size());
    return add(part);
  }

  TempDir att_;
  std::string attachments_;
  GetFileCtx ctx_{};
  CCA_CONTEXT crypto_ = nullptr;
};

TEST_F(StoreBd, WholeMessageWrittenPartByPart) {
  ctx_.GuidSubdir = 1;
  ctx_.AttachmentSort = 'D';
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  const std::string guid = ctx_.InMsg.MsgGuid;
  ASSERT_EQ(guid.size(), 36u);
  const std::string subject = "Subj";
  const std::string body = "body\r\n";
  const std::string digest = "DIG";
  BdPart p{};
  p.PartType = 1, p.Flags = 2;
  EXPECT_EQ(add(p), 0u);
  p = BdPart{}, p.PartType = 2, p.Subject = subject.c_str();
  EXPECT_EQ(add(p), 0u);
  p = BdPart{}, p.PartType = 3, p.Body = reinterpret_cast<const uint8_t *>(body.data()),
  p.BodyLength = 6;
  EXPECT_EQ(add(p), 0u);
  p = BdPart{}, p.PartType = 4, p.SenderType = "SMTP", p.SenderAddress = "from@x";
  EXPECT_EQ(add(p), 0u);
  p = BdPart{}, p.PartType = 5, p.Digest = reinterpret_cast<const uint8_t *>(digest.data()),
  p.DigestLength = 3;
  EXPECT_EQ(add(p), 0u);
  p = BdPart{}, p.PartType = 6, p.Part6Value = 66;
  EXPECT_EQ(add(p), 0u);
  p = BdPart{}, p.PartType = 7, p.Part7Value = 77;
  EXPECT_EQ(add(p), 0u);
  for (int i = 0; i < 70; ++i) {  // the recipient array grows past 64
    const std::string to = "r" + std::to_string(i);
    p = BdPart{}, p.PartType = 8, p.RecipientType = "SMTP", p.RecipientAddress = to.c_str();
    ASSERT_EQ(add(p), 0u);
  }
  EXPECT_EQ(attach("a.txt", "plain"), 0u);
  EXPECT_EQ(attach("a.txt", "again"), 0u);
  EXPECT_EQ(attach("s.xml", signed_container("signed", {{"Ivan", "S1"}, {"Ivan", "S2"}}), 2), 0u);
  ASSERT_EQ(OXT_store_bd_flush(&ctx_), 0u);

  ASSERT_EQ(host().written.size(), 1u);
  const TestHost::WrittenMessage &w = host().written[0];
  const std::string dir = att_.path() + "\\20240305\\" + guid;
  EXPECT_EQ(w.guid, guid);
  EXPECT_EQ(w.subject, "Subj");
  EXPECT_EQ(w.body, "body\r\n");
  EXPECT_EQ(w.sender, "SMTP:from@x");
  EXPECT_EQ(w.digest, "DIG");
  EXPECT_EQ(w.flags, 2u);
  EXPECT_EQ(w.part6, 66u);
  EXPECT_EQ(w.part7, 77u);
  EXPECT_EQ(w.dir, dir);
  ASSERT_EQ(w.recipients.size(), 70u);
  EXPECT_EQ(w.recipients[69], "SMTP:r69");
  ASSERT_EQ(w.attachments.size(), 3u);
  EXPECT_EQ(w.attachments[0], "a.txt|" + dir + "\\a.txt|");
  EXPECT_EQ(w.attachments[1], "a.txt|" + dir + "\\a~1.txt|");
  EXPECT_EQ(w.attachments[2], "s.xml|" + dir + "\\s.xml|Ivan,SMTP,Ivan@x,Ivan.sgn," + dir +
                                  "\\Ivan.sgn;Ivan,SMTP,Ivan@x,Ivan~1.sgn," + dir +
                                  "\\Ivan~1.sgn;");
  // The database refers to the files: they stay.
  const std::string posix_dir = att_.posix("20240305/" + guid);
  EXPECT_EQ(read_file(posix_dir + "/s.xml"), "signed");
  EXPECT_EQ(read_file(posix_dir + "/Ivan~1.sgn"), "S2");
  const BdMsg zero{};
  EXPECT_EQ(std::memcmp(&ctx_.InMsg, &zero, sizeof zero), 0);
  EXPECT_TRUE(host().events.empty());
}

TEST_F(StoreBd, ReceiptDigestComesFromItsNotice) {
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  BdPart p{};
  p.PartType = 1, p.Flags = 4;
  add(p);
  const std::string digest = "IGNORED";
  p = BdPart{}, p.PartType = 5, p.Digest = reinterpret_cast<const uint8_t *>(digest.data()),
  p.DigestLength = 7;
  EXPECT_EQ(add(p), 0u);
  EXPECT_EQ(attach("olmnotif.txt",
                   "Message digest: AAA\r\n\xD5\xFD\xF8-\xF4\xF3\xED\xEA\xF6\xE8\xFF "
                   "\xF1\xEE\xEE\xE1\xF9\xE5\xED\xE8\xFF: BBB \r\n"),
            0u);
  ASSERT_EQ(OXT_store_bd_flush(&ctx_), 0u);
  EXPECT_EQ(host().written.at(0).digest, "BBB");
}

TEST_F(StoreBd, SeventySignaturesStoreSixtyFour) {
  std::vector<std::pair<std::string, std::string>> signs;
  for (int i = 0; i < 70; ++i) signs.push_back({"S" + std::to_string(i), "x"});
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  EXPECT_EQ(attach("f.bin", signed_container("c", signs), 2), 0u);
  EXPECT_EQ(ctx_.InMsg.Attachments[0].SignCount, 64u);
  ASSERT_EQ(OXT_store_bd_flush(&ctx_), 0u);
  EXPECT_EQ(names_in(att_.path()).size(), 65u);
}

TEST_F(StoreBd, FailedAddsLeaveNothingBehind) {
  struct Row {
    const char *name;
    std::function<uint32_t(StoreBd &)> act;
    Events events;
  } rows[] = {
      {"part type 10",
       [](StoreBd &t) {
         BdPart p{};
         p.PartType = 10;
         return t.add(p);
       },
       {{3, OXT_EV_BAD_PART_TYPE, {"10"}}, summary("default", "OXT_store_bd_add")}},
      {"signed without File-Data",
       [](StoreBd &t) { return t.attach("s.bin", "Name-Signer:x\r\n", 1); },
       {{3, OXT_EV_NO_FILE_DATA, {}}, summary("seek_file_value", "OXT_store_bd_add")}},
  };
  for (const Row &row : rows) {
    host().events.clear();
    ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
    ASSERT_EQ(attach("first.txt", "kept until the failure"), 0u);
    EXPECT_EQ(row.act(*this), 0xFFFFFFFFu) << row.name;
    EXPECT_EQ(host().events, row.events) << row.name;
    EXPECT_TRUE(names_in(att_.path()).empty()) << row.name;
    EXPECT_EQ(ctx_.InMsg.MsgGuid, nullptr) << row.name;
  }
  host().events.clear();
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  attachments_ = att_.posix("vanished");
  ctx_.AttachmentDir = attachments_.data();
  EXPECT_EQ(attach("x.txt", "x"), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_NO_DIRECTORY, {att_.posix("vanished")}},
                                   summary("!is_dir", "get_path_for_save")}));
}

TEST_F(StoreBd, FlushRetriesAndFailures) {
  EXPECT_EQ(OXT_store_bd_flush(&ctx_), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{summary("(!GetFileCtx->InMsg.MsgGuid)", "OXT_store_bd_flush")}));

  host().events.clear();
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  host().write_results = {1, 1};
  EXPECT_EQ(OXT_store_bd_flush(&ctx_), 0u);  // no attachments: written all the same
  EXPECT_EQ(test_os().pauses, (std::vector<uint32_t>{1000, 2000}));
  EXPECT_EQ(host().written.size(), 1u);

  test_os().pauses.clear();
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  attach("a.txt", "a");
  host().write_results = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(OXT_store_bd_flush(&ctx_), 0xFFFFFFFFu);
  EXPECT_EQ(test_os().pauses, (std::vector<uint32_t>{1000, 2000, 4000, 8000, 16000}));
  EXPECT_EQ(host().events,
            (Events{{3, OXT_EV_BD_WRITE, {}}, summary("BdWriteMsg", "OXT_store_bd_flush")}));
  EXPECT_TRUE(names_in(att_.path()).empty());
}

TEST_F(StoreBd, DovCabMessagesStayOutOfTheDatabase) {
  TempDir in;
  set_input_rules({{in.path()}});
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  attach("x.dov.cab", "x");
  attach("y.DOV.CAB", "y");
  ASSERT_EQ(OXT_store_bd_flush(&ctx_), 0u);
  EXPECT_TRUE(host().written.empty());
  EXPECT_TRUE(names_in(att_.path()).empty());  // deleted after the filing
  EXPECT_EQ(names_in(in.path()), (std::vector<std::string>{"x.dov.cab", "y.DOV.CAB"}));
}

TEST_F(StoreBd, FilingIntoDirectoriesByTheRules) {
  TempDir a, b, r;
  InputRuleConfig docs{a.path(), kEverything, "*.doc", 7, "", true, true, true, true};
  InputRuleConfig all{b.path()};
  InputRuleConfig receipts{r.path(), kEverything, kReceipt};
  set_input_rules({receipts, docs, all});
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  BdPart p{};
  p.PartType = 4, p.SenderType = "SMTP", p.SenderAddress = "from@x";
  add(p);
  attach("a.doc", signed_container("A", {{"Ivan", "SIG"}}), 2);
  attach("b.txt", "B");
  attach("c.DOC", "C");
  ASSERT_EQ(OXT_store_bd_flush(&ctx_), 0u);
  EXPECT_TRUE(names_in(r.path()).empty());  // not a receipt
  // The doc rule gives each selected attachment a TMP_ directory of its own.
  std::vector<std::vector<std::string>> dirs;
  for (const std::string &dir : names_in(a.path())) {
    EXPECT_EQ(dir.rfind("TMP_", 0), 0u);
    dirs.push_back(names_in(a.posix(dir)));
    EXPECT_EQ(read_file(a.posix(dir + "/olminfo.txt")), "From:SMTP:from@x\r\n");
  }
  std::sort(dirs.begin(), dirs.end());
  EXPECT_EQ(dirs, (std::vector<std::vector<std::string>>{{"a.doc", "a.doc.Ivan.sgn", "olminfo.txt"},
                                                         {"c.DOC", "olminfo.txt"}}));
  EXPECT_EQ(names_in(b.path()), (std::vector<std::string>{"a.doc", "b.txt", "c.DOC"}));
  EXPECT_EQ(read_file(b.posix("a.doc")), "A");
  EXPECT_EQ(host().failure_signals, 0u);
}

TEST_F(StoreBd, ReceiptsSelectTheirNotice) {
  TempDir r;
  set_input_rules({{r.path(), kEverything, kReceipt}});
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  BdPart p{};
  p.PartType = 1, p.Flags = 4;
  add(p);
  attach("OLMNOTIF.TXT", "Message digest: H\r\n");
  attach("x.bin", "x");
  ASSERT_EQ(OXT_store_bd_flush(&ctx_), 0u);
  EXPECT_EQ(names_in(r.path()), (std::vector<std::string>{"OLMNOTIF.TXT"}));
}

TEST_F(StoreBd, MissingStoredFileRaisesTheFailureSignal) {
  TempDir in;
  set_input_rules({{in.path()}});
  ASSERT_EQ(OXT_store_bd_init(&ctx_, &crypto_), 0u);
  attach("a.txt", "a");
  const std::string stored = ctx_.InMsg.Attachments[0].FilePath;
  std::remove(att_.posix("a.txt").c_str());
  EXPECT_EQ(OXT_store_bd_flush(&ctx_), 0u);
  EXPECT_EQ(host().failure_signals, 1u);
  ASSERT_GE(host().events.size(), 2u);
  const Event copy = host().events[host().events.size() - 2];
  EXPECT_EQ(copy.code, OXT_EV_COPY_FILE);
  EXPECT_EQ(copy.args[0], stored);
  EXPECT_EQ(host().events.back(), summary("copy_to_file", "store_bd_mes_files_to_dir"));
}

}  // namespace
}  // namespace zz::test
