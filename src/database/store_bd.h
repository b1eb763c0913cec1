// store_bd.h - storing an incoming message in the message database: started
// with a fresh GUID, assembled part by part (attachments and signatures are
// written at once as files under the attachment directory), written with
// retries, then also filed into directories by the input rules.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

uint32_t store_bd_init(GetFileCtx *ctx, CCA_CONTEXT *crypto);
uint32_t store_bd_add(GetFileCtx *ctx, CCA_CONTEXT *crypto, const BdPart *part);
uint32_t store_bd_flush(GetFileCtx *ctx);

// get_path_for_save - the message's directory (attachment directory, date,
// GUID), created as needed, ending in "\"; 0, or -1 after reporting
int32_t get_path_for_save(GetFileCtx *ctx, char *dir, const char *guid, char **msg_dir);
// make_unique_path - directory, sanitised name (cut to 245) and suffix, with
// "~N" until no file of that path exists
void make_unique_path(const char *dir, const char *name, const char *suffix, char *path);
// receipt_digest - the digest an "OLMNOTIF.TXT" names; false when it names none
bool receipt_digest(const uint8_t *data, uint32_t length, char *digest /* kLineSize */);

}  // namespace zz
