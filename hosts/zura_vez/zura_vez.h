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
 * machine's name), the lease: a claim older than this many seconds is taken
 * for abandoned and queued again (else 600), and how often a message may be
 * put back before it is failed for an admin to requeue (0: no limit). */
void zura_vez_configure(const char *host_name, uint32_t lease_seconds, uint32_t most_attempts);

/* zura_vez_enqueue - an outgoing message queued for BdReadMsg: its texts in
 * code page 1251, its attachment and signature files where FilePath and
 * SignFilePath say. 0 queued, all or nothing. */
uint32_t zura_vez_enqueue(BD_HANDLE handle, const BdMsg *msg);

/* zura_vez_each_state - the messages by direction (1 in, 2 out) and state
 * with their counts. 0 when the query ran. */
typedef void (*zura_vez_state_visitor)(void *user, uint32_t direction, const char *state,
                                       uint64_t count);
uint32_t zura_vez_each_state(BD_HANDLE handle, zura_vez_state_visitor visit, void *user);

/* zura_vez_each_message - at most `most` messages (0: 100) in `state`, or
 * without a state the outgoing ones not yet sent, oldest first. Texts UTF-8. */
typedef struct {
  const char *guid;
  uint32_t direction;
  const char *state;
  uint32_t attempts;
  int64_t created, claimed_at; /* seconds since 1970; 0 when never claimed */
  const char *claimed_by;
  const char *subject;
} zura_vez_summary;
typedef void (*zura_vez_message_visitor)(void *user, const zura_vez_summary *message);
uint32_t zura_vez_each_message(BD_HANDLE handle, const char *state, uint32_t most,
                               zura_vez_message_visitor visit, void *user);

/* zura_vez_show - one message, field by field ("state", "subject", ...,
 * then each "recipient", "attachment" and "signature"). 0 shown, 1 no such
 * message. */
typedef void (*zura_vez_field_visitor)(void *user, const char *name, const char *value);
uint32_t zura_vez_show(BD_HANDLE handle, const char *guid, zura_vez_field_visitor visit,
                       void *user);

/* zura_vez_requeue - failed outgoing messages and claims past the lease queued
 * again with their attempts reset: the one named by `guid`, or all of them.
 * A claim a live gateway holds is never taken away. */
uint32_t zura_vez_requeue(BD_HANDLE handle, const char *guid, uint64_t *count);

/* zura_vez_last_claim - the claim token of the calling thread's last message
 * read by BdReadMsg, for a host's journal. */
void zura_vez_last_claim(char *token, uint32_t size);

/* zura_vez_release - ends the claim `claim` on message `guid` as BdFreeMsg
 * would (sent with `text` as its hash, or queued again): for a host that
 * restarts after a crash. A claim since taken over is left alone. */
uint32_t zura_vez_release(BD_HANDLE handle, const char *guid, const char *claim, uint32_t sent,
                          const char *text);

/* zura_vez_last_reason - why the calling thread's last call failed (UTF-8). */
void zura_vez_last_reason(char *text, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
