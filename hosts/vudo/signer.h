// signer.h - the host's own key and certificate behind a vudo_signer handle,
// shared by signing and by the S/MIME calls.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

struct vudo_signer {
  EVP_PKEY *key = nullptr;
  X509 *cert = nullptr;
  ~vudo_signer() {
    EVP_PKEY_free(key);
    X509_free(cert);
  }
};
