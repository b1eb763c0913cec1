// exports.cpp - the fifteen exports: thin wrappers that call the module's
// C++ functions and turn any exception into the export's reported failure.
#include "completion/delete_files.h"
#include "database/store_bd.h"
#include "files/blocks.h"
#include "frame/context.h"
#include "frame/context_setup.h"
#include "frame/export.h"
#include "incoming/store_file.h"
#include "outgoing/get_files.h"
#include "outgoing/outgoing_record.h"
#include "tickets/hash_store.h"
#include "zozerez.h"

using zz::guarded;
using zz::guarded_void;
using zz::kFailed;
using zz::kOk;

namespace {
constexpr uint8_t kDirectionInput = 1;
constexpr uint8_t kDirectionOutput = 2;
constexpr int32_t kFailedSigned = -1;
}  // namespace

ZZ_EXPORT uint32_t OXT_init_get_files(GetFileCtx *ctx) {
  if (ctx == nullptr) return kFailed;
  return guarded("OXT_init_get_files", kFailed, [&] { return zz::init_get_files(ctx); });
}

ZZ_EXPORT void OXT_deinit_get_files(GetFileCtx *ctx) {
  if (ctx == nullptr) return;
  guarded_void("OXT_deinit_get_files", [&] { zz::deinit_get_files(ctx); });
}

ZZ_EXPORT uint32_t OXT_get_files(GetFileCtx *ctx, CCA_CONTEXT *crypto, OutgoingMessage *msg) {
  if (ctx == nullptr || msg == nullptr) return kFailed;
  const uint32_t result =
      guarded("OXT_get_files", kFailed, [&] { return zz::get_files(ctx, crypto, msg); });
  // After an exception the record may hold part of a message; claims were
  // already put back while the collection unwound.
  if (result == kFailed && msg->NumberFile == 0 && msg->InfoWorkPath == nullptr) {
    guarded_void("OXT_get_files", [&] { zz::free_outgoing_message(msg); });
  }
  return result;
}

ZZ_EXPORT void OXT_free_files(OutgoingMessage *msg) {
  if (msg == nullptr) return;
  guarded_void("OXT_free_files", [&] { zz::free_outgoing_message(msg); });
}

ZZ_EXPORT void OXT_free_get_files(GetFileCtx *ctx) {
  if (ctx == nullptr) return;
  guarded_void("OXT_free_get_files", [&] { zz::free_skip_list(ctx); });
}

ZZ_EXPORT int32_t OXT_delete_files(GetFileCtx *ctx, OutgoingMessage *msg, uint32_t status,
                                   const char *hash) {
  if (ctx == nullptr || msg == nullptr) return kFailedSigned;
  return guarded("OXT_delete_files", kFailedSigned,
                 [&] { return zz::delete_files(ctx, msg, status, hash); });
}

ZZ_EXPORT int32_t OXT_store_file_ext(const IncomingMessage *msg) {
  if (msg == nullptr) return kFailedSigned;
  return guarded("OXT_store_file_ext", kFailedSigned, [&] { return zz::store_file_ext(msg); });
}

ZZ_EXPORT uint32_t OXT_is_bd(GetFileCtx *ctx) {
  return ctx != nullptr && ctx->BdMode != 0 ? 1 : 0;
}

ZZ_EXPORT uint32_t OXT_store_bd_init(GetFileCtx *ctx, CCA_CONTEXT *crypto) {
  if (ctx == nullptr) return kFailed;
  return guarded("OXT_store_bd_init", kFailed, [&] { return zz::store_bd_init(ctx, crypto); });
}

ZZ_EXPORT uint32_t OXT_store_bd_add(GetFileCtx *ctx, CCA_CONTEXT *crypto, const BdPart *part) {
  if (ctx == nullptr || part == nullptr) return kFailed;
  return guarded("OXT_store_bd_add", kFailed, [&] { return zz::store_bd_add(ctx, crypto, part); });
}

ZZ_EXPORT uint32_t OXT_store_bd_flush(GetFileCtx *ctx) {
  if (ctx == nullptr) return kFailed;
  return guarded("OXT_store_bd_flush", kFailed, [&] { return zz::store_bd_flush(ctx); });
}

ZZ_EXPORT uint32_t OXT_store_bd_ping(GetFileCtx *ctx) {
  if (ctx == nullptr) return kFailed;
  return guarded("OXT_store_bd_ping", kFailed, [&] { return zz::store_bd_ping(ctx); });
}

ZZ_EXPORT uint32_t OXT_ticket_hash(const char *hash) {
  return guarded("OXT_ticket_hash", kFailed, [&] { return zz::ticket_hash(hash); });
}

ZZ_EXPORT uint32_t OXT_input_life_signal(GetFileCtx *ctx) {
  if (ctx != nullptr)
    guarded_void("OXT_input_life_signal", [&] { zz::signal_life(ctx, kDirectionInput); });
  return kOk;
}

ZZ_EXPORT uint32_t OXT_output_life_signal(GetFileCtx *ctx) {
  if (ctx != nullptr)
    guarded_void("OXT_output_life_signal", [&] { zz::signal_life(ctx, kDirectionOutput); });
  return kOk;
}
