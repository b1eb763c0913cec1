/* zozerez.h - the fifteen exports of the file-processing module and the
 * records that cross them.
 *
 * Texts are zero-terminated single-byte strings in code page 1251. Members
 * marked "owned" are blocks from malloc (8 bytes larger than their content)
 * that the holder of the record releases with free, or with the release
 * export named beside the record. Results: 0 success, 0xFFFFFFFF failure;
 * OXT_get_files adds 1 for "nothing to send". No export throws or exits. */
#ifndef ZOZEREZ_H
#define ZOZEREZ_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *CCA_CONTEXT;  /* the host's cryptographic context handle */
typedef uint64_t BD_HANDLE; /* opaque message-database handle */

typedef struct AddressEntry {
  char *Type;
  char *Address;
} AddressEntry;

typedef struct SkipNode {
  uint32_t Kind; /* 0 an outgoing file, 1 a send-request descriptor */
  char *Path;
  struct SkipNode *Next;
} SkipNode;

typedef struct BdSign {
  char *SignerName;
  char *SignerType;
  char *SignerAddress;
  char *SignFileName;
  char *SignFilePath;
} BdSign;

typedef struct BdAttachment {
  char *Guid;
  char *Name;
  char *FilePath;
  uint32_t SignCount;
  BdSign *Signs;
  uint32_t Selected;
} BdAttachment;

typedef struct BdMsg {
  char *MsgGuid;
  char *Subject;
  uint32_t Flags;
  uint8_t *Body;
  uint32_t BodyLength;
  char *SenderType;
  char *SenderAddress;
  uint8_t *Digest;
  uint32_t DigestLength;
  uint64_t Part6Value;
  uint64_t Part7Value;
  uint32_t RecipientCount;
  AddressEntry *Recipients;
  uint32_t AttachmentCount;
  BdAttachment *Attachments;
  char *MsgDir;
} BdMsg;

typedef struct GetFileCtx {
  SkipNode *SkipList;
  uint32_t BdMode;
  char *OdbcDsn;
  char *AttachmentDir;
  char AttachmentSort;
  uint32_t GuidSubdir;
  uint32_t OdbcTimeout;
  uint32_t OdbcDelay;
  BdMsg OutMsg;
  BdMsg InMsg;
  BD_HANDLE BdHandle;
  uint32_t OutMsgHeld;
  uint32_t NextRule;
} GetFileCtx;

typedef struct FileEntry {
  uint8_t *Data;
  uint32_t Length;
  char *Name;
  char *CopyPath;
  char *PickupPath;
  char *WorkPath;
} FileEntry;

typedef struct OutgoingMessage {
  FileEntry *File;
  uint32_t NumberFile;
  AddressEntry *Recipients;
  uint32_t RecipientCount;
  char *Subject;
  uint8_t *Body;
  uint32_t BodyLength;
  uint32_t Flags;
  char *SenderType;
  char *SenderAddress;
  char *InfoPickupPath;
  char *InfoWorkPath;
  char *SendDirPath;
  char *SendDirName;
} OutgoingMessage;

typedef struct IncomingMessage {
  const uint8_t *Data;
  uint32_t DataLength;
  const char *FileName;
  uint64_t Reserved1; /* never read */
  uint64_t Reserved2; /* never read */
  uint64_t Reserved3; /* never read */
  const char *SenderType;
  const char *SenderAddress;
  uint32_t Flags;
  const AddressEntry *Recipients;
  uint32_t RecipientCount;
} IncomingMessage;

typedef struct BdPart {
  uint32_t PartType;
  uint32_t Flags;
  const char *Subject;
  const uint8_t *Body;
  uint32_t BodyLength;
  const char *SenderType;
  const char *SenderAddress;
  const uint8_t *Digest;
  uint32_t DigestLength;
  uint64_t Part6Value;
  uint64_t Part7Value;
  const char *RecipientType;
  const char *RecipientAddress;
  const uint8_t *Data;
  uint32_t DataLength;
  const char *Name;
} BdPart;

uint32_t OXT_init_get_files(GetFileCtx *ctx);
void OXT_deinit_get_files(GetFileCtx *ctx);
uint32_t OXT_get_files(GetFileCtx *ctx, CCA_CONTEXT *crypto, OutgoingMessage *msg);
void OXT_free_files(OutgoingMessage *msg);
void OXT_free_get_files(GetFileCtx *ctx);
int32_t OXT_delete_files(GetFileCtx *ctx, OutgoingMessage *msg, uint32_t status, const char *hash);
int32_t OXT_store_file_ext(const IncomingMessage *msg);
uint32_t OXT_is_bd(GetFileCtx *ctx);
uint32_t OXT_store_bd_init(GetFileCtx *ctx, CCA_CONTEXT *crypto);
uint32_t OXT_store_bd_add(GetFileCtx *ctx, CCA_CONTEXT *crypto, const BdPart *part);
uint32_t OXT_store_bd_flush(GetFileCtx *ctx);
uint32_t OXT_store_bd_ping(GetFileCtx *ctx);
uint32_t OXT_ticket_hash(const char *hash);
uint32_t OXT_input_life_signal(GetFileCtx *ctx);
uint32_t OXT_output_life_signal(GetFileCtx *ctx);

#ifdef __cplusplus
}
#endif

#endif /* ZOZEREZ_H */
