// store_file_test.cpp - OXT_store_file_ext as a host calls it: rule walks
// with their events and the files they leave, names, signatures, receipts,
// "RSA" messages and the error directory, on real temporary directories.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "support/rules_config.h"
#include "support/test_os.h"
#include "zozerez.h"

namespace zz::test {
namespace {

using Tree = std::map<std::string, std::string>;

struct Message {
  std::string name = "report.txt";
  std::string data = "content";
  uint32_t flags = 0;
  std::vector<const char *> recipients;
  std::string sender = "ivan@bank.example";
};

Message named(const std::string &name, const std::string &data = "content", uint32_t flags = 0) {
  return Message{name, data, flags, {}, "ivan@bank.example"};
}
Message flagged(uint32_t flags, const std::string &data = "content") {
  return Message{"report.txt", data, flags, {}, "ivan@bank.example"};
}

std::string container(const std::string &content,
                      const std::vector<std::pair<std::string, std::string>> &signatures) {
  std::string out =
      "Length-File:" + std::to_string(content.size()) + "\r\nFile-Data:\r\n" + content;
  for (const auto &[signer, sign] : signatures) {
    out += "\r\nName-Signer:" + signer + "\r\nLength-Sign:" + std::to_string(sign.size()) +
           "\r\nSign:\r\n" + sign;
  }
  return out;
}

class StoreFile : public testing::Test {
 public:
  void SetUp() override {
    test_os().fixed_time = os::LocalTime{2024, 3, 5, 14, 30, 9, 0};
    host().set_dword(kHostKey, "InputFileRulezFlags", 0);
  }

  int32_t store(const Message &m) {
    std::vector<AddressEntry> entries;
    for (const char *address : m.recipients) {
      entries.push_back(AddressEntry{const_cast<char *>("SMTP"), const_cast<char *>(address)});
    }
    IncomingMessage msg{};
    msg.Data = reinterpret_cast<const uint8_t *>(m.data.data());
    msg.DataLength = static_cast<uint32_t>(m.data.size());
    msg.FileName = m.name.c_str();
    msg.SenderType = "SMTP";
    msg.SenderAddress = m.sender.c_str();
    msg.Flags = m.flags;
    msg.Recipients = entries.empty() ? nullptr : entries.data();
    msg.RecipientCount = static_cast<uint32_t>(entries.size());
    return OXT_store_file_ext(&msg);
  }

  std::string at(const std::string &name) const { return dir_->posix(name); }

  void use_error_directory() {
    make_dir(at("errors"));
    host().set_dword(kHostKey, "InnRulezFlags", 1);
    host().set_string(kHostKey, "SaveInErrorPath", at("errors"));
  }

  // fresh_tree - a new temporary root for one table row
  void fresh_tree() { dir_ = std::make_unique<TempDir>(); }

  std::unique_ptr<TempDir> dir_ = std::make_unique<TempDir>();
};

TEST_F(StoreFile, RuleWalks) {
  const std::string f = "OXT_store_file_ext";
  struct Row {
    const char *name;
    std::vector<InputRuleConfig> rules;
    Message message;
    int32_t result;
    std::function<Events(StoreFile &)> events;
    Tree files;
  };
  auto none = [](StoreFile &) { return Events{}; };
  std::vector<Row> rows = {
      {"first matching rule stores",
       {{"a", "*@other", kEverything}, {"b"}, {"c"}},
       {},
       0,
       none,
       {{"b/report.txt", "content"}}},
      {"continue stores a copy in the next rule too",
       {{"a", kEverything, "*.txt", 7, "", true}, {"b"}, {"c"}},
       {},
       0,
       none,
       {{"a/report.txt", "content"}, {"b/report.txt", "content"}}},
      {"no rule takes the message",
       {{"a", "nobody@x"}, {"b", kEverything, "*.doc"}},
       flagged(4),
       -1,
       [&](StoreFile &) {
         return Events{{3, OXT_EV_NO_INPUT_RULE, {"report.txt", "ivan@bank.example", "4"}},
                       summary("get_config_store_param", f)};
       },
       {}},
      {"failure without continue goes to the error directory; later rules untried",
       {{"missing"}, {"b"}},
       named("a:b?.txt"),
       -1,
       [&](StoreFile &t) {
         return Events{{3, OXT_EV_WRITE_FILE, {t.at("missing") + "\\a_b_.txt"}},
                       summary("write_to_file(2)", f)};
       },
       {{"errors/a_b_.txt", "content"}}},
      {"failure with continue, then a rule stores: still -1 and kept",
       {{"missing", kEverything, kEverything, 7, "", true}, {"b"}},
       {},
       -1,
       [&](StoreFile &t) {
         return Events{{3, OXT_EV_WRITE_FILE, {t.at("missing") + "\\report.txt"}},
                       summary("write_to_file(2)", f)};
       },
       {{"b/report.txt", "content"}, {"errors/report.txt", "content"}}},
      {"every rule fails with continue: nothing stored, no error directory",
       {{"missing", kEverything, kEverything, 7, "", true}},
       {},
       -1,
       [&](StoreFile &t) {
         return Events{{3, OXT_EV_WRITE_FILE, {t.at("missing") + "\\report.txt"}},
                       summary("write_to_file(2)", f),
                       {3, OXT_EV_NO_INPUT_RULE, {"report.txt", "ivan@bank.example", "0"}},
                       summary("get_config_store_param", f)};
       },
       {}},
      {"missing rule directory with grouping fails creating the date directory",
       {{"missing", kEverything, kEverything, 7, "", false, false, false, false,
         "\xCF\xEE \xE4\xED\xFF\xEC"}},
       {},
       -1,
       [&](StoreFile &t) {
         return Events{{3, OXT_EV_CREATE_DIR, {t.at("missing") + "\\20240305"}},
                       summary("CreateDirectory_", f)};
       },
       {{"errors/report.txt", "content"}}},
      {"receipts: Квитанция takes them, never other messages",
       {{"r", kEverything, kReceipt}, {"b"}},
       flagged(4),
       0,
       none,
       {{"r/report.txt", "content"}}},
      {"a non-receipt passes Квитанция by",
       {{"r", kEverything, kReceipt}, {"b"}},
       {},
       0,
       none,
       {{"b/report.txt", "content"}}},
      {"sender by equality without case, recipient by mask",
       {{"a", "x400:IVAN@BANK.EXAMPLE", kEverything, 7, "SMTP:*@branch"}, {"b"}},
       Message{"report.txt", "content", 0, {nullptr, "ops@head", "desk@branch"}},
       0,
       none,
       {{"a/report.txt", "content"}}},
      {"recipient mask without recipients passes the rule over",
       {{"a", kEverything, kEverything, 7, "desk@branch"}, {"b"}},
       {},
       0,
       none,
       {{"b/report.txt", "content"}}},
      {"RSA messages are stored whole in RSA",
       {{"a", kEverything, kEverything, 7, "", false, false, false, false,
         "\xCF\xEE \xEC\xE5\xF1\xFF\xF6\xE0\xEC"}},
       flagged(2 | 8, container("x", {})),
       0,
       none,
       {{"a/202403/", ""}, {"a/202403/RSA/", ""}, {"a/202403/RSA/report.txt", container("x", {})}}},
      {"a container whose length lies goes to the error directory empty-handed",
       {{"a"}, {"b"}},
       flagged(2, "Length-File:99\r\nFile-Data:\r\nshort"),
       -1,
       [&](StoreFile &) {
         return Events{{3, OXT_EV_NO_FILE_DATA, {}}, summary("seek_file_value", f)};
       },
       {}},
  };
  for (Row &row : rows) {
    host().reset();
    host().set_dword(kHostKey, "InputFileRulezFlags", 0);
    fresh_tree();
    for (InputRuleConfig &rule : row.rules) {
      rule.path = at(rule.path);
      if (rule.path != at("missing")) make_dir(rule.path);
    }
    use_error_directory();
    set_input_rules(row.rules);
    EXPECT_EQ(store(row.message), row.result) << row.name;
    EXPECT_EQ(host().events, row.events(*this)) << row.name;
    Tree files = tree(dir_->path());
    files.erase("errors/");
    for (const InputRuleConfig &rule : row.rules) {
      files.erase(rule.path.substr(dir_->path().size() + 1) + "/");
    }
    EXPECT_EQ(files, row.files) << row.name;
  }
}

TEST_F(StoreFile, UniqueNamesAndOverwrite) {
  make_dir(at("in.box"));
  set_input_rules({{at("in.box")}});
  write_file(at("in.box/report.txt"), "old");
  EXPECT_EQ(store({}), 0);
  EXPECT_EQ(store({}), 0);
  EXPECT_EQ(store(named("README")), 0);
  EXPECT_EQ(store(named("README")), 0);
  EXPECT_EQ(tree(at("in.box")), (Tree{{"report.txt", "old"},
                                      {"report~1.txt", "content"},
                                      {"report~2.txt", "content"},
                                      {"README", "content"},
                                      {"README~1", "content"}}));
  host().set_dword(kHostKey, "InputFileRulezFlags", 1);
  EXPECT_EQ(store(named("report.txt", "new")), 0);
  EXPECT_EQ(read_file(at("in.box/report.txt")), "new");
}

#if defined(_WIN32)
// A device name is a device in every directory: never written to.
TEST_F(StoreFile, Win32DeviceNamesAreNeverWrittenTo) {
  make_dir(at("in"));
  set_input_rules({{at("in")}});
  // Taken as names already there: the files get names of their own.
  for (const char *name : {"aux.txt", "NUL", "COM1.log"}) EXPECT_EQ(store(named(name)), 0) << name;
  EXPECT_TRUE(host().events.empty());
  // To be overwritten, they are refused as files that cannot be written.
  host().set_dword(kHostKey, "InputFileRulezFlags", 1);
  use_error_directory();
  EXPECT_EQ(store(named("aux.txt")), -1);
  ASSERT_EQ(host().events.size(), 2u);
  EXPECT_EQ(host().events[0].code, OXT_EV_WRITE_FILE);
  EXPECT_EQ(tree(dir_->path()), (Tree{{"errors/", ""},
                                      {"errors/aux~1.txt", "content"},
                                      {"in/", ""},
                                      {"in/COM1~1.log", "content"},
                                      {"in/NUL~1", "content"},
                                      {"in/aux~1.txt", "content"}}));
}
#endif

TEST_F(StoreFile, TransformRulesRenameAndSanitise) {
  make_dir(at("in"));
  set_input_rules({{at("in")}});
  host().set_dword(kHostKey, "InputFileRulezFlags", 2);
  set_transform_rules({{"*.XLS", "x_*"}, {"*.DOC", "*_<YYYYMMDD>.doc"}, {"*", "never"}});
  EXPECT_EQ(store(named("Report.doc")), 0);
  EXPECT_EQ(store(named("q.txt")), 0);
  set_transform_rules({{"*", "<HH:NN>*"}});
  EXPECT_EQ(store(named("t.txt")), 0);
  EXPECT_EQ(
      tree(at("in")),
      (Tree{{"Report_20240305.doc", "content"}, {"never", "content"}, {"14_30t.txt", "content"}}));
}

TEST_F(StoreFile, SignedMessagesAndTheirSignatures) {
  const std::string signed_data = container("payload", {{"Ivanov I.I.", "S1"}, {"a/b:c", "S22"}});
  struct Row {
    const char *name;
    bool with_signature, detached;
    Tree files;
  } rows[] = {
      {"content only", false, false, {{"doc.xml", "payload"}}},
      {"kept whole", true, false, {{"doc.xml", signed_data}}},
      {"content and detached signatures",
       true,
       true,
       {{"doc.xml", "payload"}, {"doc.xml.Ivanov I.I..sgn", "S1"}, {"doc.xml.a_b_c.sgn", "S22"}}},
  };
  for (const Row &row : rows) {
    TempDir fresh;
    set_input_rules(
        {{fresh.path(), kEverything, kEverything, 2, "", false, row.with_signature, row.detached}});
    EXPECT_EQ(store(named("doc.xml", signed_data, 2)), 0) << row.name;
    EXPECT_EQ(tree(fresh.path()), row.files) << row.name;
  }
}

TEST_F(StoreFile, LongSignerNamesAreCutTo250Characters) {
  make_dir(at("in"));
  set_input_rules({{at("in"), kEverything, kEverything, 2, "", false, true, true}});
  EXPECT_EQ(store(named("d", container("p", {{std::string(300, 's'), "S"}}), 2)), 0);
  const std::string target = at("in") + "\\d";
  const std::string cut = (target + "." + std::string(300, 's')).substr(0, 250) + ".sgn";
  Tree files = tree(at("in"));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files.begin()->first, "d");
  // The cut name holds the directory, so it lies in `in` under a name ending in "s.sgn".
  EXPECT_EQ(files.rbegin()->first, cut.substr(at("in").size() + 1));
}

TEST_F(StoreFile, OwnSubdirectoryWithDescriptor) {
  make_dir(at("in"));
  set_input_rules({{at("in"), kEverything, kEverything, 7, "", false, false, false, true}});
  EXPECT_EQ(store({}), 0);
  EXPECT_EQ(tree(at("in")), (Tree{{"TMP_*/", ""},
                                  {"TMP_*/report.txt", "content"},
                                  {"TMP_*/olminfo.txt", "From:SMTP:ivan@bank.example\r\n"}}));
}

TEST_F(StoreFile, HostileNamesStayInsideTheRuleDirectory) {
  make_dir(at("in"));
  use_error_directory();
  set_input_rules({{at("in")}});
  const std::pair<std::string, int32_t> rows[] = {
      {"../escape.txt", 0}, {"..\\up", 0}, {"..", 0}, {"", -1}, {std::string(300, 'n'), -1}};
  for (const auto &[name, result] : rows) {
    host().events.clear();
    EXPECT_EQ(store(named(name)), result) << name;
  }
  Tree files = tree(dir_->path());
  for (const auto &[path, content] : files) {
    EXPECT_TRUE(path.rfind("in/", 0) == 0 || path.rfind("errors/", 0) == 0) << path;
  }
  EXPECT_EQ(files.count("in/.._escape.txt"), 1u);
  EXPECT_EQ(files.count("in/.._up"), 1u);
}

TEST_F(StoreFile, RegistryKeyFailure) {
  host().fail_registry_key();
  EXPECT_EQ(store({}), -1);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_REGISTRY_KEY, {}},
                                   summary("NR_GetRegistryKeyString", "OXT_store_file_ext")}));
  EXPECT_EQ(OXT_store_file_ext(nullptr), -1);
}

}  // namespace
}  // namespace zz::test
