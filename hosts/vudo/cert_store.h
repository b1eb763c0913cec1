// cert_store.h - the certificates of a directory: every PEM or DER file in
// it, read again when the directory changes. Signers are found in the
// certificate directory by issuer and serial number (or key identifier); the
// trusted CA directory, with its CRLs, becomes an X509_STORE.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zz::vudo {

// SignerId - who signed: issuer and serial, or a subject key identifier
struct SignerId {
  X509_NAME *issuer = nullptr;
  ASN1_INTEGER *serial = nullptr;
  ASN1_OCTET_STRING *key_id = nullptr;
  STACK_OF(X509) *carried = nullptr;  // certificates the signature carries
  ~SignerId();
};

// matches - whether `cert` is the signer's certificate
bool matches(const SignerId &id, X509 *cert);
// find_in_directory - a new reference to the signer's certificate; null when none
X509 *find_in_directory(const std::string &dir, const SignerId &id);
// trust_store - a reference to the store of the directory's certificates and
// CRLs (CRL checks on when it holds any, which `crls` tells); null when the
// directory cannot be read; released with X509_STORE_free
X509_STORE *trust_store(const std::string &dir, bool *crls);
// Verdicts of a signature, as the module reads them.
constexpr uint32_t kValid = 0, kNotCorrect = 1, kNoCertificate = 2, kUntrusted = 3, kOther = 4;

// chain_verdict - kValid when the certificate leads to a CA of the trusted
// directory for S/MIME signing, now and unrevoked; kUntrusted or kOther with
// the reason noted otherwise
uint32_t chain_verdict(X509 *cert, STACK_OF(X509) * carried);
// certificates - new references to every certificate of the directory
std::vector<X509 *> certificates(const std::string &dir);
// has_address - whether the certificate names this e-mail address (ASCII case ignored)
bool has_address(X509 *cert, const std::string &address);

}  // namespace zz::vudo
