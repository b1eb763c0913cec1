// hostile_tree_test.cpp - drop and send directories planted with links,
// special files and odd names, and a send directory swapped for a link while
// it is being taken: nothing outside the served directories is read, sent,
// moved or written, and the plain files beside them still go out.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "support/rules_config.h"
#include "support/test_os.h"
#include "zozerez.h"

namespace zz::test {
namespace {

class PosixHostileTree : public testing::Test {
 protected:
  void SetUp() override {
    host().set_dword(kHostKey, "OutputMessageFlags", 0);
    host().set_dword(kHostKey, "CertificateFlags", 0);
    make_dir(at("out"));
    make_dir(at("outside"));
    make_dir(at("outside/req"));
    write_file(at("outside/secret.txt"), "secret");
    write_file(at("outside/req/olminfo.txt"), "Email:SMTP:thief@x\r\n");
    write_file(at("outside/req/loot.txt"), "loot");
    set_output_rules({{at("out"), {"SMTP:rule@x"}}});
  }
  void TearDown() override {
    test_os().reset();
    OXT_free_files(&msg_);
    OXT_deinit_get_files(&ctx_);
  }
  std::string at(const std::string &name) const { return dir_.posix(name); }

  // drain - every message the rule gives, by its files' names
  std::multiset<std::string> drain() {
    std::multiset<std::string> sent;
    for (int i = 0; i < 50; ++i) {
      OXT_free_files(&msg_);
      if (OXT_get_files(&ctx_, nullptr, &msg_) != 0) break;
      for (uint32_t f = 0; f < msg_.NumberFile; ++f) {
        sent.insert(msg_.File[f].Name);
        EXPECT_STRNE(reinterpret_cast<const char *>(msg_.File[f].Data), "secret");
      }
      EXPECT_EQ(OXT_delete_files(&ctx_, &msg_, 0, "H"), 0);
    }
    return sent;
  }
  void expect_outside_untouched() {
    EXPECT_EQ(names_in(at("outside")), (std::vector<std::string>{"req", "secret.txt"}));
    EXPECT_EQ(names_in(at("outside/req")), (std::vector<std::string>{"loot.txt", "olminfo.txt"}));
    EXPECT_EQ(read_file(at("outside/secret.txt")), "secret");
    EXPECT_EQ(read_file(at("outside/req/olminfo.txt")), "Email:SMTP:thief@x\r\n");
  }

  TempDir dir_;
  GetFileCtx ctx_{};
  OutgoingMessage msg_{};
};

TEST_F(PosixHostileTree, PlantedEntriesAreLeftAlone) {
  ASSERT_EQ(symlink(at("outside/secret.txt").c_str(), at("out/link.txt").c_str()), 0);
  ASSERT_EQ(symlink(at("outside/req").c_str(), at("out/dirlink").c_str()), 0);
  ASSERT_EQ(link(at("outside/secret.txt").c_str(), at("out/hard.txt").c_str()), 0);
  ASSERT_EQ(mkfifo(at("out/fifo").c_str(), 0600), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", at("out/sock").c_str());
  const bool bound = bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
  // A device node needs root; /dev/null's numbers harm nothing if opened.
  const bool device = mknod(at("out/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  write_file(at("out/back\\slash.txt"), "odd");
  make_dir(at("out/linked"));
  write_file(at("out/linked/a.txt"), "a");
  ASSERT_EQ(symlink(at("outside/req/olminfo.txt").c_str(), at("out/linked/olminfo.txt").c_str()),
            0);
  write_file(at("out/" + std::string(255 - 4, 'n') + ".txt"), "long");
  write_file(at("out/plain.txt"), "plain");

  EXPECT_EQ(drain(), (std::multiset<std::string>{std::string(251, 'n') + ".txt", "plain.txt"}));
  expect_outside_untouched();
  for (const char *name :
       {"link.txt", "dirlink", "hard.txt", "fifo", "back\\slash.txt", "linked"}) {
    struct stat st;
    EXPECT_EQ(lstat(at(std::string("out/") + name).c_str(), &st), 0) << name;
  }
  EXPECT_EQ(names_in(at("out/linked")), (std::vector<std::string>{"a.txt", "olminfo.txt"}));
  EXPECT_TRUE(!bound || access(at("out/sock").c_str(), F_OK) == 0);
  EXPECT_TRUE(!device || access(at("out/null").c_str(), F_OK) == 0);
  close(sock);
  EXPECT_EQ(host().events, Events{});
}

TEST_F(PosixHostileTree, ASendDirectorySwappedForALinkLeadsNowhere) {
  make_dir(at("out/req"));
  write_file(at("out/req/mine.txt"), "mine");
  write_file(at("out/req/olminfo.txt"), "Email:SMTP:desk@x\r\n");
  // After the listing showed "req" as a directory, it becomes a link to
  // another send directory outside.
  bool swapped = false;
  test_os().fail_open = [&](const char *path, os::OpenMode) {
    if (!swapped && std::strstr(path, "req\\olminfo.txt") != nullptr) {
      swapped = rename(at("out/req").c_str(), at("out/req.real").c_str()) == 0 &&
                symlink(at("outside/req").c_str(), at("out/req").c_str()) == 0;
    }
    return false;
  };
  EXPECT_EQ(drain(), std::multiset<std::string>{});
  EXPECT_TRUE(swapped);
  expect_outside_untouched();
  EXPECT_EQ(names_in(at("out/req.real")), (std::vector<std::string>{"mine.txt", "olminfo.txt"}));
}

}  // namespace
}  // namespace zz::test
