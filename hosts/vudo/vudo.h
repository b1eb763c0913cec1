/* vudo.h - what a host program calls to set vudo up, beside the eight
 * functions the module imports (zozerez_host.h). The module never calls these.
 * One configuration serves the whole process: the CCA_CONTEXT handle the
 * module passes on is not looked at, null or not. */
#ifndef VUDO_H
#define VUDO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* vudo_configure - where certificates are found and which digest is made.
 * cert_dir: the certificates signers are looked up in (PEM or DER files);
 * ca_dir: the trusted CA certificates and their CRLs (PEM or DER files);
 * digest: an OpenSSL digest name ("SHA256" when null or empty; "md_gost12_256"
 * needs the GOST engine). Null directories leave the setting as it was.
 * 0 when the digest is known; otherwise 1 and vudo_last_reason says why. */
uint32_t vudo_configure(const char *cert_dir, const char *ca_dir, const char *digest);

/* vudo_last_reason - why the calling thread's last call failed or what its
 * last verdict rests on (UTF-8), e.g. "certificate has expired". */
void vudo_last_reason(char *text, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
