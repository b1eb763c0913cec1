// db_command.cpp - the database named by the module's own settings
// ("ODBC_DSN", "ODBCAttachmentDir", "ODBCTimeout"): enqueue copies each file
// into a directory of its own under the attachment directory and queues the
// message for the module's database branch; list, show and requeue serve
// the admin looking after the queue.
#include "gateway/commands/db_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <vector>

#include "gateway/base/console.h"
#include "zozerez_host.h"
#include "zura_vez/zura_vez.h"

namespace zz::gateway {
namespace {

std::string reason() {
  char text[512];
  zura_vez_last_reason(text, sizeof text);
  return text;
}

std::string new_guid() {
  std::random_device random;
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%04x%08x", random(), random() & 0xFFFF,
                (random() & 0x0FFF) | 0x4000, (random() & 0x3FFF) | 0x8000, random() & 0xFFFF,
                random());
  return text;
}

struct Database {
  BD_HANDLE handle = 0;
  std::string attachments;
  ~Database() {
    if (handle != 0) BdClose(handle);
  }
};

bool open_database(Database *db) {
  char key[2048], dsn[2048], dir[2048];
  uint32_t timeout = 0;
  if (NR_GetRegistryKeyString(key) != 0 || OLM_ConfGetPath(key, "ODBC_DSN", dsn, "", 0) != 0 ||
      OLM_ConfGetPath(key, "ODBCAttachmentDir", dir, "", 0) != 0) {
    std::cerr << "zozerez-gateway db: settings \"ODBC_DSN\" and \"ODBCAttachmentDir\" are needed\n";
    return false;
  }
  OLM_ConfGetDWORD(key, "ODBCTimeout", &timeout, 0);
  BdInitParams params{dsn, timeout, 0};
  if (BdInit(&db->handle, &params) != 0) {
    std::cerr << "zozerez-gateway db: cannot open the database: " << reason() << "\n";
    return false;
  }
  db->attachments = native_path(dir);
  return true;
}

char *text(const std::string &s) {
  return const_cast<char *>(s.c_str());
}

int enqueue(const CommandLine &cl, Database &db) {
  const DbOptions &o = cl.db;
  const std::string guid = new_guid();
  const std::string dir = db.attachments + "/" + guid;
  if (::mkdir(dir.c_str(), 0777) != 0) {
    std::cerr << "zozerez-gateway db: cannot create " << dir << "\n";
    return CommandLine::kFailed;
  }
  std::vector<std::string> names, paths, att_guids;
  for (const std::string &file : o.files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string base = file.substr(file.find_last_of('/') + 1);
    std::string name;
    if (!in || !cp1251(base, &name)) {
      std::cerr << "zozerez-gateway db: cannot read \"" << file << "\"\n";
      return CommandLine::kFailed;
    }
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    names.push_back(name);
    paths.push_back(path);
    att_guids.push_back(new_guid());
  }
  std::vector<std::string> types, addresses;
  for (const std::string &to : o.to) {
    const size_t colon = to.find(':');
    types.push_back(colon == std::string::npos ? "SMTP" : to.substr(0, colon));
    addresses.push_back(colon == std::string::npos ? to : to.substr(colon + 1));
  }
  std::vector<AddressEntry> recipients;
  for (size_t i = 0; i < types.size(); ++i)
    recipients.push_back({text(types[i]), text(addresses[i])});
  // Signatures of the first file travel as files beside it.
  std::vector<std::string> sign_names, sign_paths, signers;
  for (const auto &[signer, file] : o.signatures) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string signer1251;
    if (!in || !cp1251(signer, &signer1251) || names.empty()) {
      std::cerr << "zozerez-gateway db: cannot use the signature \"" << file << "\"\n";
      return CommandLine::kFailed;
    }
    sign_names.push_back(names[0] + "." + signer1251 + ".sgn");
    sign_paths.push_back(dir + "/" + sign_names.back());
    signers.push_back(signer1251);
    std::ofstream(sign_paths.back(), std::ios::binary) << bytes;
  }
  std::vector<BdSign> signs;
  for (size_t i = 0; i < signers.size(); ++i) {
    signs.push_back({text(signers[i]), nullptr, nullptr, text(sign_names[i]), text(sign_paths[i])});
  }
  std::vector<BdAttachment> attachments;
  for (size_t i = 0; i < names.size(); ++i) {
    attachments.push_back({text(att_guids[i]), text(names[i]), text(paths[i]),
                           i == 0 ? static_cast<uint32_t>(signs.size()) : 0u,
                           i == 0 && !signs.empty() ? signs.data() : nullptr, 0});
  }
  std::string subject, from;
  if (!cp1251(o.subject, &subject) || !cp1251(o.from, &from)) {
    std::cerr << "zozerez-gateway db: the subject or sender cannot be written in code page 1251\n";
    return CommandLine::kFailed;
  }
  BdMsg msg{};
  msg.MsgGuid = text(guid);
  msg.Subject = text(subject);
  msg.Flags = o.signed_message ? 2u : 0u;
  msg.SenderType = const_cast<char *>("SMTP");
  msg.SenderAddress = from.empty() ? nullptr : text(from);
  msg.RecipientCount = static_cast<uint32_t>(recipients.size());
  msg.Recipients = recipients.data();
  msg.AttachmentCount = static_cast<uint32_t>(attachments.size());
  msg.Attachments = attachments.data();
  if (zura_vez_enqueue(db.handle, &msg) != 0) {
    std::cerr << "zozerez-gateway db: cannot queue the message: " << reason() << "\n";
    return CommandLine::kFailed;
  }
  std::cout << "queued " << guid << " with " << names.size()
            << (names.size() == 1 ? " file" : " files") << "\n";
  return CommandLine::kDone;
}

int failed() {
  std::cerr << "zozerez-gateway db: " << reason() << "\n";
  return CommandLine::kFailed;
}

// age - how long ago a time was, the way people read it
std::string age(int64_t since) {
  const int64_t s = std::max<int64_t>(0, static_cast<int64_t>(std::time(nullptr)) - since);
  return s < 120      ? std::to_string(s) + "s"
         : s < 7200   ? std::to_string(s / 60) + "m"
         : s < 172800 ? std::to_string(s / 3600) + "h"
                      : std::to_string(s / 86400) + "d";
}

// list - counts by state, then the messages of one state (by default the
// outgoing ones not yet sent), oldest first
int list(const CommandLine &cl, Database &db) {
  auto count = [](void *, uint32_t direction, const char *state, uint64_t n) {
    std::cout << (direction == 1 ? "incoming " : "outgoing ") << state << ": " << n << "\n";
  };
  if (zura_vez_each_state(db.handle, count, nullptr) != 0) return failed();
  auto row = [](void *, const zura_vez_summary *m) {
    std::cout << m->guid << "  " << m->state << "  age " << age(m->created) << "  attempts "
              << m->attempts;
    if (std::strcmp(m->state, "claimed") == 0) {
      std::cout << "  by " << m->claimed_by << " " << age(m->claimed_at) << " ago";
    }
    std::cout << "  \"" << m->subject << "\"\n";
  };
  const char *state = cl.db.state.empty() ? nullptr : cl.db.state.c_str();
  return zura_vez_each_message(db.handle, state, 100, row, nullptr) == 0 ? CommandLine::kDone
                                                                         : failed();
}

int show(const CommandLine &cl, Database &db) {
  if (cl.db.files.size() != 1) {
    std::cerr << "zozerez-gateway db show: name one message GUID\n";
    return CommandLine::kUsage;
  }
  auto field = [](void *, const char *name, const char *value) {
    std::cout << name << ": " << value << "\n";
  };
  const uint32_t r = zura_vez_show(db.handle, cl.db.files[0].c_str(), field, nullptr);
  if (r == 1) {
    std::cerr << "zozerez-gateway db: no message " << cl.db.files[0] << "\n";
    return CommandLine::kFailed;
  }
  return r == 0 ? CommandLine::kDone : failed();
}

// requeue - failed messages and claims past the lease, named or all
int requeue(const CommandLine &cl, Database &db) {
  uint64_t total = 0;
  const std::vector<std::string> all = {""};
  for (const std::string &guid : cl.db.files.empty() ? all : cl.db.files) {
    uint64_t n = 0;
    if (zura_vez_requeue(db.handle, guid.empty() ? nullptr : guid.c_str(), &n) != 0) {
      return failed();
    }
    if (!guid.empty() && n == 0) {
      std::cerr << "zozerez-gateway db: " << guid
                << " is not a failed message or a claim past the lease; left as it is\n";
    }
    total += n;
  }
  std::cout << "requeued " << total << (total == 1 ? " message" : " messages") << "\n";
  return CommandLine::kDone;
}

}  // namespace

int run_db(const CommandLine &cl) {
  if (!open_store(cl.config, cl.key)) return CommandLine::kFailed;
  Database db;
  if (!open_database(&db)) return CommandLine::kFailed;
  if (cl.db.action == "enqueue") return enqueue(cl, db);
  if (cl.db.action == "list") return list(cl, db);
  if (cl.db.action == "show") return show(cl, db);
  if (cl.db.action == "requeue") return requeue(cl, db);
  return CommandLine::kDone;  // init: opening made the schema
}

}  // namespace zz::gateway
