// check_signed_test.cpp - signature lists and the verification of a send
// directory's files: passes, each failing verdict with its events, lists
// written loosely, and signatures archived under unique names.
#include "completion/check_signed.h"

#include <gtest/gtest.h>

#include <map>

#include "support/rules_config.h"
#include "support/test_os.h"

namespace zz::test {
namespace {

struct Entry {
  std::string signer, file, content, sign;
  std::string extra;  // lines between "Name-Attachment" and "Length-Sign"
};

std::string list_of(const std::vector<Entry> &entries) {
  std::string out;
  for (const Entry &e : entries) {
    out += "Name-Signer:" + e.signer + "\r\nHash-Value:" + fake_digest_text(e.content) +
           "\r\nName-Attachment:" + e.file + "\r\n" + e.extra +
           "Length-Sign:" + std::to_string(e.sign.size()) + "\r\nSign:\r\n" + e.sign;
  }
  return out;
}

class CheckSigned : public testing::Test {
 protected:
  void SetUp() override { host().set_dword(kHostKey, "ArchiveFlags", 0); }

  // check - the files (name -> content) and the list, as a message carries them
  int32_t check(const std::vector<std::pair<std::string, std::string>> &files,
                const std::string &list, const char *list_name = "OLMSIGN.CRS") {
    contents_.clear();
    for (const auto &f : files) contents_.push_back(f);
    contents_.emplace_back(list_name, list);
    std::vector<FileEntry> entries;
    for (auto &[name, content] : contents_) {
      entries.push_back(FileEntry{reinterpret_cast<uint8_t *>(content.data()),
                                  static_cast<uint32_t>(content.size()),
                                  const_cast<char *>(name.c_str()), nullptr, nullptr, nullptr});
    }
    int32_t result =
        check_signed_files(handle_, entries.data(), static_cast<uint32_t>(entries.size()), 1);
    EXPECT_EQ(host().crypto_objects, 0) << "vudo objects left unreleased";
    return result;
  }

  CCA_CONTEXT handle_ = reinterpret_cast<CCA_CONTEXT>(0x77);
  std::vector<std::pair<std::string, std::string>> contents_;
};

TEST_F(CheckSigned, Verdicts) {
  const char *f = "check_signed_files";
  struct Row {
    const char *name;
    std::string list;
    Events events;
  } rows[] = {
      {"valid, names in other case", list_of({{"Clerk", "A.TXT", "alpha", "OK"}}), {}},
      {"not correct",
       list_of({{"Clerk", "a.txt", "alpha", "NOTCORRECT"}}),
       {{3, OXT_EV_SIGN_NOT_CORRECT, {}}, summary("Check.Status==CCD_NOT_CORRECT", f)}},
      {"key not found",
       list_of({{"Clerk", "a.txt", "alpha", "NOKEY"}}),
       {{3, OXT_EV_SIGN_KEY_NOT_FOUND, {}}, summary("Check.Status==CCD_OKEY_NOT_FOUND", f)}},
      {"other error",
       list_of({{"Clerk", "a.txt", "alpha", "OTHER"}}),
       {{3, OXT_EV_SIGN_OTHER_ERROR, {}}, summary("Check.Status==CCD_OTHER_ERRORS", f)}},
      {"no serial",
       list_of({{"Clerk", "a.txt", "alpha", "NOSERIAL"}}),
       {{3, OXT_EV_SIGNED_DATA, {}}, summary("CCA_sender_signed_data", f)}},
      {"no certificate",
       list_of({{"Clerk", "a.txt", "alpha", "NOCERT"}}),
       {{3, OXT_EV_FIND_CERT, {}}, summary("CCA_find_cert_by_serial", f)}},
      {"check call fails",
       list_of({{"Clerk", "a.txt", "alpha", "CHECKFAIL"}}),
       {{3, OXT_EV_CHECK_SIGN, {}}, summary("CCA_check_mem_sep", f)}},
      {"other digest",
       list_of({{"Clerk", "a.txt", "changed", "OK"}}),
       {{3, OXT_EV_DIGEST_MISMATCH, {"a.txt"}}, summary("stricmp(hash_str, s[j].Hash)", f)}},
      {"loosely written",
       "\r\nName-Signer: Clerk \r\n\r\nHash-Value: " + fake_digest_text("alpha") +
           "\r\nName-Attachment: a.txt\r\nSigner-Type-Address: ex\r\nSigner-Address: x\r\n"
           "Length-Sign: 2\r\nSign:\r\nOK",
       {}},
      {"signature claims more than it holds",
       "Name-Signer:C\r\nHash-Value:" + fake_digest_text("alpha") +
           "\r\nName-Attachment:a.txt\r\nLength-Sign:99\r\nSign:\r\nOK",
       {{3, OXT_EV_SIGN_LIST_FIELD, {"Sign"}}, summary("seek_string_mask", "create_sign_struct")}},
      {"missing key",
       "Name-Signer:C\r\nName-Attachment:a.txt\r\nLength-Sign:2\r\nSign:\r\nOK",
       {{3, OXT_EV_SIGN_LIST_FIELD, {"Hash-Value"}},
        summary("seek_string_upto_mask", "create_sign_struct")}},
  };
  for (const Row &row : rows) {
    host().events.clear();
    const int32_t want = row.events.empty() ? 0 : -1;
    EXPECT_EQ(check({{"a.txt", "alpha"}}, row.list), want) << row.name;
    EXPECT_EQ(host().events, row.events) << row.name;
  }
  for (CCA_CONTEXT seen : host().crypto_handles) EXPECT_EQ(seen, handle_);
}

TEST_F(CheckSigned, EveryFileNeedsItsEntry) {
  const std::string list = list_of({{"C", "b.txt", "beta", "OK"}, {"C", "a.txt", "alpha", "OK"}});
  EXPECT_EQ(check({{"a.txt", "alpha"}, {"b.txt", "beta"}}, list), 0);  // any order
  EXPECT_EQ(check({{"a.txt", "alpha"}, {"b.txt", "beta"}}, list_of({{"C", "a.txt", "alpha", "OK"},
                                                                    {"D", "a.txt", "alpha", "OK"},
                                                                    {"C", "b.txt", "beta", "OK"}})),
            -1);  // only as many entries as files are read
  EXPECT_EQ(host().events.back(), summary("stricmp(hash_str, s[j].Hash)", "check_signed_files"));
  host().events.clear();
  EXPECT_EQ(check({}, "x"), -1);
  EXPECT_EQ(host().events, (Events{{3, OXT_EV_TOO_FEW_FILES, {"1"}},
                                   summary("(NumberFile <= 1)", "check_signed_files")}));
  host().events.clear();
  EXPECT_EQ(check({{"a.txt", "alpha"}}, list, "list.txt"), -1);
  EXPECT_EQ(host().events[0].code, OXT_EV_NO_SIGN_LIST);
  EXPECT_EQ(check({{"a.txt", "alpha"}}, list_of({{"C", "a.txt", "alpha", "OK"}}),
                  "\xFD\xF6\xEF.CRS"),  // эцп.CRS
            0);
}

TEST_F(CheckSigned, ArchivesSignaturesUnderFreeNames) {
  TempDir archive;
  test_os().fixed_time = os::LocalTime{2024, 3, 5, 14, 30, 9, 0};
  host().set_dword(kHostKey, "ArchiveFlags", 1);
  host().set_string(kHostKey, "ArchivePathOut", archive.path());
  host().set_dword(kHostKey, "ArchiveOutSort", 2);
  make_dir(archive.posix("202403"));
  write_file(archive.posix("202403/report.txt"), "already there");
  const std::string list =
      list_of({{"Clerk", "report.txt", "r", "OK"}, {"A:B?", "x:y?.txt", "q", "OK"}});
  EXPECT_EQ(check({{"report.txt", "r"}, {"x:y?.txt", "q"}}, list), 0);
  EXPECT_EQ(check({{"report.txt", "r"}, {"x:y?.txt", "q"}}, list), 0);
  EXPECT_EQ(tree(archive.path()),
            (std::map<std::string, std::string>{{"202403/", ""},
                                                {"202403/report.txt", "already there"},
                                                {"202403/report~1.txt.Clerk.sgn", "OK"},
                                                {"202403/report~1.txt.Clerk~1.sgn", "OK"},
                                                {"202403/x_y_.txt.A_B_.sgn", "OK"},
                                                {"202403/x_y_.txt.A_B_~1.sgn", "OK"}}));

  host().set_dword(kHostKey, "ArchiveOutSort", 4);
  TempDir flat;
  host().set_string(kHostKey, "ArchivePathOut", flat.path() + "\\");
  EXPECT_EQ(check({{"report.txt", "r"}}, list_of({{"Clerk", "report.txt", "r", "OK"}})), 0);
  EXPECT_EQ(names_in(flat.path()), (std::vector<std::string>{"report.txt.Clerk.sgn"}));

  host().set_dword(kHostKey, "ArchiveOutSort", 1);
  host().set_string(kHostKey, "ArchivePathOut", flat.posix("no/such"));
  host().events.clear();
  EXPECT_EQ(check({{"report.txt", "r"}}, list_of({{"Clerk", "report.txt", "r", "OK"}})), -1);
  EXPECT_EQ(host().events.back(), summary("CreateDirectory", "check_signed_files"));
}

}  // namespace
}  // namespace zz::test
