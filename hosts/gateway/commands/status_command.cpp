// status_command.cpp - status reads only and always prints what it could
// gather (exit 1 when something could not be read); check names every
// setting that is missing and every directory that is absent or not usable
// by this user, each with the setting that names it (exit 1 when any).
#include "gateway/commands/status_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>

#include "gateway/base/console.h"
#include "gateway/commands/config_report.h"
#include "gateway/status/status_server.h"
#include "gateway/status/status_view.h"
#include "gateway/status/tree_status.h"
#include "zozerez_host.h"

namespace zz::gateway {
namespace {

class Checker {
 public:
  // directory - `path` of setting `name` under `key` must be a directory this
  // user may list and write in
  void directory(const std::string &key, const char *name, const std::string &what,
                 bool required = true) {
    char buffer[2048];
    if (OLM_ConfGetPath(key.c_str(), name, buffer, "", 0) != 0 || *buffer == '\0') {
      if (required) fault(utf8(key), name, what, "is not set");
      return;
    }
    const std::string path = native_path(buffer);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      fault(utf8(key), name, what, shown_path(buffer) + ": " + std::strerror(errno));
    } else if (!S_ISDIR(st.st_mode)) {
      fault(utf8(key), name, what, shown_path(buffer) + ": not a directory");
    } else if (::access(path.c_str(), R_OK | W_OK | X_OK) != 0) {
      fault(utf8(key), name, what,
            shown_path(buffer) + ": this user may not list and write in it (" +
                std::strerror(errno) + ")");
    }
  }

  // parent - a directory the service makes itself: its parent must be usable
  void parent(const std::string &key, const char *name, const std::string &what) {
    char buffer[2048];
    if (OLM_ConfGetPath(key.c_str(), name, buffer, "", 0) != 0 || *buffer == '\0') {
      fault(utf8(key), name, what, "is not set");
      return;
    }
    std::string path = native_path(buffer);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode) || ::access(path.c_str(), R_OK | W_OK | X_OK) != 0) {
        fault(utf8(key), name, what, shown_path(buffer) + ": not a directory this user may use");
      }
      return;
    }
    const size_t slash = path.rfind('/');
    const std::string up = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
    if (::access(up.c_str(), W_OK | X_OK) != 0) {
      fault(utf8(key), name, what,
            shown_path(buffer) + " cannot be made: " + up + ": " + std::strerror(errno));
    }
  }

  void fault(const std::string &key, const char *name, const std::string &what,
             const std::string &text) {
    note(what + ": \"" + name + "\" under " + key + " " + text);
  }

  void note(const std::string &text) {
    std::cerr << "zozerez-gateway check: " << text << "\n";
    ++faults_;
  }

  int faults() const { return faults_; }

 private:
  int faults_ = 0;
};

void check_rules(Checker &c, const std::string &key, const char *list, const char *count_name,
                 const char *what) {
  uint32_t count = 0;
  const std::string list_key = key + list;
  if (OLM_ConfGetDWORDEx(list_key.c_str(), count_name, &count, 0, 0) != 0) return;
  for (uint32_t n = 0; n < count; ++n) {
    const std::string rule = list_key + "\\" + std::to_string(n);
    uint32_t use = 1;
    if (OLM_ConfGetDWORDEx(rule.c_str(), "UseRule", &use, 0, 0) == 0 && use == 0) continue;
    c.directory(rule, "Path", std::string(what) + " " + std::to_string(n));
  }
}

// check_status_page - the HTTP side's settings: a port, and a password file
// its owner alone may read whenever the address reaches other machines
void check_status_page(Checker &c, const std::string &gw) {
  uint32_t port = 0;
  if (OLM_ConfGetDWORD(gw.c_str(), "StatusPort", &port, 0) != 0 || port == 0) return;
  if (port > 65535) c.note("\"StatusPort\" under " + utf8(gw) + " is not a port");
  char text[2048] = "";
  std::string address = "127.0.0.1";
  if (OLM_ConfGetString(gw.c_str(), "StatusAddress", text, sizeof text, 0) == 0 && *text != '\0') {
    address = text;
  }
  std::string passwords;
  if (OLM_ConfGetPath(gw.c_str(), "StatusPasswordFile", text, "", 0) == 0) passwords = text;
  if (passwords.empty()) {
    if (!is_loopback(address)) {
      c.note("\"StatusAddress\" under " + utf8(gw) + " is " + address +
             ", reachable from other machines: \"StatusPasswordFile\" is needed");
    }
    return;
  }
  struct stat st;
  if (::stat(passwords.c_str(), &st) != 0) {
    c.note("\"StatusPasswordFile\" under " + utf8(gw) + " " + passwords + ": " +
           std::strerror(errno));
  } else if ((st.st_mode & 077) != 0) {
    c.note("\"StatusPasswordFile\" under " + utf8(gw) + " " + passwords +
           " may be read by others; make it 0600");
  } else if (::access(passwords.c_str(), R_OK) != 0) {
    c.note("\"StatusPasswordFile\" under " + utf8(gw) + " " + passwords +
           " cannot be read by this user");
  }
}

}  // namespace

int run_status(const CommandLine &cl) {
  if (!open_store(cl.config, cl.key)) return CommandLine::kFailed;
  const TreeStatus s = gather_status(static_cast<long long>(std::time(nullptr)), cl.status.events);
  std::cout << (cl.status.json ? status_json(s) : status_table(s));
  return s.problems.empty() ? CommandLine::kDone : CommandLine::kFailed;
}

int run_check(const CommandLine &cl) {
  if (!open_store(cl.config, cl.key)) return CommandLine::kFailed;
  std::ostringstream listing;
  Checker c;
  if (!print_config(listing)) {
    // The listing names each absent required value under its key's heading.
    std::istringstream lines(listing.str());
    std::string heading;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("[", 0) == 0) heading = line;
      if (line.find("REQUIRED") == std::string::npos) continue;
      const size_t name = line.find_first_not_of(' ');
      c.note("required setting absent: " + line.substr(name, line.find(" = ") - name) + " in " +
             heading);
    }
  }
  char key_buffer[2048] = "";
  if (NR_GetRegistryKeyString(key_buffer) != 0) {
    std::cerr << "zozerez-gateway check: the gateway's key cannot be read from the store\n";
    return CommandLine::kFailed;
  }
  const std::string key = key_buffer;
  check_rules(c, key, "\\OutputFileRulez", "OutputRulezNum", "output rule");
  check_rules(c, key, "\\InputFileRulez", "InputRulezNum", "input rule");
  uint32_t flags = 0;
  if (OLM_ConfGetDWORDEx(key.c_str(), "OutRulezFlags", &flags, 0, 0) == 0 && (flags & 1)) {
    c.directory(key, "SaveOutErrorPath", "bad-files directory");
  }
  if (OLM_ConfGetDWORDEx(key.c_str(), "InnRulezFlags", &flags, 0, 0) == 0 && (flags & 1)) {
    c.directory(key, "SaveInErrorPath", "incoming error directory");
  }
  c.directory(key, "Filename", "data directory (hash store)", false);
  check_status_page(c, key + "\\Gateway");
  c.parent(key + "\\Gateway", "Outbox", "outbox Maildir");
  c.parent(key + "\\Gateway", "Inbox", "inbox Maildir");
  if (c.faults() != 0) {
    std::cerr << "zozerez-gateway check: " << c.faults()
              << (c.faults() == 1 ? " problem" : " problems") << "\n";
    return CommandLine::kFailed;
  }
  std::cout << "zozerez-gateway check: the configuration and every directory it names are usable\n";
  return CommandLine::kDone;
}

}  // namespace zz::gateway
