// delete_files_test.cpp - OXT_get_files then OXT_delete_files, as a host
// runs them, for each status: what is deleted, rewritten, moved aside or put
// back, and which events and pauses it takes.
#include <gtest/gtest.h>

#include <ctime>

#include "support/rules_config.h"
#include "support/test_os.h"
#include "zozerez.h"

namespace zz::test {
namespace {

class DeleteFiles : public testing::Test {
 protected:
  void SetUp() override {
    host().set_dword(kHostKey, "OutputMessageFlags", 0);
    host().set_dword(kHostKey, "CertificateFlags", 0);
    host().set_string(kHostKey, "Filename", data_.path());
    make_dir(at("out"));
    set_output_rules({{at("out"), {"SMTP:rule@x"}}});
  }
  void TearDown() override {
    OXT_free_files(&msg_);
    OXT_deinit_get_files(&ctx_);
  }
  std::string at(const std::string &name) const { return dir_.posix(name); }
  void send_request(const std::string &descriptor, const std::string &name = "req") {
    make_dir(at("out/" + name));
    write_file(at("out/" + name + "/f.txt"), "file");
    write_file(at("out/" + name + "/olminfo.txt"), descriptor);
  }
  // collect - the next message into the record, as a host reuses it
  uint32_t collect() {
    OXT_free_files(&msg_);
    return OXT_get_files(&ctx_, nullptr, &msg_);
  }
  // round - one message collected and completed with `status`
  int32_t round(uint32_t status, const char *hash = "HASH1") {
    EXPECT_EQ(collect(), 0u);
    return OXT_delete_files(&ctx_, &msg_, status, hash);
  }
  void use_bad_files_directory(bool notify) {
    make_dir(at("bad"));
    host().set_dword(kHostKey, "OutRulezFlags", notify ? 3 : 1);
    host().set_string(kHostKey, "SaveOutErrorPath", at("bad"));
    host().set_string(kHostKey, "AdminEmail", "admin");
    host().set_dword(kHostKey, "admin_etype", 0);
  }

  TempDir dir_;
  TempDir data_;
  GetFileCtx ctx_{};
  OutgoingMessage msg_{};
};

TEST_F(DeleteFiles, SentLooseFileIsDeleted) {
  write_file(at("out/a.txt"), "a");
  EXPECT_EQ(round(0), 0);
  EXPECT_TRUE(names_in(at("out")).empty());
  EXPECT_TRUE(host().events.empty());
}

TEST_F(DeleteFiles, SentSendDirectoryIsRemoved) {
  send_request("Email:a@x\r\n");
  EXPECT_EQ(round(0), 0);
  EXPECT_TRUE(names_in(at("out")).empty());
}

TEST_F(DeleteFiles, SeparateSendingLosesOneAddressPerSend) {
  send_request("SeparateSending:3\r\nEmail:a@x\r\nEmail:b@x\r\nEmail:c@x\r\nBody:\r\n  text \r\n");
  EXPECT_EQ(round(0), 0);
  EXPECT_EQ(read_file(at("out/req/olminfo.txt")),
            "SeparateSending:3\r\nEmail:b@x\r\nEmail:c@x\r\nBody\r\n  text \r\n");
  EXPECT_EQ(round(0), 0);
  EXPECT_EQ(read_file(at("out/req/olminfo.txt")),
            "SeparateSending:3\r\nEmail:c@x\r\nBody\r\n  text \r\n");
  EXPECT_EQ(round(0), 0);  // the last address: completed like any message
  EXPECT_TRUE(names_in(at("out")).empty());
}

TEST_F(DeleteFiles, GuaranteedDeliveryDownToItsLastRepeat) {
  send_request("RepeatNumber:2\r\nRepeatTimeout:60\r\nEmail:a@x\r\nBody:\r\nkeep me\r\n");
  EXPECT_EQ(round(0, "HASH1"), 0);
  const std::string now = std::to_string(static_cast<uint32_t>(time(nullptr)));
  const std::string first = read_file(at("out/req/olminfo.txt"));
  EXPECT_EQ(first.substr(0, 31), "MessageHash:HASH1\r\nCurrentTime:");
  EXPECT_NE(
      first.find("\r\nRepeatNumber:1\r\nRepeatTimeout:60\r\nEmail:a@x\r\nBody\r\nkeep me\r\n"),
      std::string::npos)
      << first;
  const std::string descriptor = dir_.path() + "/out\\req\\olminfo.txt";
  EXPECT_EQ(read_file(data_.posix("olmhash.dat")), descriptor + "|HASH1\r\n");

  // Not due again for an hour; moved back in time it is taken once more.
  EXPECT_EQ(collect(), 1u);
  write_file(at("out/req/olminfo.txt"),
             "RepeatNumber:1\r\nRepeatTimeout:60\r\nCurrentTime:1000\r\nEmail:a@x\r\n");
  EXPECT_EQ(round(0, "HASH2"), 0);
  const std::string last = read_file(at("out/req/olminfo.txt"));
  EXPECT_EQ(last.find("RepeatNumber"), std::string::npos) << last;
  EXPECT_EQ(read_file(data_.posix("olmhash.dat")),
            descriptor + "|HASH1\r\n" + descriptor + "|HASH2\r\n");

  // The receipt of either copy ends the request.
  EXPECT_EQ(OXT_ticket_hash("hash2"), 0u);
  EXPECT_TRUE(names_in(at("out")).empty());
  EXPECT_FALSE(exists(data_.posix("olmhash.dat")));
}

TEST_F(DeleteFiles, RepeatsWithoutTimeoutAreAnOrdinarySend) {
  send_request("RepeatNumber:3\r\nEmail:a@x\r\n");
  EXPECT_EQ(round(0), 0);
  EXPECT_TRUE(names_in(at("out")).empty());
  EXPECT_FALSE(exists(data_.posix("olmhash.dat")));
}

TEST_F(DeleteFiles, NotSentIsPutBackAndHeldBack) {
  write_file(at("out/a.txt"), "a");
  send_request("SeparateSending:3\r\nEmail:a@x\r\nEmail:b@x\r\nEmail:c@x\r\nBody:\r\ntext");
  EXPECT_EQ(round(1), 0);
  EXPECT_EQ(round(1), 0);
  EXPECT_EQ(read_file(at("out/a.txt")), "a");
  EXPECT_EQ(read_file(at("out/req/olminfo.txt")),
            "SeparateSending:3\r\nEmail:b@x\r\nEmail:c@x\r\nEmail:a@x\r\nBody\r\ntext");
  EXPECT_EQ(collect(), 1u);  // both held back
  OXT_free_get_files(&ctx_);
  EXPECT_EQ(collect(), 0u);  // offered again
}

TEST_F(DeleteFiles, FailedForGoodWithoutBadFilesDirectoryIsPutBack) {
  write_file(at("out/a.txt"), "a");
  EXPECT_EQ(round(2), 0);
  EXPECT_EQ(read_file(at("out/a.txt")), "a");
  EXPECT_EQ(collect(), 1u);
}

TEST_F(DeleteFiles, FailedForGoodGoesToTheBadFilesDirectory) {
  use_bad_files_directory(true);
  write_file(at("out/a.txt"), "a");
  EXPECT_EQ(round(2), 0);
  EXPECT_EQ(read_file(at("bad/a.txt")), "a");
  EXPECT_TRUE(names_in(at("out")).empty());  // a loose file: no notification

  send_request("Email:a@x\r\n", "req1");
  EXPECT_EQ(round(2), 0);
  EXPECT_EQ(read_file(at("bad/req1/f.txt")), "file");
  const std::vector<std::string> out = names_in(at("out"));
  ASSERT_EQ(out.size(), 1u);
  const std::string note = read_file(at("out/" + out[0] + "/olminfo.txt"));
  EXPECT_NE(note.find("Email:SMTP:admin\r\n"), std::string::npos);
  EXPECT_NE(note.find(at("bad") + "\\req1\r\n"), std::string::npos) << note;
}

TEST_F(DeleteFiles, FailedForGoodWithSeparateSendingKeepsCopies) {
  use_bad_files_directory(false);
  send_request("SeparateSending:2\r\nEmail:a@x\r\nEmail:b@x\r\n");
  EXPECT_EQ(round(2), 0);
  EXPECT_EQ(read_file(at("bad/f.txt")), "file");
  EXPECT_EQ(read_file(at("out/req/olminfo.txt")), "SeparateSending:2\r\nEmail:b@x\r\n");
}

TEST_F(DeleteFiles, DescriptorGoneBeforeCompletion) {
  send_request("Email:a@x\r\n");
  ASSERT_EQ(collect(), 0u);
  const std::string work = msg_.InfoWorkPath;
  std::remove(at("out/req/" + work.substr(work.rfind('\\') + 1)).c_str());
  EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 0, "H"), -1);
  EXPECT_EQ(host().events, (Events{{1, OXT_EV_READ_ATTEMPTS, {"2"}},
                                   {3, OXT_EV_READ_FILE, {work}},
                                   summary("read_from_file", "OXT_delete_files")}));
  EXPECT_TRUE(exists(at("out/req/f.txt")));  // nothing of the message is lost
}

TEST_F(DeleteFiles, DatabaseReleaseWithBackOff) {
  ctx_.BdMode = 1;
  ctx_.OutMsgHeld = 1;
  host().free_results = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 0, "H"), -1);
  EXPECT_EQ(test_os().pauses, (std::vector<uint32_t>{1000, 2000, 4000, 8000, 16000}));
  EXPECT_EQ(host().free_calls.size(), 6u);
  EXPECT_EQ(host().events,
            (Events{{3, OXT_EV_BD_FREE, {}}, summary("BdFreeMsg", "OXT_delete_files")}));

  host().free_calls.clear();
  host().free_results = {1};
  EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 1, "H"), 0);
  ASSERT_EQ(host().free_calls.size(), 2u);
  EXPECT_EQ(host().free_calls[1].sent, 0u);
  EXPECT_EQ(host().free_calls[1].text, "");
  EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 0, "H"), 0);
  EXPECT_EQ(host().free_calls.back().sent, 1u);
  EXPECT_EQ(host().free_calls.back().text, "H");
  ctx_.BdMode = 0;
}

}  // namespace
}  // namespace zz::test
