// explain_command.h - `zozerez-gateway explain`: where would this go, and
// why? The module itself is run on a scratch copy of the configuration and
// of the directories it names; the real tree is never touched.
#pragma once

#include "gateway/commands/command_line.h"

namespace zz::gateway {

int run_explain(const CommandLine &cl);

}  // namespace zz::gateway
