// collect_command.h - `zozerez-gateway collect` (one outgoing cycle) and
// `zozerez-gateway receipt HASH` (a delivery receipt arrived).
#pragma once

#include "gateway/commands/command_line.h"

namespace zz::gateway {

int run_collect(const CommandLine &cl);
int run_receipt(const CommandLine &cl);

}  // namespace zz::gateway
