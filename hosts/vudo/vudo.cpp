// vudo.cpp - the eight functions the module imports and the host's setup,
// over OpenSSL 3's libcrypto. Signatures are detached CMS (PKCS #7) signed
// data, DER or PEM. Verdicts of CCA_check_mem_sep: 0 valid, 1 the signature
// does not match the data, 2 the signer's certificate is not the one given,
// 3 the certificate does not lead to a trusted CA, 4 anything else (expired,
// not yet valid, revoked, not for signing). Blocks handed out are malloc'd.
#include "vudo/vudo.h"

// pem.h before cms.h: cms.h declares its PEM readers only after it.
#include <openssl/pem.h>
//
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "vudo/cert_store.h"
#include "vudo/settings.h"
#include "zozerez_host.h"

#define VUDO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using zz::vudo::note;
using zz::vudo::note_openssl;
using zz::vudo::SignerId;

constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = 1;
using zz::vudo::kNoCertificate;
using zz::vudo::kNotCorrect;
using zz::vudo::kOther;
using zz::vudo::kValid;
// Search modes of CCA_find_cert_by_serial.
constexpr uint32_t kDirectoryOnly = 1, kDirectoryThenCarried = 3;
constexpr uint32_t kTypeExchange = 0;  // "EX": an address no certificate carries

struct CmsFree {
  void operator()(CMS_ContentInfo *c) const { CMS_ContentInfo_free(c); }
};
using Cms = std::unique_ptr<CMS_ContentInfo, CmsFree>;

// The signature the calling thread's CCA_sender_signed_data read last: the
// module's next call, CCA_check_mem_sep, is for the same signature, which is
// then not parsed again.
struct LastSignature {
  std::string bytes;
  Cms cms;
};
thread_local LastSignature t_last;

bool same_bytes(const CCA_BUFFER *sign, const std::string &bytes) {
  return sign->Length == bytes.size() && std::memcmp(sign->Data, bytes.data(), bytes.size()) == 0;
}

// read_signature - the CMS signed data of a detached signature, DER or PEM
Cms read_signature(const CCA_BUFFER *sign) {
  if (sign == nullptr || sign->Data == nullptr || sign->Length == 0) {
    note("no signature");
    return nullptr;
  }
  if (t_last.cms && same_bytes(sign, t_last.bytes)) {
    t_last.bytes.clear();
    return std::move(t_last.cms);
  }
  BIO *bio = BIO_new_mem_buf(sign->Data, static_cast<int>(sign->Length));
  const bool pem = sign->Length > 10 && std::memcmp(sign->Data, "-----BEGIN", 10) == 0;
  Cms cms(pem ? PEM_read_bio_CMS(bio, nullptr, nullptr, nullptr) : d2i_CMS_bio(bio, nullptr));
  BIO_free(bio);
  if (!cms) {
    note_openssl("not a CMS signature");
  } else if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    note("not CMS signed data");
    cms.reset();
  }
  return cms;
}

const char *verdict_text(uint32_t status) {
  switch (status) {
    case kValid:
      return "valid";
    case kNotCorrect:
      return "the signature does not match the data";
    case kNoCertificate:
      return "the signer's certificate is not the one given";
    default:
      return "the certificate is not trusted";
  }
}

}  // namespace

VUDO_EXPORT uint32_t vudo_configure(const char *cert_dir, const char *ca_dir, const char *digest) {
  zz::vudo::Settings s = zz::vudo::settings();
  if (cert_dir != nullptr) s.cert_dir = cert_dir;
  if (ca_dir != nullptr) s.ca_dir = ca_dir;
  s.digest = digest != nullptr && *digest != '\0' ? digest : "SHA256";
  if (zz::vudo::digest_of(s.digest) == nullptr) {
    note_openssl("the digest \"" + s.digest + "\" is not known to OpenSSL");
    return kFailed;
  }
  zz::vudo::set_settings(s);
  return kOk;
}

VUDO_EXPORT void vudo_last_reason(char *text, uint32_t size) {
  if (text == nullptr || size == 0) return;
  std::snprintf(text, size, "%s", zz::vudo::reason().c_str());
}

VUDO_EXPORT uint32_t CCA_hash_mem(CCA_CONTEXT, const CCA_BUFFER *data, CCA_BUFFER *digest) {
  if (data == nullptr || digest == nullptr || (data->Data == nullptr && data->Length != 0)) {
    note("no data to digest");
    return kFailed;
  }
  const std::string name = zz::vudo::settings().digest;
  const EVP_MD *md = zz::vudo::digest_of(name);
  auto *out = static_cast<uint8_t *>(std::malloc(EVP_MAX_MD_SIZE + 8));
  unsigned int length = 0;
  const bool done = md != nullptr && out != nullptr &&
                    EVP_Digest(data->Data, data->Length, out, &length, md, nullptr) == 1;
  if (!done) {
    std::free(out);
    note_openssl("cannot make a " + name + " digest");
    return kFailed;
  }
  digest->Data = out;
  digest->Length = length;
  return kOk;
}

VUDO_EXPORT void CCA_free(CCA_CONTEXT, void *block) {
  std::free(block);
}

VUDO_EXPORT uint32_t CCA_sender_signed_data(CCA_CONTEXT, const CCA_BUFFER *sign, void **serial,
                                            uint32_t *signer_count) {
  if (serial == nullptr) return kFailed;
  *serial = nullptr;
  Cms cms = read_signature(sign);
  if (!cms) return kFailed;
  STACK_OF(CMS_SignerInfo) *signers = CMS_get0_SignerInfos(cms.get());
  if (sk_CMS_SignerInfo_num(signers) < 1) {
    note("the signature names no signer");
    return kFailed;
  }
  ASN1_OCTET_STRING *key_id = nullptr;
  X509_NAME *issuer = nullptr;
  ASN1_INTEGER *number = nullptr;
  CMS_SignerInfo_get0_signer_id(sk_CMS_SignerInfo_value(signers, 0), &key_id, &issuer, &number);
  auto id = std::make_unique<SignerId>();
  id->key_id = key_id != nullptr ? ASN1_OCTET_STRING_dup(key_id) : nullptr;
  id->issuer = issuer != nullptr ? X509_NAME_dup(issuer) : nullptr;
  id->serial = number != nullptr ? ASN1_INTEGER_dup(number) : nullptr;
  id->carried = CMS_get1_certs(cms.get());
  if (signer_count != nullptr)
    *signer_count = static_cast<uint32_t>(sk_CMS_SignerInfo_num(signers));
  *serial = id.release();
  t_last.bytes.assign(reinterpret_cast<const char *>(sign->Data), sign->Length);
  t_last.cms = std::move(cms);
  return kOk;
}

VUDO_EXPORT void CCA_serial_free(CCA_CONTEXT, void *serial) {
  delete static_cast<SignerId *>(serial);
}

// Mode 1 looks in the certificate directory only; mode 3 also takes a
// certificate the signature carries. With an SMTP address given, the
// certificate must name it; an EX address is not compared.
VUDO_EXPORT uint32_t CCA_find_cert_by_serial(CCA_CONTEXT, uint32_t mode, void *serial, void **cert,
                                             uint32_t type_address, const char *address) {
  if (cert == nullptr) return kFailed;
  *cert = nullptr;
  const auto *id = static_cast<const SignerId *>(serial);
  if (id == nullptr || (mode != kDirectoryOnly && mode != kDirectoryThenCarried)) {
    note("no signer or an unknown search mode " + std::to_string(mode));
    return kFailed;
  }
  X509 *found = zz::vudo::find_in_directory(zz::vudo::settings().cert_dir, *id);
  for (int i = 0; found == nullptr && mode == kDirectoryThenCarried && i < sk_X509_num(id->carried);
       ++i) {
    X509 *c = sk_X509_value(id->carried, i);
    if (zz::vudo::matches(*id, c) && X509_up_ref(c) == 1) found = c;
  }
  if (found == nullptr) {
    note("the signer's certificate is not in \"" + zz::vudo::settings().cert_dir + "\"");
    return kFailed;
  }
  if (type_address != kTypeExchange && address != nullptr && *address != '\0' &&
      !zz::vudo::has_address(found, address)) {
    note(std::string("the signer's certificate does not name ") + address);
    X509_free(found);
    return kFailed;
  }
  *cert = found;
  return kOk;
}

VUDO_EXPORT void CCA_cert_free(CCA_CONTEXT, void *cert) {
  X509_free(static_cast<X509 *>(cert));
}

VUDO_EXPORT uint32_t CCA_check_mem_sep(CCA_CONTEXT, const CCA_BUFFER *data, const CCA_BUFFER *sign,
                                       void *cert, CCA_CHECK *check) {
  if (check == nullptr || data == nullptr) return kFailed;
  check->Status = kOther;
  check->Cert = nullptr;
  Cms cms = read_signature(sign);
  if (!cms) return kFailed;
  auto *signer = static_cast<X509 *>(cert);
  if (signer == nullptr) {
    check->Status = kNoCertificate;
    note(verdict_text(kNoCertificate));
    return kOk;
  }
  // The signature over the data first, by the given certificate alone.
  STACK_OF(X509) *given = sk_X509_new_null();
  sk_X509_push(given, signer);
  BIO *content = BIO_new_mem_buf(data->Data, static_cast<int>(data->Length));
  const int verified = CMS_verify(cms.get(), given, nullptr, content, nullptr,
                                  CMS_NO_SIGNER_CERT_VERIFY | CMS_NOINTERN | CMS_BINARY);
  const unsigned long error = verified == 1 ? 0 : ERR_peek_last_error();
  BIO_free(content);
  sk_X509_free(given);
  if (verified != 1) {
    check->Status =
        ERR_GET_REASON(error) == CMS_R_SIGNER_CERTIFICATE_NOT_FOUND ? kNoCertificate : kNotCorrect;
    note_openssl(verdict_text(check->Status));
    return kOk;
  }
  // Then the certificate: a chain to a trusted CA, valid now, not revoked.
  STACK_OF(X509) *carried = CMS_get1_certs(cms.get());
  check->Status = zz::vudo::chain_verdict(signer, carried);
  sk_X509_pop_free(carried, X509_free);
  if (check->Status == kValid) note(verdict_text(kValid));
  if (X509_up_ref(signer) == 1) check->Cert = signer;
  return kOk;
}

VUDO_EXPORT uint32_t CCA_get_random(CCA_CONTEXT, uint32_t length, uint8_t *out) {
  if (out == nullptr && length != 0) return kFailed;
  if (length != 0 && RAND_bytes(out, static_cast<int>(length)) != 1) {
    note_openssl("no random bytes");
    return kFailed;
  }
  return kOk;
}
