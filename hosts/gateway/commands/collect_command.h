// collect_command.h - `zozerez-gateway collect` (one outgoing cycle) and
// `zozerez-gateway receipt HASH` (a delivery receipt arrived).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "gateway/base/event_capture.h"
#include "gateway/commands/command_line.h"
#include "zozerez.h"

namespace zz::gateway {

// print_message - a message as collect and explain show it
// (`shown` tells the request's path; shown_path when empty)
void print_message(int number, const OutgoingMessage &m, const std::string &hash,
                   const std::function<std::string(const std::string &)> &shown = {});
// print_events - the captured events from `from` on, one "  event:" line each
void print_events(const EventCapture &events, size_t from);
int run_collect(const CommandLine &cl);
int run_receipt(const CommandLine &cl);

}  // namespace zz::gateway
