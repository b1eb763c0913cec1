// crypto.h - the module's calls into vudo. The host passes the address of
// its handle; every call site reads the handle from that address here, so
// that all paths reach the same context (a null address gives a null handle).
#pragma once

#include <cstdint>

#include "zozerez_host.h"

namespace zz::host {

inline CCA_CONTEXT crypto_handle(CCA_CONTEXT *address) {
  return address != nullptr ? *address : nullptr;
}

inline bool random_bytes(CCA_CONTEXT *crypto, uint32_t length, uint8_t *out) {
  return CCA_get_random(crypto_handle(crypto), length, out) == 0;
}

// Digest - a digest vudo handed out, released with CCA_free when it goes.
class Digest {
 public:
  explicit Digest(CCA_CONTEXT handle) : handle_(handle) {}
  ~Digest() {
    if (buffer_.Data != nullptr) CCA_free(handle_, buffer_.Data);
  }
  Digest(const Digest &) = delete;
  Digest &operator=(const Digest &) = delete;
  // compute - CCA_hash_mem over the bytes; false when it failed
  bool compute(const uint8_t *data, uint32_t length) {
    CCA_BUFFER in{const_cast<uint8_t *>(data), length};
    return CCA_hash_mem(handle_, &in, &buffer_) == 0;
  }
  const uint8_t *data() const { return buffer_.Data; }
  uint32_t length() const { return buffer_.Length; }

 private:
  CCA_CONTEXT handle_;
  CCA_BUFFER buffer_{};
};

// Verdict of one signature check, as CCA_check_mem_sep gives it.
enum class SignVerdict {
  kValid,
  kSignedDataFailed,
  kCertNotFound,
  kCheckFailed,
  kNotCorrect,
  kKeyNotFound,
  kOtherError
};

// verify_signature - serial from the signature, certificate by the serial,
// then the check; every vudo object is released before it returns
inline SignVerdict verify_signature(CCA_CONTEXT handle, const uint8_t *data, uint32_t length,
                                    const uint8_t *sign, uint32_t sign_length, uint32_t mode,
                                    uint32_t type_address, const char *address) {
  CCA_BUFFER signature{const_cast<uint8_t *>(sign), sign_length};
  void *serial = nullptr;
  uint32_t signers = 0;
  if (CCA_sender_signed_data(handle, &signature, &serial, &signers) != 0) {
    return SignVerdict::kSignedDataFailed;
  }
  void *cert = nullptr;
  const uint32_t found =
      CCA_find_cert_by_serial(handle, mode, serial, &cert, type_address, address);
  CCA_serial_free(handle, serial);
  if (found != 0) return SignVerdict::kCertNotFound;
  CCA_BUFFER content{const_cast<uint8_t *>(data), length};
  CCA_CHECK check{};
  const uint32_t checked = CCA_check_mem_sep(handle, &content, &signature, cert, &check);
  if (check.Cert != nullptr) CCA_cert_free(handle, check.Cert);
  CCA_cert_free(handle, cert);
  if (checked != 0) return SignVerdict::kCheckFailed;
  switch (check.Status) {
    case 0:
      return SignVerdict::kValid;
    case 1:
      return SignVerdict::kNotCorrect;
    case 2:
    case 3:
      return SignVerdict::kKeyNotFound;
    default:
      return SignVerdict::kOtherError;
  }
}

}  // namespace zz::host
