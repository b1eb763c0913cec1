// main.cpp - zozerez-gateway: the host program of the zozerez module.
// Commands: config (print every setting the module reads), store (hand one
// file to the module as an incoming message), collect (one outgoing cycle),
// receipt (a delivery receipt arrived), run (the service loop).
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "gateway/base/console.h"
#include "gateway/commands/collect_command.h"
#include "gateway/commands/config_report.h"
#include "gateway/commands/run_command.h"
#include "gateway/commands/store_command.h"
#include "gateway/service/crash_points.h"

namespace {

void usage() {
  std::fputs(
      "usage: zozerez-gateway COMMAND [--config FILE] [--key KEY]\n"
      "commands:\n"
      "  config   print every setting the module reads, marking absent required ones\n"
      "  store    store FILE as an incoming message (zozerez-gateway store --help)\n"
      "  collect  one outgoing cycle: print, complete and release every message\n"
      "           [--status sent|failed|retry] [--hash TEXT]\n"
      "  receipt  HASH: a receipt for a message sent with guaranteed delivery\n"
      "  run      the service loop: outbox and inbox Maildirs, receipts [--once] [--verbose]\n"
      "The store is FILE, else $RORIV_STORE, else /etc/zozerez/gateway.reg; the key is\n"
      "KEY, else $RORIV_KEY, else the first key of the store.\n",
      stderr);
}

struct Options {
  std::string command;
  std::string config;
  std::string key;
};

bool parse(int argc, char **argv, Options *options) {
  if (argc < 2) return false;
  options->command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--config" || arg == "--key") && i + 1 < argc) {
      (arg == "--config" ? options->config : options->key) = argv[++i];
    } else {
      std::fprintf(stderr, "zozerez-gateway: unknown argument \"%s\"\n", arg.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
#ifdef ZOZEREZ_CRASH_POINTS
  zz::gateway::arm_crash_points();
#endif
  if (argc >= 2) {
    const std::vector<std::string> rest(argv + 2, argv + argc);
    if (std::strcmp(argv[1], "store") == 0) return zz::gateway::run_store(rest);
    if (std::strcmp(argv[1], "collect") == 0) return zz::gateway::run_collect(rest);
    if (std::strcmp(argv[1], "receipt") == 0) return zz::gateway::run_receipt(rest);
    if (std::strcmp(argv[1], "run") == 0) return zz::gateway::run_run(rest);
  }
  Options options;
  if (!parse(argc, argv, &options)) {
    usage();
    return 2;
  }
  if (options.command != "config") {
    std::fprintf(stderr, "zozerez-gateway: unknown command \"%s\"\n", options.command.c_str());
    usage();
    return 2;
  }
  if (!zz::gateway::open_store(options.config, options.key)) return 1;
  return zz::gateway::print_config(std::cout) ? 0 : 1;
}
