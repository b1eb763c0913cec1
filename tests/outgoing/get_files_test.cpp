// get_files_test.cpp - OXT_get_files as a host calls it: rules taking turns,
// loose files, send directories and their descriptors, conversions into send
// directories, text bodies, signature checks and the database branch.
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <deque>

#include "frame/context.h"

#include "support/rules_config.h"
#include "support/test_os.h"
#include "zozerez.h"

namespace zz::test {
namespace {

std::string text_of(const uint8_t *data, uint32_t length) {
  return data == nullptr ? std::string()
                         : std::string(reinterpret_cast<const char *>(data), length);
}

std::vector<std::string> recipients_of(const OutgoingMessage &m) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < m.RecipientCount; ++i) {
    out.push_back(std::string(m.Recipients[i].Type) + ":" + m.Recipients[i].Address);
  }
  return out;
}

// flag_names - the message flags one by one, so a wrong one is named
std::string flag_names(uint32_t flags) {
  const std::pair<uint32_t, const char *> names[] = {
      {1, "encrypt"}, {2, "sign"}, {4, "plain"}, {0x20000, "rule-mark"}};
  std::string out;
  for (auto [bit, name] : names) {
    if ((flags & bit) != 0) out += (out.empty() ? "" : "|") + std::string(name);
    flags &= ~bit;
  }
  if (flags != 0) out += (out.empty() ? "" : "|") + std::to_string(flags);
  return out;
}

void append_skip_node_for_test(GetFileCtx *ctx, uint32_t kind, const std::string &path) {
  ASSERT_EQ(append_skip_node(ctx, kind, path.c_str()), 0u);
}

class GetFiles : public testing::Test {
 protected:
  void SetUp() override {
    host().set_dword(kHostKey, "OutputMessageFlags", 0);
    host().set_dword(kHostKey, "CertificateFlags", 0);
  }
  void TearDown() override {
    OXT_free_files(&msg_);
    OXT_deinit_get_files(&ctx_);
  }
  uint32_t collect() {
    OXT_free_files(&msg_);
    return OXT_get_files(&ctx_, &crypto_, &msg_);
  }
  std::string at(const std::string &name) const { return dir_.posix(name); }
  std::string rule_dir(const std::string &name) {
    make_dir(at(name));
    return at(name);
  }

  TempDir dir_;
  GetFileCtx ctx_{};
  CCA_CONTEXT handle_ = reinterpret_cast<CCA_CONTEXT>(0x99);
  CCA_CONTEXT crypto_ = handle_;
  OutgoingMessage msg_{};
};

TEST_F(GetFiles, NothingToSend) {
  set_output_rules({});
  EXPECT_EQ(collect(), 1u);
  const OutgoingMessage zero{};
  EXPECT_EQ(std::memcmp(&msg_, &zero, sizeof msg_), 0);
  EXPECT_EQ(ctx_.NextRule, 0u);
  EXPECT_TRUE(host().events.empty());
}

TEST_F(GetFiles, ModuleSettingsMustBeReadable) {
  host().reset();
  host().set_dword(kHostKey, "OutputMessageFlags", 0);
  EXPECT_EQ(collect(), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_READ_SETTING, {"CertificateFlags", kHostKey}},
                                   summary("OLM_ConfGetDWORD", "OXT_get_files")}));
}

TEST_F(GetFiles, RulesTakeTurns) {
  set_output_rules({{rule_dir("r0")}, {rule_dir("r1")}, {rule_dir("r2")}});
  write_file(at("r0/a.txt"), "A");
  write_file(at("r0/b.txt"), "B");
  ctx_.NextRule = 1;
  ASSERT_EQ(collect(), 0u);
  EXPECT_EQ(ctx_.NextRule, 1u);  // found at rule 0: the next call starts at rule 1
  ASSERT_EQ(collect(), 0u);
  EXPECT_EQ(ctx_.NextRule, 1u);
  EXPECT_EQ(collect(), 1u);
  EXPECT_EQ(ctx_.NextRule, 1u);

  host().set_dword(output_rule_key(1), "UseRule", 0);
  write_file(at("r2/c.txt"), "C");
  ASSERT_EQ(collect(), 0u);
  EXPECT_STREQ(msg_.File[0].Name, "c.txt");
  EXPECT_EQ(ctx_.NextRule, 0u);
}

TEST_F(GetFiles, ALongSkipListHoldsBackExactlyTheFilesItNames) {
  set_output_rules({{rule_dir("out"), {"SMTP:a@x"}}});
  const std::string held = dir_.path() + "/OUT\\";
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    write_file(at("out/" + name), name);
    const std::string upper = "F" + std::to_string(i) + ".TXT";
    // The last one is named only by a node of the other kind.
    append_skip_node_for_test(&ctx_, i == 39 ? 1 : 0, held + upper);
  }
  write_file(at("out/\xB8\xEB\xEA\xE0.txt"), "fir");                   // ёлка.txt
  append_skip_node_for_test(&ctx_, 0, held + "\xA8\xCB\xCA\xC0.TXT");  // ЁЛКА.TXT
  ASSERT_EQ(collect(), 0u);
  ASSERT_EQ(msg_.NumberFile, 1u);
  EXPECT_STREQ(msg_.File[0].Name, "f39.txt");
  OXT_delete_files(&ctx_, &msg_, 0, nullptr);
  OXT_free_files(&msg_);
  msg_ = {};
  EXPECT_EQ(collect(), 1u);

  // Behind the held-back files, a send directory is still found.
  make_dir(at("out/d"));
  write_file(at("out/d/a.txt"), "alpha");
  write_file(at("out/d/olminfo.txt"), "Email:b@x\r\n");
  ASSERT_EQ(collect(), 0u);
  ASSERT_EQ(msg_.NumberFile, 1u);
  EXPECT_STREQ(msg_.File[0].Name, "a.txt");
}

TEST_F(GetFiles, LooseFileMessage) {
  OutputRuleConfig rule{rule_dir("out"), {"SMTP:to@x", "EX:/o=b"},
                        2 | 0x20000 | 4, "Sent <#%.#>",
                        "*.txt",         "ex:sender"};
  set_output_rules({rule});
  write_file(at("out/a.doc"), "not matched");
  write_file(at("out/held.txt"), "held back");
  write_file(at("out/report.txt"), "body");
  // A read-only file is taken, and its working file is writable.
  ASSERT_TRUE(os::system_os().set_attributes((at("out") + "\\report.txt").c_str(),
                                             os::kAttrArchive | os::kAttrReadOnly));
  append_skip_node_for_test(&ctx_, 0, dir_.path() + "/OUT\\HELD.TXT");
  ASSERT_EQ(collect(), 0u);
  ASSERT_EQ(msg_.NumberFile, 1u);
  const FileEntry &f = msg_.File[0];
  EXPECT_STREQ(f.Name, "report.txt");
  EXPECT_EQ(text_of(f.Data, f.Length), "body");
  EXPECT_EQ(std::string(f.PickupPath), at("out") + "\\report.txt");
  EXPECT_EQ(f.CopyPath, nullptr);
  const std::string work = f.WorkPath;
  EXPECT_EQ(work.rfind(at("out") + "\\qmt-", 0), 0u) << work;
  EXPECT_FALSE(exists(at("out/report.txt")));
  EXPECT_TRUE(exists(at("out/") + work.substr(at("out").size() + 1)));
  uint32_t attributes = 0;
  ASSERT_TRUE(os::system_os().get_attributes(work.c_str(), &attributes));
  EXPECT_EQ(attributes & os::kAttrReadOnly, 0u);
  EXPECT_STREQ(msg_.Subject, "Sent report");
  EXPECT_EQ(flag_names(msg_.Flags), "sign|rule-mark");
  EXPECT_STREQ(msg_.SenderType, "EX");
  EXPECT_STREQ(msg_.SenderAddress, "sender");
  EXPECT_EQ(recipients_of(msg_), (std::vector<std::string>{"SMTP:to@x", "EX:/o=b"}));
  EXPECT_EQ(msg_.Body, nullptr);
  EXPECT_EQ(msg_.InfoPickupPath, nullptr);
  EXPECT_EQ(collect(), 1u);  // the skipped and unmatched files stay
  EXPECT_TRUE(exists(at("out/held.txt")));
  EXPECT_TRUE(exists(at("out/a.doc")));
}

TEST_F(GetFiles, TextBodies) {
  struct Row {
    const char *name;
    std::string content;
    bool convert;
    std::string body;
    bool has_body;
  } rows[] = {
      {"866 letters", "ab\xAE\xA2", false, "ab\xEE\xE2", true},
      {"zero byte: no body", std::string("a\0b", 3), false, "", false},
      {"whole 866 conversion", "\x8F\xC4", true, "\xCF-", true},
      {"1251 text stays", "\xCF\xF0\xE8", false, "\xCF\xF0\xE8", true},
  };
  for (const Row &row : rows) {
    host().reset();
    SetUp();
    TempDir dir;
    OutputRuleConfig rule{dir.path(), {"a@x"}};
    rule.strings["SendTextInBody"] = "+";
    if (row.convert) rule.strings["transform866to1251"] = "+";
    set_output_rules({rule});
    write_file(dir.posix("t.txt"), row.content);
    ASSERT_EQ(collect(), 0u) << row.name;
    EXPECT_EQ(msg_.Body != nullptr, row.has_body) << row.name;
    EXPECT_EQ(text_of(msg_.Body, msg_.BodyLength), row.body) << row.name;
    if (row.has_body) {
      EXPECT_EQ(text_of(msg_.File[0].Data, msg_.File[0].Length), row.body);
    }
  }
}

TEST_F(GetFiles, SendDirectoryMessage) {
  set_output_rules({{rule_dir("out"), {"SMTP:rule@x"}, 2, "Rule subject <#%#>", "", "SMTP:rule"}});
  make_dir(at("out/batch"));
  write_file(at("out/batch/one.txt"), "1");
  write_file(at("out/batch/two.txt"), "22");
  write_file(at("out/batch/olminfo.txt"),
             "Email:SMTP:user1\r\nEmail:EX:/o=org/cn=b\r\nSubject:Report\r\nProtection:Sign\r\n"
             "Protection:Crypt\r\nFrom:NOTES:Clerk/Org\r\nBody:\r\nline one\r\nline two\r\n");
  ASSERT_EQ(collect(), 0u);
  EXPECT_EQ(recipients_of(msg_), (std::vector<std::string>{"SMTP:user1", "EX:/o=org/cn=b"}));
  EXPECT_STREQ(msg_.Subject, "Report");
  EXPECT_EQ(flag_names(msg_.Flags), "encrypt|sign");
  EXPECT_STREQ(msg_.SenderType, "NOTES");
  EXPECT_STREQ(msg_.SenderAddress, "Clerk/Org");
  EXPECT_EQ(text_of(msg_.Body, msg_.BodyLength), "line one\r\nline two\r\n");
  ASSERT_EQ(msg_.NumberFile, 2u);
  std::vector<std::string> names = {msg_.File[0].Name, msg_.File[1].Name};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.txt"}));
  EXPECT_EQ(std::string(msg_.File[0].CopyPath), at("out") + "\\batch\\" + msg_.File[0].Name);
  EXPECT_EQ(std::string(msg_.InfoPickupPath), at("out") + "\\batch\\olminfo.txt");
  EXPECT_EQ(std::string(msg_.SendDirPath), at("out") + "\\batch");
  EXPECT_STREQ(msg_.SendDirName, "batch");
  EXPECT_FALSE(exists(at("out/batch/olminfo.txt")));
  EXPECT_EQ(collect(), 1u);  // claimed: never handed out twice
}

TEST_F(GetFiles, DescriptorFallbacksToTheRule) {
  set_output_rules(
      {{rule_dir("out"), {"SMTP:rule@x", "SMTP:second@x"}, 2, "Rule <#.%#>", "", "SMTP:rule"}});
  make_dir(at("out/d"));
  write_file(at("out/d/file.name.txt"), "x");
  write_file(at("out/d/olminfo.txt"), "Protection:Plain\r\nBody:");
  ASSERT_EQ(collect(), 0u);
  EXPECT_EQ(recipients_of(msg_), (std::vector<std::string>{"SMTP:rule@x", "SMTP:second@x"}));
  EXPECT_STREQ(msg_.Subject, "Rule file");
  EXPECT_EQ(msg_.Flags, 0u);  // "Plain" in the descriptor wins over the rule's "sign"
  EXPECT_STREQ(msg_.SenderAddress, "rule");
  EXPECT_EQ(msg_.Body, nullptr);  // nothing after "Body"
}

TEST_F(GetFiles, SeparateSendingTurnsALooseFileIntoASendDirectory) {
  OutputRuleConfig rule{rule_dir("out"), {"SMTP:a@x", "SMTP:b@x", "SMTP:c@x"}, 4, "S"};
  rule.strings["SendSeparately"] = "+";
  set_output_rules({rule});
  write_file(at("out/r.txt"), "content");
  ASSERT_EQ(collect(), 0u);
  // The same call took the new send directory: one address per message.
  EXPECT_EQ(recipients_of(msg_), (std::vector<std::string>{"SMTP:a@x"}));
  ASSERT_EQ(msg_.NumberFile, 1u);
  EXPECT_STREQ(msg_.File[0].Name, "r.txt");
  EXPECT_NE(msg_.File[0].CopyPath, nullptr);
  EXPECT_EQ(msg_.File[0].WorkPath, nullptr);
  const std::vector<std::string> left = names_in(at("out"));
  ASSERT_EQ(left.size(), 1u);  // the working file was deleted
  EXPECT_EQ(left[0].rfind("TMP_", 0), 0u);
}

TEST_F(GetFiles, GuaranteedDeliveryNeedsExactlyOneAddress) {
  OutputRuleConfig rule{rule_dir("out"), {"SMTP:a@x", "SMTP:b@x"}, 4, "S"};
  rule.strings = {{"GarantedDelivery", "+"}, {"IterationNum", "3"}, {"TimeInterval", "10"}};
  set_output_rules({rule});
  write_file(at("out/r.txt"), "content");
  ASSERT_EQ(collect(), 0u);
  EXPECT_NE(msg_.File[0].WorkPath, nullptr);  // two addresses: sent as a loose file

  host().set_dword(output_rule_key(0) + "\\EmailList", "EmailNum", 1);
  write_file(at("out/s.txt"), "content");
  ASSERT_EQ(collect(), 0u);
  EXPECT_NE(msg_.File[0].CopyPath, nullptr);
  EXPECT_NE(msg_.InfoWorkPath, nullptr);
}

TEST_F(GetFiles, DueTimesAndUsedUpRepeats) {
  const uint32_t now = static_cast<uint32_t>(time(nullptr));
  set_output_rules({{rule_dir("out"), {"SMTP:a@x"}}});
  make_dir(at("bad"));
  host().set_dword(kHostKey, "OutRulezFlags", 3);
  host().set_string(kHostKey, "SaveOutErrorPath", at("bad"));
  host().set_string(kHostKey, "AdminEmail", "admin");
  host().set_dword(kHostKey, "admin_etype", 1);
  make_dir(at("out/soon"));
  write_file(at("out/soon/olminfo.txt"), "RepeatTimeout:10\r\nCurrentTime:" +
                                             std::to_string(now - 300) + "\r\nRepeatNumber:2\r\n");
  EXPECT_EQ(collect(), 1u);
  write_file(at("out/soon/olminfo.txt"), "RepeatTimeout:10\r\nCurrentTime:" +
                                             std::to_string(now - 720) + "\r\nRepeatNumber:2\r\n");
  EXPECT_EQ(collect(), 0u);
  OXT_free_files(&msg_);

  make_dir(at("out/done"));
  write_file(at("out/done/f.txt"), "x");
  write_file(at("out/done/olminfo.txt"), "RepeatTimeout:10\r\nEmail:a@x\r\n");
  EXPECT_EQ(collect(), 1u);
  EXPECT_TRUE(exists(at("bad/done/f.txt")));
  const std::vector<std::string> out = names_in(at("out"));
  ASSERT_EQ(out.size(), 2u);  // "soon" (claimed) and the notification request
  const std::string request = out[0] == "soon" ? out[1] : out[0];
  const std::string text = read_file(at("out/" + request + "/olminfo.txt"));
  EXPECT_NE(text.find("Email:EX:admin\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(at("bad") + "\\done\r\n"), std::string::npos) << text;
}

TEST_F(GetFiles, UsedUpRepeatsStayWithoutBadFilesDirectory) {
  set_output_rules({{rule_dir("out"), {"SMTP:a@x"}}});
  make_dir(at("out/done"));
  write_file(at("out/done/olminfo.txt"), "RepeatTimeout:10\r\n");
  EXPECT_EQ(collect(), 1u);
  EXPECT_EQ(collect(), 1u);
  EXPECT_TRUE(exists(at("out/done/olminfo.txt")));
}

TEST_F(GetFiles, SendDirectoryEdges) {
  set_output_rules({{rule_dir("out"), {"SMTP:a@x"}}});
  make_dir(at("out/empty"));
  write_file(at("out/empty/olminfo.txt"), "");
  ASSERT_EQ(collect(), 0u);
  EXPECT_EQ(msg_.NumberFile, 0u);
  EXPECT_EQ(msg_.File, nullptr);

  make_dir(at("out/held"));
  write_file(at("out/held/olminfo.txt"), "Email:b@x\r\n");
  append_skip_node_for_test(&ctx_, 1, dir_.path() + "/OUT\\HELD\\OLMINFO.TXT");
  EXPECT_EQ(collect(), 1u);
  append_skip_node_for_test(&ctx_, 0, "unrelated");
  OXT_free_get_files(&ctx_);

  // Many addresses, a long line after them, and separate sending.
  std::string descriptor = "SeparateSending:5000\r\n";
  for (int i = 0; i < 5000; ++i) descriptor += "Email:SMTP:user" + std::to_string(i) + "@x\r\n";
  descriptor += "Subject:" + std::string(3000, 's') + "\r\n";
  write_file(at("out/held/olminfo.txt"), descriptor);
  ASSERT_EQ(collect(), 0u);
  EXPECT_EQ(recipients_of(msg_), (std::vector<std::string>{"SMTP:user0@x"}));
  EXPECT_STREQ(msg_.Subject, "Files");  // the too long line ends the lookup
}

TEST_F(GetFiles, UnreadableAttachmentFailsTheMessageFilled) {
  set_output_rules({{rule_dir("out"), {"SMTP:a@x"}}});
  make_dir(at("out/d"));
  write_file(at("out/d/locked.txt"), "x");
  write_file(at("out/d/olminfo.txt"), "Email:b@x\r\n");
  const std::string locked = at("out") + "\\d\\locked.txt";
  test_os().fail_open = [&](const char *path, os::OpenMode) { return locked == path; };
  test_os().forced_error = os::kErrSharingViolation;
  EXPECT_EQ(collect(), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{1, OXT_EV_READ_ATTEMPTS, {"32"}},
                                   {3, OXT_EV_READ_FILE, {locked}},
                                   summary("read_from_file", "find_directory")}));
  EXPECT_EQ(test_os().pauses.size(), 3u);
  EXPECT_NE(msg_.InfoWorkPath, nullptr);  // filled, for completion to put back
  EXPECT_EQ(msg_.NumberFile, 0u);
  EXPECT_EQ(ctx_.NextRule, 0u);
}

TEST_F(GetFiles, AFileOf4GiBOrMoreIsNeverHandedOut) {
  set_output_rules({{rule_dir("out"), {"SMTP:a@x"}}});
  write_file(at("out/big.bin"), "");
  std::filesystem::resize_file(at("out/big.bin"), (uintmax_t{1} << 32) + 10);  // sparse
  // Passed over like a file that cannot be read, and left where it is.
  EXPECT_EQ(collect(), 1u);
  EXPECT_EQ(msg_.NumberFile, 0u);
  EXPECT_TRUE(host().events.empty());
  EXPECT_EQ(names_in(at("out")), (std::vector<std::string>{"big.bin"}));
}

TEST_F(GetFiles, SignatureCheckMode) {
  host().set_dword(kHostKey, "OutputMessageFlags", 0x100);
  host().set_dword(kHostKey, "ArchiveFlags", 0);
  set_output_rules({{rule_dir("out"), {"SMTP:a@x"}}});
  write_file(at("out/loose.txt"), "never taken");
  make_dir(at("out/d"));
  write_file(at("out/d/a.txt"), "alpha");
  write_file(at("out/d/OLMSIGN.CRS"), "Name-Signer:C\r\nHash-Value:" + fake_digest_text("alpha") +
                                          "\r\nName-Attachment:a.txt\r\nLength-Sign:2\r\n"
                                          "Sign:\r\nOK");
  write_file(at("out/d/olminfo.txt"), "Email:b@x\r\n");
  ASSERT_EQ(collect(), 0u);
  EXPECT_EQ(msg_.NumberFile, 2u);
  EXPECT_EQ(host().crypto_handles.front(), handle_);  // read from the host's address

  make_dir(at("out/e"));
  write_file(at("out/e/a.txt"), "changed");
  write_file(at("out/e/OLMSIGN.CRS"), read_file(at("out/d/OLMSIGN.CRS")));
  write_file(at("out/e/olminfo.txt"), "Email:b@x\r\n");
  EXPECT_EQ(collect(), 0xFFFFFFFFu);
  EXPECT_EQ(msg_.NumberFile, 2u);
  EXPECT_EQ(host().events.back(), summary("stricmp(hash_str, s[j].Hash)", "check_signed_files"));
  EXPECT_TRUE(exists(at("out/loose.txt")));
}

}  // namespace
}  // namespace zz::test

namespace zz::test {
namespace {

// DatabaseMessage - a BdMsg as zura_vez would fill OutMsg, with files on disk.
class GetFilesDatabase : public GetFiles {
 protected:
  void SetUp() override {
    GetFiles::SetUp();
    set_output_rules({});
    ctx_.BdMode = 1;
    ctx_.BdHandle = 5;
  }
  void TearDown() override {
    ctx_.BdMode = 0;
    GetFiles::TearDown();
  }
  char *text(const std::string &s) {
    texts_.push_back(s);
    return texts_.back().data();
  }
  std::deque<std::string> texts_;
  std::vector<BdSign> signs_;
  std::vector<BdAttachment> attachments_;
  std::vector<AddressEntry> recipients_;
};

TEST_F(GetFilesDatabase, NoMessageWaiting) {
  EXPECT_EQ(collect(), 1u);
  EXPECT_EQ(ctx_.OutMsgHeld, 0u);
  EXPECT_EQ(host().db_calls, (std::vector<std::string>{"BdReadMsg"}));
  host().read_result = 7;
  EXPECT_EQ(collect(), 0xFFFFFFFFu);
  EXPECT_EQ(host().events,
            (Events{{3, OXT_EV_BD_READ, {}}, summary("BdReadMsg", "OXT_get_files")}));
}

TEST_F(GetFilesDatabase, SignedMessageCarriesItsSignatureList) {
  write_file(at("a1"), "first");
  write_file(at("a2"), "second");
  write_file(at("s1"), "SIG-ONE");
  write_file(at("s2"), "SIG2");
  signs_ = {{text("Ivanov"), text("EX"), text("/o=x"), text("s1.sgn"), text(at("s1"))},
            {text("Petrov"), nullptr, nullptr, text("s2.sgn"), text(at("s2"))}};
  attachments_ = {{text("g1"), text("one.txt"), text(at("a1")), 2, signs_.data(), 0},
                  {text("g2"), nullptr, text(at("a2")), 0, nullptr, 0}};
  recipients_ = {{text("SMTP"), text("to@x")}, {nullptr, text("bare@x")}};
  BdMsg &m = host().read_message;
  m.Subject = text("From the database");
  m.Flags = 2 | 4 | 8;
  m.Body = reinterpret_cast<uint8_t *>(text("hello"));
  m.BodyLength = 5;
  m.SenderType = text("SMTP");
  m.SenderAddress = text("db@x");
  m.RecipientCount = 2;
  m.Recipients = recipients_.data();
  m.AttachmentCount = 2;
  m.Attachments = attachments_.data();
  host().read_result = 0;

  ASSERT_EQ(collect(), 0u);
  EXPECT_EQ(ctx_.OutMsgHeld, 1u);
  EXPECT_EQ(ctx_.NextRule, 0u);
  EXPECT_STREQ(msg_.Subject, "From the database");
  EXPECT_EQ(msg_.Flags, 2u);
  EXPECT_EQ(text_of(msg_.Body, msg_.BodyLength), "hello");
  EXPECT_STREQ(msg_.SenderAddress, "db@x");
  EXPECT_STREQ(msg_.Recipients[0].Type, "SMTP");
  EXPECT_EQ(msg_.Recipients[1].Type, nullptr);
  ASSERT_EQ(msg_.NumberFile, 3u);
  EXPECT_STREQ(msg_.File[1].Name, "");
  EXPECT_EQ(text_of(msg_.File[1].Data, msg_.File[1].Length), "second");
  EXPECT_STREQ(msg_.File[2].Name, "OLMSIGN.CRS");
  const std::string hash = fake_digest_text("first");
  EXPECT_EQ(text_of(msg_.File[2].Data, msg_.File[2].Length),
            "Name-Signer:Ivanov\r\nHash-Value:" + hash +
                "\r\nName-Attachment:one.txt\r\nSigner-Type-Address:EX\r\nSigner-Address:/o=x\r\n"
                "Length-Sign:7\r\nSign:\r\nSIG-ONE"
                "Name-Signer:Petrov\r\nHash-Value:" +
                hash + "\r\nName-Attachment:one.txt\r\nLength-Sign:4\r\nSign:\r\nSIG2");
  EXPECT_EQ(host().crypto_objects, 0);
  EXPECT_EQ(host().crypto_handles, (std::vector<CCA_CONTEXT>{handle_}));
}

TEST_F(GetFilesDatabase, MissingAttachmentGivesTheMessageBack) {
  attachments_ = {{text("g1"), text("gone.txt"), text(at("gone")), 0, nullptr, 0}};
  host().read_message.AttachmentCount = 1;
  host().read_message.Attachments = attachments_.data();
  host().read_result = 0;
  EXPECT_EQ(collect(), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{1, OXT_EV_READ_ATTEMPTS, {"2"}},
                                   {3, OXT_EV_READ_FILE, {at("gone")}},
                                   summary("read_from_file", "OXT_get_files")}));
  ASSERT_EQ(host().free_calls.size(), 1u);
  EXPECT_EQ(host().free_calls[0].sent, 0u);
  EXPECT_EQ(host().free_calls[0].text, "");
  EXPECT_EQ(ctx_.OutMsgHeld, 0u);
  const OutgoingMessage zero{};
  EXPECT_EQ(std::memcmp(&msg_, &zero, sizeof msg_), 0);
}

}  // namespace
}  // namespace zz::test
