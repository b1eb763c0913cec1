// store_command.h - `zozerez-gateway store`: one file handed to the module as
// an incoming message, and where it went.
#pragma once

#include <string>
#include <vector>

#include "gateway/commands/command_line.h"
#include "zozerez.h"

namespace zz::gateway {

// IncomingParts - a received file as the module takes it, with the texts
// (code page 1251) its message points into
struct IncomingParts {
  std::string content, name, from_type, from_address;
  std::vector<std::string> to;
  std::vector<AddressEntry> recipients;
  IncomingMessage msg{};
  IncomingParts() = default;
  IncomingParts(const IncomingParts &) = delete;
  IncomingParts &operator=(const IncomingParts &) = delete;
};

// build_incoming - the message of `o` (its file read, wrapped in the
// signed-file container when signed or encrypted); false with the reason
bool build_incoming(const StoreOptions &o, IncomingParts *parts, std::string *error);

// run_store - arguments after "store"; the exit status (0 stored, 1 not, 2 usage)
int run_store(const CommandLine &cl);

}  // namespace zz::gateway
