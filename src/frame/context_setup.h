// context_setup.h - opening and closing a module context: file mode, or
// database mode when "GWODBCFlags" asks for it and the database opens.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

uint32_t init_get_files(GetFileCtx *ctx);
void deinit_get_files(GetFileCtx *ctx);
uint32_t store_bd_ping(GetFileCtx *ctx);
void signal_life(GetFileCtx *ctx, uint8_t direction);

}  // namespace zz
