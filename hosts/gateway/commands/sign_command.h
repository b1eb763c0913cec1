// sign_command.h - sign, verify and certs: the signing tools of the host program.
#pragma once

#include "gateway/commands/command_line.h"

namespace zz::gateway {

int run_sign(const CommandLine &cl);
int run_verify(const CommandLine &cl);
int run_certs(const CommandLine &cl);

}  // namespace zz::gateway
