// run_command.h - `zozerez-gateway run`: the gateway's service loop.
#pragma once

#include "gateway/commands/command_line.h"

namespace zz::gateway {

int run_run(const CommandLine &cl);

}  // namespace zz::gateway
