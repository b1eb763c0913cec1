// store_command.h - `zozerez-gateway store`: one file handed to the module as
// an incoming message, and where it went.
#pragma once

#include "gateway/commands/command_line.h"

namespace zz::gateway {

// run_store - arguments after "store"; the exit status (0 stored, 1 not, 2 usage)
int run_store(const CommandLine &cl);

}  // namespace zz::gateway
