// fuzz_host.cpp - a silent host for the fuzz targets: no configuration, no
// database, no crypto; events are read like the real log reads them.
#include <cstdarg>

#include "zozerez_host.h"

extern "C" {
uint32_t NR_GetRegistryKeyString(char *key) {
  key[0] = '\0';
  return 1;
}
uint32_t OLM_ConfGetDWORD(const char *, const char *, uint32_t *, uint32_t) {
  return 1;
}
uint32_t OLM_ConfGetDWORDEx(const char *, const char *, uint32_t *, uint32_t, uint32_t) {
  return 1;
}
uint32_t OLM_ConfGetString(const char *, const char *, char *, uint32_t, uint32_t) {
  return 1;
}
uint32_t OLM_ConfGetPath(const char *, const char *, char *, const char *, uint32_t) {
  return 1;
}
void OLM_ReportEvent(uint32_t, uint32_t, ...) {}
void OLM_SignalFailure(uint32_t, uint32_t) {}
uint32_t BdInit(BD_HANDLE *, const BdInitParams *) {
  return 1;
}
uint32_t BdClose(BD_HANDLE) {
  return 1;
}
uint32_t BdReadMsg(BD_HANDLE, BdMsg *) {
  return 1;
}
uint32_t BdWriteMsg(BD_HANDLE, BdMsg *) {
  return 1;
}
uint32_t BdFreeMsg(BD_HANDLE, BdMsg *, uint32_t, const char *) {
  return 1;
}
uint32_t BdPing(BD_HANDLE) {
  return 1;
}
uint32_t BdActivityIndicator(BD_HANDLE, uint8_t) {
  return 1;
}
uint32_t CCA_hash_mem(CCA_CONTEXT, const CCA_BUFFER *, CCA_BUFFER *) {
  return 1;
}
void CCA_free(CCA_CONTEXT, void *) {}
uint32_t CCA_sender_signed_data(CCA_CONTEXT, const CCA_BUFFER *, void **, uint32_t *) {
  return 1;
}
void CCA_serial_free(CCA_CONTEXT, void *) {}
uint32_t CCA_find_cert_by_serial(CCA_CONTEXT, uint32_t, void *, void **, uint32_t, const char *) {
  return 1;
}
void CCA_cert_free(CCA_CONTEXT, void *) {}
uint32_t CCA_check_mem_sep(CCA_CONTEXT, const CCA_BUFFER *, const CCA_BUFFER *, void *,
                           CCA_CHECK *) {
  return 1;
}
uint32_t CCA_get_random(CCA_CONTEXT, uint32_t, uint8_t *) {
  return 1;
}
}
