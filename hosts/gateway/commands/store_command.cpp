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
#include "zozerez.h"
#include "zozerez_host.h"

namespace zz::gateway {
namespace {

struct StoreOptions {
  std::string file;
  std::string from_type = "SMTP";
  std::string from_address;
  std::vector<std::string> to;
  std::string name;
  uint32_t flags = 0;
  std::vector<std::pair<std::string, std::string>> signatures;  // signer, file
  std::string config, key;
};

void usage() {
  std::fputs(
      "usage: zozerez-gateway store FILE --from TYPE:ADDRESS [--to ADDRESS]... [--name NAME]\n"
      "         [--encrypted] [--signed] [--receipt] [--rsa] [--signature SIGNER=SIGFILE]...\n"
      "         [--config FILE] [--key KEY]\n",
      stderr);
}

bool read_whole(const std::string &path, std::string *out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *out = bytes.str();
  return true;
}

bool parse_store(const std::vector<std::string> &args, StoreOptions *o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](std::string *out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--from" && value(&v)) {
      size_t colon = v.find(':');
      if (colon != std::string::npos) {
        o->from_type = v.substr(0, colon);
        o->from_address = v.substr(colon + 1);
      } else {
        o->from_address = v;
      }
    } else if (a == "--to" && value(&v)) {
      o->to.push_back(v);
    } else if (a == "--name" && value(&v)) {
      o->name = v;
    } else if (a == "--signature" && value(&v) && v.find('=') != std::string::npos) {
      o->signatures.emplace_back(v.substr(0, v.find('=')), v.substr(v.find('=') + 1));
    } else if ((a == "--config" || a == "--key") && value(&v)) {
      (a == "--config" ? o->config : o->key) = v;
    } else if (a == "--encrypted") {
      o->flags |= 1;
    } else if (a == "--signed") {
      o->flags |= 2;
    } else if (a == "--receipt") {
      o->flags |= 4;
    } else if (a == "--rsa") {
      o->flags |= 8;
    } else if (!a.empty() && a[0] != '-' && o->file.empty()) {
      o->file = a;
    } else {
      std::fprintf(stderr, "zozerez-gateway store: unexpected argument \"%s\"\n", a.c_str());
      return false;
    }
  }
  if (o->file.empty() || o->from_address.empty()) return false;
  if (o->name.empty()) {
    size_t slash = o->file.find_last_of('/');
    o->name = slash == std::string::npos ? o->file : o->file.substr(slash + 1);
  }
  return true;
}

std::string container(const std::string &content,
                      const std::vector<std::pair<std::string, std::string>> &signatures) {
  std::string out =
      "Length-File:" + std::to_string(content.size()) + "\r\nFile-Data:\r\n" + content;
  for (const auto &[signer, sign] : signatures) {
    out += "\r\nName-Signer:" + signer + "\r\nLength-Sign:" + std::to_string(sign.size()) +
           "\r\nSign:\r\n" + sign;
  }
  return out;
}

}  // namespace

int run_store(const std::vector<std::string> &args) {
  StoreOptions o;
  if (!parse_store(args, &o)) {
    usage();
    return 2;
  }
  std::string content;
  if (!read_whole(o.file, &content)) {
    std::fprintf(stderr, "zozerez-gateway store: cannot read \"%s\"\n", o.file.c_str());
    return 1;
  }
  std::vector<std::pair<std::string, std::string>> signatures;
  for (const auto &[signer, file] : o.signatures) {
    std::string sign, signer1251;
    if (!read_whole(file, &sign) || !cp1251(signer, &signer1251)) {
      std::fprintf(stderr, "zozerez-gateway store: cannot use the signature \"%s\"\n",
                   file.c_str());
      return 1;
    }
    signatures.emplace_back(signer1251, sign);
  }
  if ((o.flags & 3) != 0) content = container(content, signatures);

  std::string name, from_type, from_address;
  std::vector<std::string> to(o.to.size());
  bool converted = cp1251(o.name, &name) && cp1251(o.from_type, &from_type) &&
                   cp1251(o.from_address, &from_address);
  for (size_t i = 0; i < o.to.size(); ++i) converted = converted && cp1251(o.to[i], &to[i]);
  if (!converted) {
    std::fputs("zozerez-gateway store: a name or address has characters code page 1251 lacks\n",
               stderr);
    return 1;
  }
  if (!open_store(o.config, o.key)) return 1;

  std::vector<AddressEntry> recipients;
  for (std::string &address : to) {
    recipients.push_back(AddressEntry{const_cast<char *>("SMTP"), address.data()});
  }
  IncomingMessage msg{};
  msg.Data = reinterpret_cast<const uint8_t *>(content.data());
  msg.DataLength = static_cast<uint32_t>(content.size());
  msg.FileName = name.c_str();
  msg.SenderType = from_type.c_str();
  msg.SenderAddress = from_address.c_str();
  msg.Flags = o.flags;
  msg.Recipients = recipients.empty() ? nullptr : recipients.data();
  msg.RecipientCount = static_cast<uint32_t>(recipients.size());

  const std::vector<std::string> dirs = storage_directories();
  const Snapshot before = snapshot(dirs);
  EventCapture events;
  const int32_t result = OXT_store_file_ext(&msg);
  for (const std::string &path : new_files(before, snapshot(dirs))) {
    // Names on disk are the module's code page 1251 bytes.
    std::cout << (result == 0 ? "stored: " : "kept: ") << utf8(path) << "\n";
  }
  if (result != 0) {
    std::cout << "not stored by the rules:\n";
    for (const std::string &line : events.lines()) std::cout << "  " << line << "\n";
  }
  return result == 0 ? 0 : 1;
}

}  // namespace zz::gateway
