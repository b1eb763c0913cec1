// main.cpp - zozerez-gateway: the host program of the zozerez module.
// Commands: config (print every setting the module reads), store (hand one
// file to the module as an incoming message), collect (one outgoing cycle),
// receipt (a delivery receipt arrived), run (the service loop), status (what
// waits and what is stuck), check (the configuration before a start),
// explain (where a file would go, and why).
#include <iostream>

#include "gateway/base/console.h"
#include "gateway/commands/collect_command.h"
#include "gateway/commands/command_line.h"
#include "gateway/commands/config_report.h"
#include "gateway/commands/db_command.h"
#include "gateway/commands/deliver_command.h"
#include "gateway/commands/explain_command.h"
#include "gateway/commands/run_command.h"
#include "gateway/commands/sign_command.h"
#include "gateway/commands/status_command.h"
#include "gateway/commands/store_command.h"
#include "gateway/service/crash_points.h"

int main(int argc, char **argv) {
#ifdef ZOZEREZ_CRASH_POINTS
  zz::gateway::arm_crash_points();
#endif
  using zz::gateway::CommandLine;
  const CommandLine cl = zz::gateway::parse_command_line(argc, argv);
  std::cout << cl.out;
  std::cerr << cl.err;
  if (cl.command.empty()) return cl.exit_code;
  if (cl.command == "store") return zz::gateway::run_store(cl);
  if (cl.command == "collect") return zz::gateway::run_collect(cl);
  if (cl.command == "receipt") return zz::gateway::run_receipt(cl);
  if (cl.command == "run") return zz::gateway::run_run(cl);
  if (cl.command == "sign") return zz::gateway::run_sign(cl);
  if (cl.command == "verify") return zz::gateway::run_verify(cl);
  if (cl.command == "certs") return zz::gateway::run_certs(cl);
  if (cl.command == "db") return zz::gateway::run_db(cl);
  if (cl.command == "deliver") return zz::gateway::run_deliver(cl);
  if (cl.command == "status") return zz::gateway::run_status(cl);
  if (cl.command == "check") return zz::gateway::run_check(cl);
  if (cl.command == "explain") return zz::gateway::run_explain(cl);
  if (!zz::gateway::open_store(cl.config, cl.key)) return CommandLine::kFailed;
  return zz::gateway::print_config(std::cout) ? CommandLine::kDone : CommandLine::kFailed;
}
