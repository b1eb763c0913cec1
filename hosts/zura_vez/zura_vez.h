/* zura_vez.h - what a host program calls to set zura_vez up and to queue
 * outgoing messages, beside the seven functions the module imports
 * (zozerez_host.h). The module never calls these. */
#ifndef ZURA_VEZ_H
#define ZURA_VEZ_H

#include <stdint.h>

#include "zozerez_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* zura_vez_configure - the name this host claims messages under (else the
 * machine's name) and the lease: a claim older than this many seconds is
 * taken for abandoned and queued again (else 600). */
void zura_vez_configure(const char *host_name, uint32_t lease_seconds);

/* zura_vez_enqueue - an outgoing message queued for BdReadMsg: its texts in
 * code page 1251, its attachment and signature files where FilePath and
 * SignFilePath say. 0 queued, all or nothing. */
uint32_t zura_vez_enqueue(BD_HANDLE handle, const BdMsg *msg);

/* zura_vez_each_state - the messages by direction (1 in, 2 out) and state
 * with their counts. 0 when the query ran. */
typedef void (*zura_vez_state_visitor)(void *user, uint32_t direction, const char *state,
                                       uint64_t count);
uint32_t zura_vez_each_state(BD_HANDLE handle, zura_vez_state_visitor visit, void *user);

/* zura_vez_last_reason - why the calling thread's last call failed (UTF-8). */
void zura_vez_last_reason(char *text, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
