// deliver_command.h - `zozerez-gateway deliver`: one message from a mail
// server's pipe into the inbox Maildir.
#pragma once

#include "gateway/commands/command_line.h"

namespace zz::gateway {

// Exit codes of sysexits.h, which mail servers read.
constexpr int kExDataErr = 65, kExTempFail = 75, kExConfig = 78;

int run_deliver(const CommandLine &cl);

// looks_like_mail - whether `bytes` starts with a header section ("Name:
// value" lines up to an empty line); a mail server hands nothing else
bool looks_like_mail(const std::string &bytes);

}  // namespace zz::gateway
