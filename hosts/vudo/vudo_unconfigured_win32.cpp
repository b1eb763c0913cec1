// vudo_unconfigured_win32.cpp - the Windows build of the digest and signature
// library until OpenSSL is built for Windows here: every call answers with
// failure and hands nothing out, so signature checks fail and GUIDs come from
// the system alone.
#include "zozerez_host.h"

#if defined(_WIN32)
#define VUDO_EXPORT extern "C"
#else
#define VUDO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
constexpr uint32_t kNotConfigured = 0xFFFFFFFFu;
}

VUDO_EXPORT uint32_t CCA_hash_mem(CCA_CONTEXT, const CCA_BUFFER *, CCA_BUFFER *) {
  return kNotConfigured;
}
VUDO_EXPORT void CCA_free(CCA_CONTEXT, void *) {}
VUDO_EXPORT uint32_t CCA_sender_signed_data(CCA_CONTEXT, const CCA_BUFFER *, void **, uint32_t *) {
  return kNotConfigured;
}
VUDO_EXPORT void CCA_serial_free(CCA_CONTEXT, void *) {}
VUDO_EXPORT uint32_t CCA_find_cert_by_serial(CCA_CONTEXT, uint32_t, void *, void **, uint32_t,
                                             const char *) {
  return kNotConfigured;
}
VUDO_EXPORT void CCA_cert_free(CCA_CONTEXT, void *) {}
VUDO_EXPORT uint32_t CCA_check_mem_sep(CCA_CONTEXT, const CCA_BUFFER *, const CCA_BUFFER *, void *,
                                       CCA_CHECK *) {
  return kNotConfigured;
}
VUDO_EXPORT uint32_t CCA_get_random(CCA_CONTEXT, uint32_t, uint8_t *) {
  return kNotConfigured;
}
