// cert_store.cpp - directories are read whole and kept until their change
// time moves (a file added, removed or renamed; rewriting a file in place is
// not seen until then). Everything handed out is a new reference.
#include "vudo/cert_store.h"

#include "vudo/settings.h"

#include <dirent.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zz::vudo {
namespace {

struct Directory {
  long long stamp = -1;
  std::vector<X509 *> certs;
  std::vector<X509_CRL *> crls;
  X509_STORE *store = nullptr;  // made on first use as a trusted directory
  ~Directory() {
    for (X509 *c : certs) X509_free(c);
    for (X509_CRL *c : crls) X509_CRL_free(c);
    X509_STORE_free(store);
  }
};

std::mutex g_mutex;
// Never destroyed: OpenSSL cleans up at exit before static destructors would
// run, and certificates whose keys live in an engine cannot be freed then.
auto &g_directories = *new std::map<std::string, std::shared_ptr<Directory>>;

long long stamp_of(const std::string &dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
  return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// read_file - the certificates and CRLs of one file, PEM (any number) or DER (one)
void read_file(const std::string &path, Directory *out) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.find("-----BEGIN") != std::string::npos) {
    BIO *bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    STACK_OF(X509_INFO) *infos = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
    for (int i = 0; infos != nullptr && i < sk_X509_INFO_num(infos); ++i) {
      X509_INFO *info = sk_X509_INFO_value(infos, i);
      if (info->x509 != nullptr && X509_up_ref(info->x509) == 1) out->certs.push_back(info->x509);
      if (info->crl != nullptr && X509_CRL_up_ref(info->crl) == 1) out->crls.push_back(info->crl);
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    BIO_free(bio);
  } else {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    if (X509 *cert = d2i_X509(nullptr, &p, static_cast<long>(bytes.size()))) {
      out->certs.push_back(cert);
    } else {
      p = reinterpret_cast<const unsigned char *>(bytes.data());
      if (X509_CRL *crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(bytes.size()))) {
        out->crls.push_back(crl);
      }
    }
  }
  ERR_clear_error();
}

// directory - the directory's contents, read again when it changed; null when unreadable
std::shared_ptr<Directory> directory(const std::string &dir) {
  const long long stamp = stamp_of(dir);
  if (stamp < 0) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<Directory> &cached = g_directories[dir];
  if (cached && cached->stamp == stamp) return cached;
  auto fresh = std::make_shared<Directory>();
  fresh->stamp = stamp;
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) return nullptr;
  while (struct dirent *e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string path = dir + "/" + e->d_name;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) read_file(path, fresh.get());
  }
  ::closedir(d);
  cached = fresh;
  return cached;
}

bool same_ascii(std::string a, std::string b) {
  for (std::string *s : {&a, &b}) {
    for (char &c : *s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return a == b;
}

}  // namespace

SignerId::~SignerId() {
  X509_NAME_free(issuer);
  ASN1_INTEGER_free(serial);
  ASN1_OCTET_STRING_free(key_id);
  sk_X509_pop_free(carried, X509_free);
}

bool matches(const SignerId &id, X509 *cert) {
  if (id.key_id != nullptr) {
    const ASN1_OCTET_STRING *ski = X509_get0_subject_key_id(cert);
    return ski != nullptr && ASN1_OCTET_STRING_cmp(ski, id.key_id) == 0;
  }
  return id.issuer != nullptr && id.serial != nullptr &&
         X509_NAME_cmp(X509_get_issuer_name(cert), id.issuer) == 0 &&
         ASN1_INTEGER_cmp(X509_get0_serialNumber(cert), id.serial) == 0;
}

X509 *find_in_directory(const std::string &dir, const SignerId &id) {
  const std::shared_ptr<Directory> d = directory(dir);
  if (!d) return nullptr;
  for (X509 *cert : d->certs) {
    if (matches(id, cert)) {
      X509_up_ref(cert);
      return cert;
    }
  }
  return nullptr;
}

// One store per directory as read, shared by every check: OpenSSL locks a
// store itself while it verifies against it.
X509_STORE *trust_store(const std::string &dir, bool *crls) {
  const std::shared_ptr<Directory> d = directory(dir);
  if (!d) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (d->store == nullptr) {
    d->store = X509_STORE_new();
    for (X509 *cert : d->certs) X509_STORE_add_cert(d->store, cert);
    for (X509_CRL *crl : d->crls) X509_STORE_add_crl(d->store, crl);
    if (!d->crls.empty()) X509_STORE_set_flags(d->store, X509_V_FLAG_CRL_CHECK);
  }
  *crls = !d->crls.empty();
  X509_STORE_up_ref(d->store);
  return d->store;
}

// chain_verdict - whether the certificate leads to a trusted CA, now, unrevoked
uint32_t chain_verdict(X509 *cert, STACK_OF(X509) * carried) {
  bool crls = false;
  X509_STORE *store = trust_store(settings().ca_dir, &crls);
  if (store == nullptr) {
    note("the trusted CA directory \"" + settings().ca_dir + "\" cannot be read");
    return kUntrusted;
  }
  X509_STORE_CTX *ctx = X509_STORE_CTX_new();
  X509_STORE_CTX_init(ctx, store, cert, carried);
  X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SMIME_SIGN);
  const bool trusted = X509_verify_cert(ctx) == 1;
  const int error = X509_STORE_CTX_get_error(ctx);
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(store);
  ERR_clear_error();
  if (trusted) return kValid;
  note(X509_verify_cert_error_string(error));
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return kUntrusted;
    default:
      return kOther;
  }
}

std::vector<X509 *> certificates(const std::string &dir) {
  std::vector<X509 *> out;
  const std::shared_ptr<Directory> d = directory(dir);
  if (!d) return out;
  for (X509 *cert : d->certs) {
    if (X509_up_ref(cert) == 1) out.push_back(cert);
  }
  return out;
}

bool has_address(X509 *cert, const std::string &address) {
  bool found = false;
  STACK_OF(OPENSSL_STRING) *emails = X509_get1_email(cert);
  for (int i = 0; i < sk_OPENSSL_STRING_num(emails) && !found; ++i) {
    found = same_ascii(sk_OPENSSL_STRING_value(emails, i), address);
  }
  X509_email_free(emails);
  return found;
}

}  // namespace zz::vudo
