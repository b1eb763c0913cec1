// signer.cpp - the host's own signing and the listing of the certificate
// directory: what the gateway's sign and certs commands are made of. A key
// file that others may read is refused before it is opened for reading.
#include <openssl/pem.h>
//
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vudo/cert_store.h"
#include "vudo/settings.h"
#include "vudo/signer.h"
#include "vudo/vudo.h"

#define VUDO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using zz::vudo::note;
using zz::vudo::note_openssl;

// private_enough - the key file is a plain file only its owner may read or write
bool private_enough(const char *path) {
  struct stat st;
  if (::lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
    note(std::string("the key file \"") + path + "\" is missing or not a plain file");
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    note(std::string("the key file \"") + path + "\" may be read by others (mode " + mode +
         "); make it 0600");
    return false;
  }
  return true;
}

std::string text_of(const ASN1_TIME *time) {
  BIO *bio = BIO_new(BIO_s_mem());
  ASN1_TIME_print(bio, time);
  char *data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<size_t>(length));
  BIO_free(bio);
  return text;
}

std::string first_email(X509 *cert) {
  STACK_OF(OPENSSL_STRING) *emails = X509_get1_email(cert);
  std::string email = sk_OPENSSL_STRING_num(emails) > 0 ? sk_OPENSSL_STRING_value(emails, 0) : "";
  X509_email_free(emails);
  return email;
}

}  // namespace

VUDO_EXPORT vudo_signer *vudo_signer_open(const char *key_file, const char *cert_file) {
  if (key_file == nullptr || cert_file == nullptr || !private_enough(key_file)) return nullptr;
  auto signer = new vudo_signer;
  BIO *key = BIO_new_file(key_file, "r");
  BIO *cert = BIO_new_file(cert_file, "r");
  if (key != nullptr) signer->key = PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr);
  if (cert != nullptr) signer->cert = PEM_read_bio_X509(cert, nullptr, nullptr, nullptr);
  BIO_free(key);
  BIO_free(cert);
  if (signer->key == nullptr || signer->cert == nullptr) {
    note_openssl(signer->key == nullptr
                     ? std::string("cannot read the key \"") + key_file + "\""
                     : std::string("cannot read the certificate \"") + cert_file + "\"");
    delete signer;
    return nullptr;
  }
  if (X509_check_private_key(signer->cert, signer->key) != 1) {
    note_openssl(std::string("the key \"") + key_file + "\" is not the certificate's");
    delete signer;
    return nullptr;
  }
  return signer;
}

VUDO_EXPORT void vudo_signer_close(vudo_signer *signer) {
  delete signer;
}

VUDO_EXPORT void vudo_signer_name(const vudo_signer *signer, char *name, uint32_t name_size,
                                  char *email, uint32_t email_size) {
  std::string cn;
  if (signer != nullptr) {
    char text[256] = "";
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(signer->cert), NID_commonName, text,
                                  sizeof text) > 0) {
      cn = text;
    }
  }
  if (name != nullptr && name_size != 0) std::snprintf(name, name_size, "%s", cn.c_str());
  if (email != nullptr && email_size != 0) {
    std::snprintf(email, email_size, "%s",
                  signer != nullptr ? first_email(signer->cert).c_str() : "");
  }
}

VUDO_EXPORT uint32_t vudo_sign(const vudo_signer *signer, const CCA_BUFFER *data,
                               CCA_BUFFER *signature) {
  if (signer == nullptr || data == nullptr || signature == nullptr) return 1;
  BIO *in = BIO_new_mem_buf(data->Data, static_cast<int>(data->Length));
  CMS_ContentInfo *cms =
      CMS_sign(signer->cert, signer->key, nullptr, in, CMS_DETACHED | CMS_BINARY);
  BIO_free(in);
  if (cms == nullptr) {
    note_openssl("cannot sign");
    return 1;
  }
  unsigned char *der = nullptr;
  const int length = i2d_CMS_ContentInfo(cms, &der);
  CMS_ContentInfo_free(cms);
  if (length <= 0) {
    note_openssl("cannot encode the signature");
    return 1;
  }
  signature->Data = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(length) + 8));
  if (signature->Data == nullptr) {
    OPENSSL_free(der);
    return 1;
  }
  std::memcpy(signature->Data, der, static_cast<size_t>(length));
  signature->Length = static_cast<uint32_t>(length);
  OPENSSL_free(der);
  return 0;
}

VUDO_EXPORT uint32_t vudo_each_certificate(vudo_certificate_visitor visit, void *user) {
  const zz::vudo::Settings s = zz::vudo::settings();
  struct stat st;
  if (::stat(s.cert_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    note("the certificate directory \"" + s.cert_dir + "\" cannot be read");
    return 1;
  }
  for (X509 *cert : zz::vudo::certificates(s.cert_dir)) {
    char *subject = X509_NAME_oneline(X509_get_subject_name(cert), nullptr, 0);
    BIGNUM *number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr);
    char *serial = BN_bn2hex(number);
    const bool trusted = zz::vudo::chain_verdict(cert, nullptr) == zz::vudo::kValid;
    if (visit != nullptr) {
      visit(user, subject, first_email(cert).c_str(), serial,
            text_of(X509_get0_notAfter(cert)).c_str(), trusted ? 1 : 0);
    }
    OPENSSL_free(serial);
    BN_free(number);
    OPENSSL_free(subject);
    X509_free(cert);
  }
  return 0;
}
