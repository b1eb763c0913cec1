/* roriv.h - what a host program calls to set roriv up, beside the seven
 * functions the module imports (zozerez_host.h). The module never calls these. */
#ifndef RORIV_H
#define RORIV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* roriv_setup - the store file and the host's key (UTF-8; null or empty key:
 * the first key of the file). Overrides RORIV_STORE and RORIV_KEY. 0 on success. */
uint32_t roriv_setup(const char *store_path, const char *key);

/* roriv_store_status - 0 when the store file is fine; otherwise 1 and the reason
 * (UTF-8, naming the file and the line) in `message`. */
uint32_t roriv_store_status(char *message, uint32_t size);

/* roriv_set_event_sink - also hand every log line (UTF-8) to the host. */
typedef void (*roriv_event_sink)(void *user, uint32_t level, uint32_t code, const char *line);
void roriv_set_event_sink(roriv_event_sink sink, void *user);

/* roriv_set_log_file - append log lines to this file (UTF-8 path); null stops it.
 * RORIV_LOG names the file when this is not called. */
void roriv_set_log_file(const char *path);

#if defined(_WIN32)
/* roriv_register - registers the event source "zozerez" (Application log,
 * messages in this roriv.dll) and, when `reg_file` is named, writes its keys
 * and values into the registry. 0 on success (`message` may still hold a
 * warning about the code pages); otherwise 1 and the reason. Administrators only. */
uint32_t roriv_register(const char *reg_file, char *message, uint32_t size);
/* roriv_unregister - removes the event source; the configuration key stays. */
uint32_t roriv_unregister(char *message, uint32_t size);
#endif

#ifdef __cplusplus
}
#endif

#endif /* RORIV_H */
