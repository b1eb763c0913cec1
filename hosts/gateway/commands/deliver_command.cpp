// deliver_command.cpp - a mail server that pipes each message to a program
// (Postfix's pipe transport) gets it into the inbox Maildir, durably, before
// this exits 0; the running service stores it in its next round, exactly as
// mail the server writes into the Maildir itself. A failure to write is
// "try again" (75), so the server keeps the message and retries.
#include "gateway/commands/deliver_command.h"

#include <unistd.h>

#include <iostream>

#include "gateway/base/console.h"
#include "gateway/transport/maildir.h"
#include "zozerez_host.h"

namespace zz::gateway {
namespace {

// Larger than anything a gateway's mail server would pass on.
constexpr size_t kMostBytes = 512u << 20;

}  // namespace

bool looks_like_mail(const std::string &bytes) {
  size_t at = 0;
  int fields = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return fields > 0;  // the end of the header section
    const bool continued = line[0] == ' ' || line[0] == '\t';
    const size_t colon = line.find(':');
    if (!continued &&
        (colon == std::string::npos || colon == 0 || line.find_first_of(" \t") < colon)) {
      // "From " of an mbox envelope is allowed as the very first line.
      if (!(fields == 0 && at == 0 && line.rfind("From ", 0) == 0)) return false;
    } else if (!continued) {
      ++fields;
    }
    at = end + 1;
  }
  return false;
}

int run_deliver(const CommandLine &cl) {
  if (!open_store(cl.config, cl.key)) return kExConfig;
  char key[2048], inbox[2048];
  if (NR_GetRegistryKeyString(key) != 0 ||
      OLM_ConfGetPath((std::string(key) + "\\Gateway").c_str(), "Inbox", inbox, "", 0) != 0) {
    std::cerr << "zozerez-gateway deliver: setting \"Inbox\" under <key>\\Gateway is missing\n";
    return kExConfig;
  }
  std::string bytes;
  char buffer[65536];
  for (ssize_t n; (n = ::read(0, buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      std::cerr << "zozerez-gateway deliver: cannot read standard input\n";
      return kExTempFail;
    }
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > kMostBytes) {
      std::cerr << "zozerez-gateway deliver: the message is larger than " << (kMostBytes >> 20)
                << " MiB\n";
      return kExDataErr;
    }
  }
  if (!looks_like_mail(bytes)) {
    std::cerr << "zozerez-gateway deliver: standard input holds no mail message\n";
    return kExDataErr;
  }
  const Maildir maildir(native_path(inbox));
  std::string name, error;
  if (!maildir.create(&error) || !maildir.deliver(bytes, "", &name, &error)) {
    std::cerr << "zozerez-gateway deliver: cannot write into the inbox: " << error << "\n";
    return kExTempFail;
  }
  return CommandLine::kDone;
}

}  // namespace zz::gateway
