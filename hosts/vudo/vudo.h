/* vudo.h - what a host program calls to set vudo up, beside the eight
 * functions the module imports (zozerez_host.h). The module never calls these.
 * One configuration serves the whole process: the CCA_CONTEXT handle the
 * module passes on is not looked at, null or not. */
#ifndef VUDO_H
#define VUDO_H

#include <stdint.h>

#include "zozerez_host.h"

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

/* vudo_signer_open - a signer from a PEM private key (unencrypted, readable by
 * its owner only: a file others may read is refused) and its PEM certificate;
 * null on failure (vudo_last_reason says why). Released with vudo_signer_close. */
typedef struct vudo_signer vudo_signer;
vudo_signer *vudo_signer_open(const char *key_file, const char *cert_file);
void vudo_signer_close(vudo_signer *signer);
/* vudo_signer_name - the certificate's common name and e-mail address ("" when none) */
void vudo_signer_name(const vudo_signer *signer, char *name, uint32_t name_size, char *email,
                      uint32_t email_size);
/* vudo_sign - a detached CMS signature (DER) over the data, carrying the
 * signer's certificate; released with CCA_free. 0 on success. */
uint32_t vudo_sign(const vudo_signer *signer, const CCA_BUFFER *data, CCA_BUFFER *signature);

/* vudo_smime_sign - a MIME entity (its Content-* headers, a blank line, its
 * body) as an S/MIME multipart/signed entity by the signer, the entity's
 * bytes kept exactly; released with CCA_free. 0 on success. */
uint32_t vudo_smime_sign(const vudo_signer *signer, const CCA_BUFFER *entity, CCA_BUFFER *out);
/* vudo_smime_encrypt - the entity enveloped (AES-256) for the certificates of
 * the certificate directory that name these e-mail addresses; 1, with the
 * first address without a certificate named by vudo_last_reason, when one
 * has none. Released with CCA_free. */
uint32_t vudo_smime_encrypt(const char *const *addresses, uint32_t count, const CCA_BUFFER *entity,
                            CCA_BUFFER *out);
/* vudo_smime_open - an S/MIME entity opened: decrypted with `own` when it is
 * enveloped, verified against the trusted CA directory when it is signed.
 * `flags` gets 1 for encrypted and 2 for signed; `inner` the content entity;
 * when signed, `signature` the detached signature (DER) and `signer` its
 * signer's common name. Blocks released with CCA_free. 0 opened; 1 refused
 * (vudo_last_reason says why). */
uint32_t vudo_smime_open(const vudo_signer *own, const CCA_BUFFER *entity, uint32_t *flags,
                         CCA_BUFFER *inner, CCA_BUFFER *signature, char *signer,
                         uint32_t signer_size);

/* vudo_each_certificate - every certificate of the certificate directory:
 * subject, e-mail ("" when none), serial (hex), expiry (UTC text) and whether
 * it leads to a trusted CA now. 0 when the directory could be read. */
typedef void (*vudo_certificate_visitor)(void *user, const char *subject, const char *email,
                                         const char *serial, const char *not_after, int trusted);
uint32_t vudo_each_certificate(vudo_certificate_visitor visit, void *user);

#ifdef __cplusplus
}
#endif

#endif
