// signature_bench.cpp - signature checks per second: a send directory of 100
// files of 64 KiB, one RSA-2048 detached signature each, checked the way the
// module checks them through vudo (digest, signer, certificate, verdict),
// beside the floor: OpenSSL's own CMS verification with the trusted store and
// the digest, called directly. Module and floor take turns in one run.
#include <openssl/pem.h>
//
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "vudo/vudo.h"
#include "zozerez_host.h"

namespace {

constexpr int kFiles = 100;
constexpr size_t kFileSize = 64 * 1024;
constexpr int kRounds = 5;

CCA_BUFFER buffer(const std::string &bytes) {
  return CCA_BUFFER{reinterpret_cast<uint8_t *>(const_cast<char *>(bytes.data())),
                    static_cast<uint32_t>(bytes.size())};
}

// module_check - what the module's signature check asks of vudo for one file
bool module_check(const std::string &data, const std::string &sig) {
  CCA_BUFFER d = buffer(data), s = buffer(sig), digest{};
  if (CCA_hash_mem(nullptr, &d, &digest) != 0) return false;
  CCA_free(nullptr, digest.Data);
  void *serial = nullptr, *cert = nullptr;
  if (CCA_sender_signed_data(nullptr, &s, &serial, nullptr) != 0) return false;
  const uint32_t found = CCA_find_cert_by_serial(nullptr, 1, serial, &cert, 1, nullptr);
  CCA_serial_free(nullptr, serial);
  if (found != 0) return false;
  CCA_CHECK check{};
  const bool ok = CCA_check_mem_sep(nullptr, &d, &s, cert, &check) == 0 && check.Status == 0;
  CCA_cert_free(nullptr, check.Cert);
  CCA_cert_free(nullptr, cert);
  return ok;
}

// floor_check - the digest and OpenSSL's verification, nothing else
bool floor_check(const std::string &data, const std::string &sig, X509_STORE *store) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), md, &length, EVP_sha256(), nullptr) != 1) return false;
  const auto *p = reinterpret_cast<const unsigned char *>(sig.data());
  CMS_ContentInfo *cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(sig.size()));
  BIO *content = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  const bool ok =
      cms != nullptr && CMS_verify(cms, nullptr, store, content, nullptr, CMS_BINARY) == 1;
  BIO_free(content);
  CMS_ContentInfo_free(cms);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  zz::bench::Scratch scratch(zz::bench::base_directory(argc, argv, "[DIR]"));
  const std::string dir = scratch.path();
  const std::string cmd =
      "cd '" + dir +
      "' && mkdir certs trusted && "
      "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out trusted/ca.pem -subj /CN=CA "
      "-days 2 && openssl req -newkey rsa:2048 -nodes -keyout k.pem -out r.csr -subj /CN=Clerk && "
      "openssl x509 -req -in r.csr -CA trusted/ca.pem -CAkey ca.key -CAcreateserial -days 2 "
      "-out certs/c.pem && chmod 600 k.pem";
  if (std::system(("(" + cmd + ") >/dev/null 2>&1").c_str()) != 0) {
    std::fprintf(stderr, "signature_bench: the openssl command could not make the keys\n");
    return 1;
  }
  vudo_configure((dir + "/certs").c_str(), (dir + "/trusted").c_str(), "SHA256");
  vudo_signer *signer = vudo_signer_open((dir + "/k.pem").c_str(), (dir + "/certs/c.pem").c_str());
  std::vector<std::string> files(kFiles, std::string(kFileSize, '\0')), sigs(kFiles);
  for (int i = 0; i < kFiles; ++i) {
    RAND_bytes(reinterpret_cast<unsigned char *>(files[i].data()), static_cast<int>(kFileSize));
    CCA_BUFFER data = buffer(files[i]), sig{};
    if (signer == nullptr || vudo_sign(signer, &data, &sig) != 0) {
      std::fprintf(stderr, "signature_bench: cannot sign\n");
      return 1;
    }
    sigs[i].assign(reinterpret_cast<char *>(sig.Data), sig.Length);
    CCA_free(nullptr, sig.Data);
  }
  vudo_signer_close(signer);
  X509_STORE *store = X509_STORE_new();
  X509_STORE_load_file(store, (dir + "/trusted/ca.pem").c_str());

  double module_seconds = 0, floor_seconds = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFiles; ++i) {
      if (!module_check(files[i], sigs[i])) {
        std::fprintf(stderr, "signature_bench: vudo refused file %d\n", i);
        return 1;
      }
    }
    module_seconds += zz::bench::seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFiles; ++i) {
      if (!floor_check(files[i], sigs[i], store)) {
        std::fprintf(stderr, "signature_bench: OpenSSL refused file %d\n", i);
        return 1;
      }
    }
    floor_seconds += zz::bench::seconds_since(start);
  }
  X509_STORE_free(store);
  zz::bench::report("signature checks, 64 KiB files, RSA-2048", kFiles * kRounds, module_seconds,
                    floor_seconds, 1.2);
  return 0;
}
