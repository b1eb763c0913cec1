// store_command.cpp - builds the IncomingMessage a mail host would build for
// a received file (signed or encrypted files travel in the signed-file
// container with their signatures), calls OXT_store_file_ext, and shows the
// files that appeared under the rule and error directories.
#include "gateway/commands/store_command.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "gateway/base/console.h"
#include "gateway/base/event_capture.h"
#include "gateway/base/stored_files.h"
#include "gateway/mail/smime_envelope.h"
#include "zozerez.h"
#include "zozerez_host.h"

namespace zz::gateway {
namespace {

bool read_whole(const std::string &path, std::string *out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *out = bytes.str();
  return true;
}

}  // namespace

bool build_incoming(const StoreOptions &o, IncomingParts *p, std::string *error) {
  if (!read_whole(o.file, &p->content)) {
    *error = "cannot read \"" + o.file + "\"";
    return false;
  }
  std::vector<std::pair<std::string, std::string>> signatures;
  for (const auto &[signer, file] : o.signatures) {
    std::string sign, signer1251;
    if (!read_whole(file, &sign) || !cp1251(signer, &signer1251)) {
      *error = "cannot use the signature \"" + file + "\"";
      return false;
    }
    signatures.emplace_back(signer1251, sign);
  }
  if ((o.flags & 3) != 0) p->content = signed_file_container(p->content, signatures);
  p->to.assign(o.to.size(), std::string());
  bool converted = cp1251(o.name, &p->name) && cp1251(o.from_type, &p->from_type) &&
                   cp1251(o.from_address, &p->from_address);
  for (size_t i = 0; i < o.to.size(); ++i) converted = converted && cp1251(o.to[i], &p->to[i]);
  if (!converted) {
    *error = "a name or address has characters code page 1251 lacks";
    return false;
  }
  for (std::string &address : p->to) {
    p->recipients.push_back(AddressEntry{const_cast<char *>("SMTP"), address.data()});
  }
  IncomingMessage &msg = p->msg;
  msg = IncomingMessage{};
  msg.Data = reinterpret_cast<const uint8_t *>(p->content.data());
  msg.DataLength = static_cast<uint32_t>(p->content.size());
  msg.FileName = p->name.c_str();
  msg.SenderType = p->from_type.c_str();
  msg.SenderAddress = p->from_address.c_str();
  msg.Flags = o.flags;
  msg.Recipients = p->recipients.empty() ? nullptr : p->recipients.data();
  msg.RecipientCount = static_cast<uint32_t>(p->recipients.size());
  return true;
}

int run_store(const CommandLine &cl) {
  IncomingParts parts;
  std::string error;
  if (!build_incoming(cl.store, &parts, &error)) {
    std::fprintf(stderr, "zozerez-gateway store: %s\n", error.c_str());
    return 1;
  }
  if (!open_store(cl.config, cl.key)) return 1;
  const IncomingMessage &msg = parts.msg;

  const std::vector<std::string> dirs = storage_directories();
  const Snapshot before = snapshot(dirs);
  EventCapture events;
  const int32_t result = OXT_store_file_ext(&msg);
  for (const std::string &path : new_files(before, snapshot(dirs))) {
    // Names on disk are the module's code page 1251 bytes.
    std::cout << (result == 0 ? "stored: " : "kept: ") << shown_path(path) << "\n";
  }
  if (result != 0) {
    std::cout << "not stored by the rules:\n";
    for (const std::string &line : events.lines()) std::cout << "  " << line << "\n";
  }
  return result == 0 ? 0 : 1;
}

}  // namespace zz::gateway
