// vudo_test.cpp - the real vudo over OpenSSL, with a small CA, signers and
// signatures made by the openssl command line in a temporary directory:
// digests, random bytes, signers found by serial and address, and every
// verdict a detached signature can get.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"
#include "vudo/vudo.h"
#include "zozerez_host.h"

namespace zz::test {
namespace {

// The tree every test shares: made once, read only.
struct Pki {
  TempDir dir;
  std::string at(const std::string &name) const { return dir.posix(name); }
};
Pki *g_pki = nullptr;

void sh(const std::string &command) {
  ASSERT_EQ(
      std::system(("cd '" + g_pki->at("") + "' && (" + command + ") >/dev/null 2>&1").c_str()), 0)
      << command;
}

std::string bytes_of(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

CCA_BUFFER buffer(const std::string &bytes) {
  return CCA_BUFFER{reinterpret_cast<uint8_t *>(const_cast<char *>(bytes.data())),
                    static_cast<uint32_t>(bytes.size())};
}

std::string last_reason() {
  char text[512];
  vudo_last_reason(text, sizeof text);
  return text;
}

class Vudo : public testing::Test {
 public:
  static void SetUpTestSuite() {
    g_pki = new Pki;
    write_file(g_pki->at("ca.cnf"),
               "[ca]\ndefault_ca=own\n[own]\ndir=.\ndatabase=index.txt\nnew_certs_dir=issued\n"
               "serial=serial\ndefault_md=sha256\npolicy=any\ncopy_extensions=copy\n"
               "default_crl_days=30\nunique_subject=no\n[any]\ncommonName=supplied\n"
               "emailAddress=optional\n");
    write_file(g_pki->at("index.txt"), "");
    write_file(g_pki->at("serial"), "1000\n");
    for (const char *d : {"certs", "trusted", "issued", "other"}) make_dir(g_pki->at(d));
    sh("openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out trusted/ca.pem "
       "-subj /CN=Zozerez-Test-CA -days 3650");
    sh("openssl req -x509 -newkey rsa:2048 -nodes -keyout rogue.key -out other/rogue.pem "
       "-subj /CN=Rogue-CA -days 3650");
    // signer NAME CA_CERT CA_KEY [dates]: a key and a certificate naming NAME@bank.example
    auto signer = [](const std::string &name, const std::string &ca, const std::string &key,
                     const std::string &dates) {
      sh("openssl req -newkey rsa:2048 -nodes -keyout " + name + ".key -out " + name +
         ".csr -subj /CN=" + name + " -addext subjectAltName=email:" + name + "@bank.example");
      sh("openssl ca -batch -config ca.cnf -notext -cert " + ca + " -keyfile " + key + " " + dates +
         " -in " + name + ".csr -out certs/" + name + ".pem");
    };
    signer("clerk", "trusted/ca.pem", "ca.key", "-days 365");
    signer("old", "trusted/ca.pem", "ca.key",
           "-startdate 20200101000000Z -enddate 20210101000000Z");
    signer("fired", "trusted/ca.pem", "ca.key", "-days 365");
    signer("stranger", "other/rogue.pem", "rogue.key", "-days 365");
    sh("openssl ca -batch -config ca.cnf -cert trusted/ca.pem -keyfile ca.key -revoke "
       "certs/fired.pem"
       " && openssl ca -batch -config ca.cnf -cert trusted/ca.pem -keyfile ca.key -gencrl "
       "-out trusted/ca.crl");
    write_file(g_pki->at("data.txt"), "the statement of account\n");
    for (const char *name : {"clerk", "old", "fired", "stranger"}) {
      sh(std::string("openssl cms -sign -binary -in data.txt -signer certs/") + name +
         ".pem -inkey " + name + ".key -outform DER -out " + name + ".sig");
    }
    sh("openssl cms -sign -binary -in data.txt -signer certs/clerk.pem -inkey clerk.key "
       "-outform PEM -out clerk.pem.sig");
    // The stranger's certificate is known but its CA is not trusted; the
    // rogue directory holds no signer.
    ASSERT_EQ(vudo_configure(g_pki->at("certs").c_str(), g_pki->at("trusted").c_str(), nullptr),
              0u);
  }
  static void TearDownTestSuite() {
    delete g_pki;
    g_pki = nullptr;
  }
  void SetUp() override {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl command";
  }
};

TEST_F(Vudo, DigestsAndRandomBytes) {
  const std::string abc = "abc";
  CCA_BUFFER data = buffer(abc), digest{};
  ASSERT_EQ(CCA_hash_mem(nullptr, &data, &digest), 0u);
  ASSERT_EQ(digest.Length, 32u);
  EXPECT_EQ(digest.Data[0], 0xBA);  // SHA-256 of "abc": ba7816bf...
  EXPECT_EQ(digest.Data[31], 0xAD);
  CCA_free(nullptr, digest.Data);

  EXPECT_NE(vudo_configure(nullptr, nullptr, "no-such-digest"), 0u);
  EXPECT_NE(last_reason().find("no-such-digest"), std::string::npos);
  ASSERT_EQ(vudo_configure(nullptr, nullptr, "SHA512"), 0u);
  ASSERT_EQ(CCA_hash_mem(nullptr, &data, &digest), 0u);
  EXPECT_EQ(digest.Length, 64u);
  CCA_free(nullptr, digest.Data);
  ASSERT_EQ(vudo_configure(nullptr, nullptr, ""), 0u);

  uint8_t a[32] = {}, b[32] = {};
  ASSERT_EQ(CCA_get_random(nullptr, sizeof a, a), 0u);
  ASSERT_EQ(CCA_get_random(nullptr, sizeof b, b), 0u);
  EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
}

// verdict - the module's sequence for one signature: serial, certificate, check
struct Verdict {
  uint32_t serial = 1, find = 1, check = 1, status = 99;
  uint32_t signers = 0;
};
Verdict verdict_of(const std::string &sig, const std::string &data, uint32_t mode = 1,
                   uint32_t type = 1, const char *address = nullptr) {
  Verdict v;
  const std::string sign = bytes_of(g_pki->at(sig));
  CCA_BUFFER s = buffer(sign), d = buffer(data);
  void *serial = nullptr;
  v.serial = CCA_sender_signed_data(nullptr, &s, &serial, &v.signers);
  void *cert = nullptr;
  if (v.serial == 0) v.find = CCA_find_cert_by_serial(nullptr, mode, serial, &cert, type, address);
  CCA_serial_free(nullptr, serial);
  CCA_CHECK check{};
  v.check = CCA_check_mem_sep(nullptr, &d, &s, cert, &check);
  v.status = check.Status;
  CCA_cert_free(nullptr, check.Cert);
  CCA_cert_free(nullptr, cert);
  return v;
}

TEST_F(Vudo, Verdicts) {
  const std::string data = bytes_of(g_pki->at("data.txt"));
  write_file(g_pki->at("garbage.sig"), "not a signature at all");
  struct Row {
    const char *name, *sig;
    std::string data;
    uint32_t mode, type;
    const char *address;
    Verdict want;
  } rows[] = {
      {"a good signature", "clerk.sig", data, 1, 1, nullptr, {0, 0, 0, 0, 1}},
      {"PEM reads as DER", "clerk.pem.sig", data, 1, 1, nullptr, {0, 0, 0, 0, 1}},
      {"the signer's own address", "clerk.sig", data, 1, 1, "CLERK@bank.example", {0, 0, 0, 0, 1}},
      {"an EX address is not compared", "clerk.sig", data, 1, 0, "/o=bank/cn=x", {0, 0, 0, 0, 1}},
      {"another address", "clerk.sig", data, 1, 1, "boss@bank.example", {0, 1, 0, 2, 1}},
      {"tampered data", "clerk.sig", data + "!", 1, 1, nullptr, {0, 0, 0, 1, 1}},
      {"an expired certificate", "old.sig", data, 1, 1, nullptr, {0, 0, 0, 4, 1}},
      {"a revoked certificate", "fired.sig", data, 1, 1, nullptr, {0, 0, 0, 4, 1}},
      {"an untrusted CA", "stranger.sig", data, 1, 1, nullptr, {0, 0, 0, 3, 1}},
      {"garbage", "garbage.sig", data, 1, 1, nullptr, {1, 1, 1, 99, 0}},
  };
  for (const Row &row : rows) {
    const Verdict v = verdict_of(row.sig, row.data, row.mode, row.type, row.address);
    EXPECT_EQ(v.serial, row.want.serial) << row.name;
    EXPECT_EQ(v.find, row.want.find) << row.name << ": " << last_reason();
    EXPECT_EQ(v.check, row.want.check) << row.name;
    if (row.want.check == 0) {
      EXPECT_EQ(v.status, row.want.status) << row.name << ": " << last_reason();
    }
    EXPECT_EQ(v.signers, row.want.signers) << row.name;
  }
}

TEST_F(Vudo, CertificatesOutsideTheDirectory) {
  const std::string data = bytes_of(g_pki->at("data.txt"));
  // Without the signer in the certificate directory mode 1 finds nothing;
  // mode 3 takes the certificate the signature carries.
  ASSERT_EQ(vudo_configure(g_pki->at("other").c_str(), nullptr, nullptr), 0u);
  EXPECT_EQ(verdict_of("clerk.sig", data, 1).find, 1u);
  const Verdict carried = verdict_of("clerk.sig", data, 3);
  EXPECT_EQ(carried.find, 0u);
  EXPECT_EQ(carried.status, 0u);
  EXPECT_EQ(verdict_of("clerk.sig", data, 2).find, 1u);  // no such mode
  // A missing trusted directory trusts nothing.
  ASSERT_EQ(vudo_configure(g_pki->at("certs").c_str(), g_pki->at("gone").c_str(), nullptr), 0u);
  EXPECT_EQ(verdict_of("clerk.sig", data).status, 3u);
  EXPECT_NE(last_reason().find("cannot be read"), std::string::npos);
  ASSERT_EQ(vudo_configure(g_pki->at("certs").c_str(), g_pki->at("trusted").c_str(), nullptr), 0u);

  // The wrong certificate for a signature: not the signer's.
  const std::string sign = bytes_of(g_pki->at("clerk.sig"));
  const std::string other = bytes_of(g_pki->at("stranger.sig"));
  CCA_BUFFER s = buffer(sign), o = buffer(other), d = buffer(data);
  void *serial = nullptr;
  void *cert = nullptr;
  ASSERT_EQ(CCA_sender_signed_data(nullptr, &o, &serial, nullptr), 0u);
  ASSERT_EQ(CCA_find_cert_by_serial(nullptr, 1, serial, &cert, 1, nullptr), 0u);
  CCA_serial_free(nullptr, serial);
  CCA_CHECK check{};
  EXPECT_EQ(CCA_check_mem_sep(nullptr, &d, &s, cert, &check), 0u);
  EXPECT_EQ(check.Status, 2u);
  CCA_cert_free(nullptr, check.Cert);
  EXPECT_EQ(CCA_check_mem_sep(nullptr, &d, &s, nullptr, &check), 0u);
  EXPECT_EQ(check.Status, 2u);
  CCA_cert_free(nullptr, cert);
}

}  // namespace
}  // namespace zz::test
