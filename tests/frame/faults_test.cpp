// faults_test.cpp - the module's file work with one system call broken at a
// time: a full disk, a failed move or directory creation, an allocation that
// throws after a claim. Each row checks the result, the events, and that
// nothing claimed is left where no scan or recovery will meet it again.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <new>

#include "support/rules_config.h"
#include "support/test_os.h"
#include "zozerez.h"

namespace zz::test {
namespace {

constexpr uint32_t kDiskFull = 112;  // ERROR_DISK_FULL

bool ends_with(const char *path, const char *tail) {
  const size_t n = std::strlen(path), m = std::strlen(tail);
  return n >= m && std::strcmp(path + n - m, tail) == 0;
}

// claimed_anywhere - working names in `dir` and in its subdirectories
std::vector<std::string> claimed_anywhere(const std::string &dir) {
  std::vector<std::string> found;
  for (const std::string &name : names_in(dir)) {
    if (name.rfind("qmt-", 0) == 0) found.push_back(name);
    if (name.find('.') == std::string::npos) {
      for (const std::string &inner : names_in(dir + "/" + name)) {
        if (inner.rfind("qmt-", 0) == 0) found.push_back(name + "/" + inner);
      }
    }
  }
  return found;
}

class Faults : public testing::Test {
 public:
  void SetUp() override {
    host().set_dword(kHostKey, "OutputMessageFlags", 0);
    host().set_dword(kHostKey, "CertificateFlags", 0);
    host().set_string(kHostKey, "Filename", at("data"));
    for (const char *d : {"out", "bad", "data", "in", "in-errors"}) make_dir(at(d));
    host().set_dword(kHostKey, "OutRulezFlags", 1);
    host().set_string(kHostKey, "SaveOutErrorPath", at("bad"));
    test_os().forced_error = kDiskFull;
  }
  void TearDown() override {
    test_os().reset();
    OXT_free_files(&msg_);
    OXT_deinit_get_files(&ctx_);
  }
  std::string at(const std::string &name) const { return dir_.posix(name); }
  void separate_sending_rule() {
    OutputRuleConfig rule{at("out"), {"SMTP:a@x", "SMTP:b@x"}, 4, "S"};
    rule.strings["SendSeparately"] = "+";
    set_output_rules({rule});
  }
  void guaranteed_request() {
    set_output_rules({{at("out"), {"SMTP:rule@x"}}});
    make_dir(at("out/req"));
    write_file(at("out/req/f.txt"), "file");
    write_file(at("out/req/olminfo.txt"),
               "RepeatNumber:3\r\nRepeatTimeout:60\r\nEmail:SMTP:a@x\r\n");
  }
  uint32_t collect() {
    OXT_free_files(&msg_);
    return OXT_get_files(&ctx_, nullptr, &msg_);
  }

  TempDir dir_;
  GetFileCtx ctx_{};
  OutgoingMessage msg_{};
};

TEST_F(Faults, CollectionAfterAClaim) {
  struct Row {
    const char *name;
    std::function<void(Faults &)> arrange;
    std::function<void()> fault;
    Events events;  // empty: only the closing summary is checked
    std::vector<std::string> out_after, bad_after;
  } rows[] = {
      {"an allocation throws while a loose file is turned into a send directory",
       [](Faults &f) {
         f.separate_sending_rule();
         write_file(f.at("out/r.txt"), "content");
       },
       [] {
         test_os().fail_call = [](const char *call, const char *) -> bool {
           if (std::strcmp(call, "mkdir") == 0) throw std::bad_alloc();
           return false;
         };
       },
       {{3, OXT_EV_NO_MEMORY, {}}, summary("malloc", "OXT_get_files")},
       {"r.txt"},
       {}},
      {"an allocation throws while a send directory's files are read",
       [](Faults &f) {
         set_output_rules({{f.at("out"), {"SMTP:rule@x"}}});
         make_dir(f.at("out/req"));
         write_file(f.at("out/req/a.txt"), "a");
         write_file(f.at("out/req/olminfo.txt"), "Email:SMTP:x@y\r\n");
       },
       [] {
         test_os().fail_open = [](const char *path, os::OpenMode) -> bool {
           if (ends_with(path, "a.txt")) throw std::bad_alloc();
           return false;
         };
       },
       {{3, OXT_EV_NO_MEMORY, {}}, summary("malloc", "OXT_get_files")},
       {"req"},
       {}},
      {"the send directory cannot be created",
       [](Faults &f) {
         f.separate_sending_rule();
         write_file(f.at("out/r.txt"), "content");
       },
       [] {
         test_os().fail_call = [](const char *call, const char *) {
           return std::strcmp(call, "mkdir") == 0;
         };
       },
       {},
       {},
       {"r.txt"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    for (const char *d : {"out", "bad"}) {
      std::filesystem::remove_all(at(d));
      make_dir(at(d));
    }
    row.arrange(*this);
    host().events.clear();
    row.fault();
    EXPECT_EQ(collect(), 0xFFFFFFFFu);
    test_os().reset();
    test_os().forced_error = kDiskFull;
    if (!row.events.empty()) {
      EXPECT_EQ(host().events, row.events);
    }
    ASSERT_FALSE(host().events.empty());
    EXPECT_EQ(host().events.back().code, OXT_EV_SUMMARY);
    EXPECT_EQ(claimed_anywhere(at("out")), std::vector<std::string>{});
    EXPECT_EQ(names_in(at("out")), row.out_after);
    EXPECT_EQ(names_in(at("bad")), row.bad_after);
    if (!row.out_after.empty() && row.out_after[0] == "req") {
      EXPECT_EQ(names_in(at("out/req")), (std::vector<std::string>{"a.txt", "olminfo.txt"}));
    }
  }
}

TEST_F(Faults, FullDiskWhileTheSendDirectoryIsMade) {
  separate_sending_rule();
  write_file(at("out/r.txt"), "content");
  std::string descriptor;
  test_os().fail_call = [&](const char *call, const char *path) {
    if (std::strcmp(call, "write") != 0 || !ends_with(path, "olminfo.txt")) return false;
    descriptor = path;
    return true;
  };
  EXPECT_EQ(collect(), 0xFFFFFFFFu);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_WRITE_FILE, {descriptor}},
                                   summary("write_to_file(2)", "create_dir_for_send_file")}));
  EXPECT_EQ(test_os().pauses, (std::vector<uint32_t>{1000, 1000, 1000}));
  // No empty descriptor is left to be sent as a message of its own; the
  // half-made send directory is gone and the file waits among the bad files.
  EXPECT_EQ(names_in(at("out")), std::vector<std::string>{});
  EXPECT_EQ(read_file(at("bad/r.txt")), "content");
}

TEST_F(Faults, Completion) {
  // A move back that fails is not reported; the file stays claimed, for
  // the host to complete again (its journal still names the message).
  set_output_rules({{at("out"), {"SMTP:rule@x"}}});
  write_file(at("out/r.txt"), "content");
  ASSERT_EQ(collect(), 0u);
  host().events.clear();
  test_os().fail_move = [](const char *, const char *) { return true; };
  EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 1, "H"), 0);
  test_os().reset();
  EXPECT_EQ(host().events, Events{});
  EXPECT_EQ(claimed_anywhere(at("out")).size(), 1u);
  EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 1, "H"), 0);
  EXPECT_EQ(names_in(at("out")), std::vector<std::string>{"r.txt"});

  // A full disk when the guaranteed delivery's descriptor is rewritten.
  OXT_free_get_files(&ctx_);
  std::filesystem::remove_all(at("out"));
  make_dir(at("out"));
  guaranteed_request();
  ASSERT_EQ(collect(), 0u);
  const std::string work = msg_.InfoWorkPath;
  host().events.clear();
  test_os().fail_call = [](const char *call, const char *path) {
    return std::strcmp(call, "write") == 0 && ends_with(path, ".tmp");
  };
  EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 0, "H"), -1);
  test_os().reset();
  EXPECT_EQ(host().events,
            (Events{{3, OXT_EV_WRITE_FILE, {work}}, summary("write_to_file", "OXT_delete_files")}));
  EXPECT_EQ(read_file(at("out/req/f.txt")), "file");
  // The descriptor stays claimed: the host's journal still names it.
  EXPECT_EQ(claimed_anywhere(at("out")).size(), 1u);

  // A full disk for the ticket hash store: the descriptor is back, the
  // failure reported.
  OXT_free_files(&msg_);
  std::filesystem::remove_all(at("out"));
  make_dir(at("out"));
  guaranteed_request();
  ASSERT_EQ(collect(), 0u);
  host().events.clear();
  test_os().fail_call = [](const char *call, const char *path) {
    return std::strcmp(call, "write") == 0 && ends_with(path, "olmhash.dat");
  };
  EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 0, "H2"), -1);
  test_os().reset();
  ASSERT_FALSE(host().events.empty());
  EXPECT_EQ(host().events.back().code, OXT_EV_SUMMARY);
  EXPECT_EQ(names_in(at("out/req")), (std::vector<std::string>{"f.txt", "olminfo.txt"}));
  EXPECT_EQ(names_in(at("data")), std::vector<std::string>{});
}

TEST_F(Faults, FullDiskWhileStoring) {
  set_input_rules({{at("in")}});
  host().set_dword(kHostKey, "InnRulezFlags", 1);
  host().set_string(kHostKey, "SaveInErrorPath", at("in-errors"));
  test_os().fail_call = [this](const char *call, const char *path) {
    return std::strcmp(call, "write") == 0 &&
           std::string(path).find(at("in") + "\\") != std::string::npos;
  };
  IncomingMessage msg{};
  msg.Data = reinterpret_cast<const uint8_t *>("content");
  msg.DataLength = 7;
  msg.FileName = "report.txt";
  msg.SenderType = "SMTP";
  msg.SenderAddress = "a@b";
  EXPECT_EQ(OXT_store_file_ext(&msg), -1);
  test_os().reset();
  ASSERT_FALSE(host().events.empty());
  EXPECT_EQ(host().events.back().code, OXT_EV_SUMMARY);
  EXPECT_EQ(read_file(at("in-errors/report.txt")), "content");
  // The write that failed leaves no cut file behind under the rule's name.
  EXPECT_EQ(names_in(at("in")), std::vector<std::string>{});
}

}  // namespace
}  // namespace zz::test
