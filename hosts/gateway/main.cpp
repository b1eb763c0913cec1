// main.cpp - zozerez-gateway: the host program of the zozerez module.
// Commands: config (print every setting the module reads), store (hand one
// file to the module as an incoming message).
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "gateway/config_report.h"
#include "gateway/console.h"
#include "gateway/store_command.h"

namespace {

void usage() {
  std::fputs(
      "usage: zozerez-gateway COMMAND [--config FILE] [--key KEY]\n"
      "commands:\n"
      "  config   print every setting the module reads, marking absent required ones\n"
      "  store    store FILE as an incoming message (zozerez-gateway store --help)\n"
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
  if (argc >= 2 && std::strcmp(argv[1], "store") == 0) {
    return zz::gateway::run_store(std::vector<std::string>(argv + 2, argv + argc));
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
