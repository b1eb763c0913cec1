// status_command.h - `zozerez-gateway status` (what waits, what is in hand,
// what failed; --json for scripts) and `zozerez-gateway check` (the
// configuration and every directory it names, before the service starts).
#pragma once

#include "gateway/commands/command_line.h"

namespace zz::gateway {

int run_status(const CommandLine &cl);
int run_check(const CommandLine &cl);

}  // namespace zz::gateway
