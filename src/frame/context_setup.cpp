// context_setup.cpp - OXT_init_get_files and its companions. Nothing enters
// the context until the database is open, so every failure leaves it zero,
// which the other exports treat as file mode.
#include "frame/context_setup.h"

#include <cstdlib>
#include <cstring>

#include "files/blocks.h"
#include "files/file_ops.h"
#include "files/paths.h"
#include "frame/context.h"
#include "frame/events.h"
#include "host/database.h"
#include "host/settings.h"

namespace zz {
namespace {

constexpr const char *kInit = "OXT_init_get_files";
constexpr uint32_t kDatabaseOn = 1;
constexpr uint32_t kGuidSubdirectories = 2;

char sort_letter(uint32_t value) {
  switch (value) {
    case 1:
      return 'D';
    case 2:
      return 'M';
    case 3:
      return 'Y';
    default:
      return 'N';
  }
}

bool read_init_path(const char *name, char *buffer) {
  if (host::read_path(host::registry_key(), name, buffer)) return true;
  report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetPath", kInit, name, host::registry_key());
  return false;
}

bool read_init_number(const char *name, uint32_t *value) {
  if (host::read_dword_ex(host::registry_key(), name, value)) return true;
  report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetDWORDEx", kInit, name, host::registry_key());
  return false;
}

}  // namespace

uint32_t init_get_files(GetFileCtx *ctx) {
  std::memset(ctx, 0, sizeof *ctx);
  if (!host::fetch_registry_key()) {
    report_failure(OXT_EV_REGISTRY_KEY, "NR_GetRegistryKeyString", kInit);
    return kFailed;
  }
  uint32_t flags = 0;
  if (!host::read_dword(host::registry_key(), "GWODBCFlags", &flags) ||
      (flags & kDatabaseOn) == 0) {
    return kOk;
  }
  const uint32_t guid_subdir = (flags & kGuidSubdirectories) != 0 ? 1 : 0;

  char dsn[host::kTextSize] = "";
  char attachment_dir[host::kTextSize] = "";
  if (!read_init_path("ODBC_DSN", dsn) || !read_init_path("ODBCAttachmentDir", attachment_dir)) {
    return kFailed;
  }
  uint32_t sort = 0;
  if (!host::read_dword_ex(host::registry_key(), "AttachmentSort", &sort)) {
    host::report_event(kLevelDetail, OXT_EV_READ_SETTING, "AttachmentSort", host::registry_key());
    host::report_event(kLevelSummary, OXT_EV_SORT_SETTING, "OLM_ConfGetDWORDEx", kInit);
    return kFailed;
  }
  uint32_t timeout = 0;
  uint32_t delay = 0;
  if (!read_init_number("ODBCTimeout", &timeout) || !read_init_number("ODBCDelay", &delay)) {
    return kFailed;
  }
  BD_HANDLE handle = 0;
  if (!host::db_init(&handle, dsn, timeout, delay)) {
    report_failure(OXT_EV_BD_INIT, "BdInit", kInit);
    return kFailed;
  }

  ctx->BdHandle = handle;
  ctx->BdMode = 1;
  // A failed copy is reported by create_string and leaves the member null.
  create_string(&ctx->AttachmentDir, attachment_dir);
  create_string(&ctx->OdbcDsn, dsn);
  ctx->OdbcTimeout = timeout;
  ctx->OdbcDelay = delay;
  ctx->GuidSubdir = guid_subdir;
  ctx->AttachmentSort = sort_letter(sort);
  return kOk;
}

void deinit_get_files(GetFileCtx *ctx) {
  free_skip_list(ctx);
  if (ctx->BdMode != 0) {
    if (ctx->BdHandle != 0) host::db_close(ctx->BdHandle);
    std::free(ctx->AttachmentDir);
    std::free(ctx->OdbcDsn);
  }
  // A message still held in OutMsg is not released and InMsg is not freed.
  std::memset(ctx, 0, sizeof *ctx);
}

uint32_t store_bd_ping(GetFileCtx *ctx) {
  char dir[host::kTextSize] = "";
  if (ctx->AttachmentDir != nullptr) {
    std::strncpy(dir, ctx->AttachmentDir, sizeof dir - 1);
  }
  strip_backslash(dir);
  if (!is_dir(dir)) {
    report_failure(OXT_EV_NO_DIRECTORY, "!is_dir", "OXT_store_bd_ping", dir);
    return kFailed;
  }
  if (!host::db_ping(ctx->BdHandle)) {
    report_failure(OXT_EV_BD_PING, "BdPing", "OXT_store_bd_ping");
    return kFailed;
  }
  return kOk;
}

void signal_life(GetFileCtx *ctx, uint8_t direction) {
  if (ctx->BdMode != 0 && ctx->BdHandle != 0) host::db_activity(ctx->BdHandle, direction);
}

}  // namespace zz
