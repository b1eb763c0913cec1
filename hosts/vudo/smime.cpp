// smime.cpp - S/MIME entities for the gateway's mail: signed as
// multipart/signed over the entity in MIME's canonical form (attachments
// travel base64, so their bytes are untouched), enveloped for the
// recipients' certificates in binary, and opened again on the receiving side.
#include <openssl/pem.h>
//
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

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

constexpr uint32_t kEncrypted = 1, kSigned = 2;

// hand_out - the memory BIO's bytes as a malloc'd block
uint32_t hand_out(BIO *bio, CCA_BUFFER *out) {
  char *data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  out->Data = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(length) + 8));
  if (out->Data == nullptr) return 1;
  std::memcpy(out->Data, data, static_cast<size_t>(length));
  out->Length = static_cast<uint32_t>(length);
  return 0;
}

BIO *reader(const CCA_BUFFER *b) {
  return BIO_new_mem_buf(b->Data, static_cast<int>(b->Length));
}

std::string common_name(X509 *cert) {
  char text[256] = "";
  X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, text, sizeof text);
  return text;
}

}  // namespace

VUDO_EXPORT uint32_t vudo_smime_sign(const vudo_signer *signer, const CCA_BUFFER *entity,
                                     CCA_BUFFER *out) {
  if (signer == nullptr || entity == nullptr || out == nullptr) return 1;
  // Streaming: the signature is made while the content is written out, in
  // MIME's canonical form (CR LF line ends), which is what a reader checks.
  constexpr unsigned kFlags = CMS_DETACHED | CMS_STREAM;
  CMS_ContentInfo *cms = CMS_sign(signer->cert, signer->key, nullptr, nullptr, kFlags);
  if (cms == nullptr) {
    note_openssl("cannot sign the message");
    return 1;
  }
  BIO *content = reader(entity);
  BIO *written = BIO_new(BIO_s_mem());
  const bool ok = SMIME_write_CMS(written, cms, content, kFlags) == 1;
  CMS_ContentInfo_free(cms);
  BIO_free(content);
  const uint32_t result = ok ? hand_out(written, out) : 1;
  if (!ok) note_openssl("cannot write the signed message");
  BIO_free(written);
  return result;
}

VUDO_EXPORT uint32_t vudo_smime_encrypt(const char *const *addresses, uint32_t count,
                                        const CCA_BUFFER *entity, CCA_BUFFER *out) {
  if (entity == nullptr || out == nullptr || count == 0) return 1;
  const std::string dir = zz::vudo::settings().cert_dir;
  const std::vector<X509 *> known = zz::vudo::certificates(dir);
  STACK_OF(X509) *recipients = sk_X509_new_null();
  std::string missing;
  for (uint32_t i = 0; i < count && missing.empty(); ++i) {
    X509 *found = nullptr;
    for (X509 *cert : known) {
      if (zz::vudo::has_address(cert, addresses[i])) found = cert;
    }
    if (found == nullptr)
      missing = addresses[i];
    else
      sk_X509_push(recipients, found);
  }
  uint32_t result = 1;
  if (!missing.empty()) {
    note("no certificate for " + missing + " in \"" + dir + "\"");
  } else {
    BIO *in = reader(entity);
    CMS_ContentInfo *cms = CMS_encrypt(recipients, in, EVP_aes_256_cbc(), CMS_BINARY);
    BIO_free(in);
    BIO *written = BIO_new(BIO_s_mem());
    if (cms != nullptr && SMIME_write_CMS(written, cms, nullptr, CMS_BINARY) == 1) {
      result = hand_out(written, out);
    } else {
      note_openssl("cannot encrypt the message");
    }
    BIO_free(written);
    CMS_ContentInfo_free(cms);
  }
  sk_X509_free(recipients);
  for (X509 *cert : known) X509_free(cert);
  return result;
}

VUDO_EXPORT uint32_t vudo_smime_open(const vudo_signer *own, const CCA_BUFFER *entity,
                                     uint32_t *flags, CCA_BUFFER *inner, CCA_BUFFER *signature,
                                     char *signer, uint32_t signer_size) {
  if (entity == nullptr || flags == nullptr || inner == nullptr || signature == nullptr) return 1;
  *flags = 0;
  *inner = CCA_BUFFER{};
  *signature = CCA_BUFFER{};
  if (signer != nullptr && signer_size != 0) *signer = '\0';
  std::string bytes(reinterpret_cast<const char *>(entity->Data), entity->Length);
  // Encrypted, then signed inside, or signed alone: at most two layers.
  for (int layer = 0; layer < 2; ++layer) {
    BIO *in = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    BIO *detached = nullptr;
    CMS_ContentInfo *cms = SMIME_read_CMS(in, &detached);
    BIO_free(in);
    if (cms == nullptr) {
      if (layer == 0) {
        note_openssl("not an S/MIME message");
        return 1;
      }
      break;  // the content under the envelope is plain
    }
    const int type = OBJ_obj2nid(CMS_get0_type(cms));
    BIO *out = BIO_new(BIO_s_mem());
    bool opened = false;
    if (type == NID_pkcs7_enveloped && (*flags & kEncrypted) == 0) {
      opened =
          own != nullptr && CMS_decrypt(cms, own->key, own->cert, nullptr, out, CMS_BINARY) == 1;
      if (!opened) note_openssl("cannot decrypt: not for this gateway's key");
      *flags |= kEncrypted;
    } else if (type == NID_pkcs7_signed && (*flags & kSigned) == 0) {
      bool crls = false;
      X509_STORE *store = zz::vudo::trust_store(zz::vudo::settings().ca_dir, &crls);
      opened = store != nullptr && CMS_verify(cms, nullptr, store, detached, out, 0) == 1;
      if (!opened) note_openssl("the signature does not verify");
      X509_STORE_free(store);
      if (opened) {
        STACK_OF(X509) *signers = CMS_get0_signers(cms);
        if (signer != nullptr && sk_X509_num(signers) > 0) {
          std::snprintf(signer, signer_size, "%s", common_name(sk_X509_value(signers, 0)).c_str());
        }
        sk_X509_free(signers);
        unsigned char *der = nullptr;
        const int length = i2d_CMS_ContentInfo(cms, &der);
        if (length > 0) {
          signature->Data = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(length) + 8));
          if (signature->Data != nullptr)
            std::memcpy(signature->Data, der, static_cast<size_t>(length));
          signature->Length = signature->Data != nullptr ? static_cast<uint32_t>(length) : 0;
        }
        OPENSSL_free(der);
      }
      *flags |= kSigned;
    } else {
      note("an S/MIME layer of an unexpected kind");
    }
    CMS_ContentInfo_free(cms);
    BIO_free(detached);
    if (!opened) {
      BIO_free(out);
      std::free(signature->Data);
      *signature = CCA_BUFFER{};
      return 1;
    }
    char *data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    bytes.assign(data, static_cast<size_t>(length));
    BIO_free(out);
  }
  ERR_clear_error();
  inner->Data = static_cast<uint8_t *>(std::malloc(bytes.size() + 8));
  if (inner->Data == nullptr) return 1;
  std::memcpy(inner->Data, bytes.data(), bytes.size());
  inner->Length = static_cast<uint32_t>(bytes.size());
  return 0;
}
