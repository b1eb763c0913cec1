// register_main.cpp - zozerez-register.exe: registers the event source
// "zozerez" with the message table of the roriv.dll beside it and, from a .reg
// file, writes the gateway's configuration key; --unregister removes the
// event source. Run it as an administrator.
#include <cstdio>
#include <cstring>
#include <string>

#include "roriv/roriv.h"

namespace {

constexpr const char *kUsage =
    "Usage: zozerez-register [--config FILE.reg]\n"
    "       zozerez-register --unregister\n"
    "\n"
    "Registers the event source \"zozerez\" in the Application log, its messages\n"
    "in the roriv.dll beside this program, and with --config writes every key and\n"
    "value of FILE.reg (REGEDIT4, regedit's UTF-16 export or UTF-8) into the\n"
    "registry under HKEY_LOCAL_MACHINE. --unregister removes the event source;\n"
    "the configuration stays. Run as an administrator.\n"
    "\n"
    "  --config FILE   the .reg file of the gateway's configuration\n"
    "  --unregister    remove the event source\n"
    "  --help          this text\n"
    "  --version       the version\n";

int usage_error(const std::string &what) {
  std::fprintf(stderr, "zozerez-register: %s\n%s", what.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::string config;
  bool unregister = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("zozerez-register " ZOZEREZ_VERSION);
      return 0;
    }
    if (arg == "--unregister") {
      unregister = true;
    } else if (arg == "--config" && i + 1 < argc) {
      config = argv[++i];
    } else if (arg == "--config") {
      return usage_error("--config needs a file");
    } else {
      return usage_error("unknown argument \"" + arg + "\"");
    }
  }
  if (unregister && !config.empty()) return usage_error("--unregister takes no --config");
  char message[1024] = "";
  if (unregister) {
    if (roriv_unregister(message, sizeof message) != 0) {
      std::fprintf(stderr, "zozerez-register: %s\n", message);
      return 1;
    }
    std::puts("the event source \"zozerez\" is removed");
    return 0;
  }
  if (roriv_register(config.c_str(), message, sizeof message) != 0) {
    std::fprintf(stderr, "zozerez-register: %s\n", message);
    return 1;
  }
  std::puts("the event source \"zozerez\" is registered");
  if (!config.empty()) std::printf("the keys of %s are in the registry\n", config.c_str());
  if (*message != '\0') std::fprintf(stderr, "zozerez-register: warning: %s\n", message);
  return 0;
}
