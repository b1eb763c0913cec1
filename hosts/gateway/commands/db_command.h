// db_command.h - the message database for admins: enqueue an outgoing
// message from files, and list the messages by state.
#pragma once

#include "gateway/commands/command_line.h"

namespace zz::gateway {

int run_db(const CommandLine &cl);

}  // namespace zz::gateway
