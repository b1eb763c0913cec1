/* zozerez_host.h - what the module imports from the host: roriv (configuration
 * store, event log, failure signal; imported by ordinal on Windows), zura_vez
 * (message database) and vudo (digests, signatures, random bytes).
 *
 * Texts are code page 1251. OLM_ReportEvent takes, after the code, the
 * arguments its event lists: each a const char * or an unsigned int. Numbers
 * travel only with the events marked "(number)" below; every other argument
 * is a text. Blocks handed out by vudo are released with CCA_free. */
#ifndef ZOZEREZ_HOST_H
#define ZOZEREZ_HOST_H

#include <stdint.h>

#include "zozerez.h"

#ifdef __cplusplus
extern "C" {
#endif

/* roriv: configuration store, event log, failure signal (ordinals in brackets) */
uint32_t NR_GetRegistryKeyString(char *key /* 2048 bytes */); /* [3]  */
uint32_t OLM_ConfGetDWORD(const char *key, const char *name, uint32_t *value,
                          uint32_t reserved); /* [56] */
uint32_t OLM_ConfGetDWORDEx(const char *key, const char *name, uint32_t *value, uint32_t reserved1,
                            uint32_t reserved2); /* [57] */
uint32_t OLM_ConfGetString(const char *key, const char *name, char *buffer, uint32_t size,
                           uint32_t reserved); /* [59] */
uint32_t OLM_ConfGetPath(const char *key, const char *name, char *buffer /* 2048 */,
                         const char *default_text, uint32_t reserved); /* [62] */
void OLM_ReportEvent(uint32_t level, uint32_t code, ...);              /* [10] */
void OLM_SignalFailure(uint32_t first, uint32_t second);               /* [13] */

/* zura_vez: message database */
typedef struct BdInitParams {
  const char *Dsn;
  uint32_t Timeout;
  uint32_t Delay;
} BdInitParams;
uint32_t BdInit(BD_HANDLE *handle, const BdInitParams *params);
uint32_t BdClose(BD_HANDLE handle);
uint32_t BdReadMsg(BD_HANDLE handle, BdMsg *msg);
uint32_t BdWriteMsg(BD_HANDLE handle, BdMsg *msg);
uint32_t BdFreeMsg(BD_HANDLE handle, BdMsg *msg, uint32_t sent, const char *text);
uint32_t BdPing(BD_HANDLE handle);
uint32_t BdActivityIndicator(BD_HANDLE handle, uint8_t direction);

/* vudo: digests, detached signatures, certificates, random bytes */
typedef struct CCA_BUFFER {
  uint8_t *Data;
  uint32_t Length;
} CCA_BUFFER;
typedef struct CCA_CHECK {
  uint32_t Status;
  void *Cert;
} CCA_CHECK;
uint32_t CCA_hash_mem(CCA_CONTEXT ctx, const CCA_BUFFER *data, CCA_BUFFER *digest);
void CCA_free(CCA_CONTEXT ctx, void *block);
uint32_t CCA_sender_signed_data(CCA_CONTEXT ctx, const CCA_BUFFER *sign, void **serial,
                                uint32_t *signer_count);
void CCA_serial_free(CCA_CONTEXT ctx, void *serial);
uint32_t CCA_find_cert_by_serial(CCA_CONTEXT ctx, uint32_t mode, void *serial, void **cert,
                                 uint32_t type_address, const char *address);
void CCA_cert_free(CCA_CONTEXT ctx, void *cert);
uint32_t CCA_check_mem_sep(CCA_CONTEXT ctx, const CCA_BUFFER *data, const CCA_BUFFER *sign,
                           void *cert, CCA_CHECK *check);
uint32_t CCA_get_random(CCA_CONTEXT ctx, uint32_t length, uint8_t *out);

/* Event codes of OLM_ReportEvent, with the arguments each carries. */
#define OXT_EV_NO_INPUT_RULE 0xE0090001u      /* file name, sender address, flags (number) */
#define OXT_EV_SUMMARY 0xE0090002u            /* level 1: failed step, reporting function */
#define OXT_EV_WRITE_FILE 0xE0090003u         /* file path */
#define OXT_EV_NO_MEMORY 0xE0090004u          /* none */
#define OXT_EV_READ_FILE 0xE0090005u          /* file path */
#define OXT_EV_REGISTRY_KEY 0xE0090007u       /* none */
#define OXT_EV_READ_SETTING 0xE0090008u       /* value name, key */
#define OXT_EV_NO_SIGN_LIST 0xE0090009u       /* none */
#define OXT_EV_TOO_FEW_FILES 0xE009000Au      /* number of files (number) */
#define OXT_EV_SIGN_LIST_FIELD 0xE009000Bu    /* field name */
#define OXT_EV_HASH_MEM 0xE009000Cu           /* none */
#define OXT_EV_DIGEST_MISMATCH 0xE009000Du    /* file name */
#define OXT_EV_SIGNED_DATA 0xE009000Eu        /* none */
#define OXT_EV_FIND_CERT 0xE009000Fu          /* none */
#define OXT_EV_CHECK_SIGN 0xE0090010u         /* none */
#define OXT_EV_SIGN_NOT_CORRECT 0xE0090011u   /* none */
#define OXT_EV_SIGN_KEY_NOT_FOUND 0xE0090012u /* none */
#define OXT_EV_SIGN_OTHER_ERROR 0xE0090014u   /* none */
#define OXT_EV_CREATE_DIR 0xE0090015u         /* directory */
#define OXT_EV_NO_FILE_DATA 0xE0090016u       /* none */
#define OXT_EV_BD_INIT 0xE0090017u            /* none */
#define OXT_EV_BD_READ 0xE0090018u            /* none */
#define OXT_EV_GET_RANDOM 0xE0090019u         /* none */
#define OXT_EV_BAD_PART_TYPE 0xE009001Au      /* part type code (number) */
#define OXT_EV_NO_DIRECTORY 0xE009001Bu       /* directory */
#define OXT_EV_BD_WRITE 0xE009001Cu           /* none */
#define OXT_EV_BD_FREE 0xE009001Du            /* none */
#define OXT_EV_BD_PING 0xE009001Eu            /* none */
#define OXT_EV_NO_LINE_TO_EDIT 0xE009001Fu    /* none */
#define OXT_EV_RENAME 0xE0090020u             /* old path, new path */
#define OXT_EV_NO_SEPARATOR 0xE0090021u       /* path */
#define OXT_EV_DELETE_FILE 0xE0090022u        /* path */
#define OXT_EV_REMOVE_DIR 0xE0090023u         /* directory */
#define OXT_EV_ZERO_NUMBER 0xE0090024u        /* value name, key */
#define OXT_EV_TEMP_PATH 0xE0090025u          /* none */
#define OXT_EV_COPY_FILE 0xE0090026u          /* source path, target path */
#define OXT_EV_READ_ATTEMPTS 0xE0090028u      /* level 1: system error code (number) */
#define OXT_EV_SORT_SETTING 0xE0030015u       /* level 1: failed step, reporting function */

#define OXT_LEVEL_SUMMARY 1u
#define OXT_LEVEL_DETAIL 3u

#ifdef __cplusplus
}
#endif

#endif /* ZOZEREZ_HOST_H */
