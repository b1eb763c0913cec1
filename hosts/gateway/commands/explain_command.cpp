// explain_command.cpp - incoming: each input rule is tried alone, as it is
// and with all but one of its conditions opened up, to tell which condition
// turns the message away; then the whole walk is run as configured and the
// files it makes are told by their real paths. Outgoing: every output rule
// but the one asked about points at an empty directory, the asked one at a
// copy of its directory, and each message the module builds is shown and
// completed as sent, as often as the module hands one out.
#include "gateway/commands/explain_command.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>

#include "gateway/base/console.h"
#include "gateway/base/event_capture.h"
#include "gateway/commands/collect_command.h"
#include "gateway/commands/store_command.h"
#include "gateway/explain/scratch_tree.h"
#include "gateway/mail/message_hash.h"
#include "roriv/roriv.h"
#include "zozerez.h"
#include "zozerez_host.h"

namespace zz::gateway {
namespace {

namespace fs = std::filesystem;

constexpr const char kEverything[] = "\xC2\xF1\xE5";  // "Все": every sender, every file
constexpr uint32_t kEveryKind = 7;                    // plain, signed and encrypted alike
constexpr int kMostMessages = 1000;

std::string chosen_key(const CommandLine &cl) {
  if (!cl.key.empty()) return cl.key;
  const char *env = std::getenv("RORIV_KEY");
  return env != nullptr ? env : "";
}

std::string store_file(const CommandLine &cl) {
  if (!cl.config.empty()) return cl.config;
  const char *env = std::getenv("RORIV_STORE");
  return env != nullptr && *env != '\0' ? env : "/etc/zozerez/gateway.reg";
}

std::string host_key() {
  char key[2048] = "";
  NR_GetRegistryKeyString(key);
  return key;
}

// files_under - every plain file below `dir`
std::set<std::string> files_under(const std::string &dir) {
  std::set<std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) out.insert(it->path().string());
  }
  return out;
}

// Walk - one run of the module on the scratch store as it is written now
struct Walk {
  int32_t result = -1;
  std::vector<std::string> made;  // real paths
  std::vector<std::string> events;
};

class Explainer {
 public:
  Explainer(ScratchTree &tree, std::string key) : t_(tree), key_(std::move(key)) {}

  bool setup(std::string *error) {
    const std::string host = host_key();
    if (host.empty()) {
      *error = "the gateway's key cannot be read from the store";
      return false;
    }
    host_ = host;
    t_.set_number(host_, "GWODBCFlags", 0);  // the file rules, not the database
    prepare_directory(host_, "SaveInErrorPath", false);
    const std::string state = t_.root() + "/state";
    fs::create_directories(state);
    t_.set_text(host_, "Filename", state);
    return true;
  }

  // prepare_directory - the value's directory replaced by its twin
  void prepare_directory(const std::string &key, const char *name, bool contents) {
    const std::string path = t_.text(key, name);
    if (path.empty()) return;
    t_.set_text(key, name, t_.twin(native_path(path), contents));
  }

  Walk walk(const IncomingMessage &msg) {
    Walk w;
    t_.refresh();
    const std::string store = t_.write("store.reg");
    if (roriv_setup(store.c_str(), key_.c_str()) != 0) {
      char message[1024];
      roriv_store_status(message, sizeof message);
      w.events.push_back(std::string("the scratch store was refused: ") + message);
      return w;
    }
    const std::set<std::string> before = files_under(t_.root());
    EventCapture events;
    w.result = OXT_store_file_ext(&msg);
    for (const std::string &path : files_under(t_.root())) {
      if (before.count(path) == 0 && path.rfind(t_.root() + "/state/", 0) != 0) {
        w.made.push_back(shown_path(t_.real_path(path)));
      }
    }
    for (const std::string &line : events.lines()) w.events.push_back(t_.real_text(line));
    return w;
  }

  const std::string &host() const { return host_; }

 private:
  ScratchTree &t_;
  std::string key_, host_;
};

std::string kind_text(uint32_t flags) {
  std::string kind = (flags & 2) != 0 ? "signed" : "";
  if ((flags & 1) != 0) kind += kind.empty() ? "encrypted" : " and encrypted";
  if (kind.empty()) kind = "plain";
  if ((flags & 4) != 0) kind += ", a receipt";
  if ((flags & 8) != 0) kind += ", RSA";
  return kind;
}

int explain_incoming(const CommandLine &cl, ScratchTree &t) {
  IncomingParts parts;
  std::string error;
  if (!build_incoming(cl.explain.message, &parts, &error)) {
    std::cerr << "zozerez-gateway explain: " << error << "\n";
    return CommandLine::kFailed;
  }
  Explainer x(t, chosen_key(cl));
  if (!x.setup(&error)) {
    std::cerr << "zozerez-gateway explain: " << error << "\n";
    return CommandLine::kFailed;
  }
  const std::string list = x.host() + "\\InputFileRulez";
  const roriv::RegValue *count_value = t.value(list, "InputRulezNum");
  const uint32_t count = count_value != nullptr ? count_value->number : 0;
  for (uint32_t n = 0; n < count; ++n) {
    x.prepare_directory(list + "\\" + std::to_string(n), "Path", false);
  }
  const StoreOptions &o = cl.explain.message;
  std::cout << "explain incoming \"" << o.name << "\" (" << kind_text(o.flags) << ") from " << o.from_type << ":" << o.from_address << " to " << (o.to.empty() ? std::string("(no recipients)") : [&] {
    std::string all;
    for (const std::string &to : o.to) all += (all.empty() ? "" : ", ") + to;
    return all;
  }()) << "\n\nrules, each tried alone:\n";
  for (uint32_t n = 0; n < count; ++n) {
    const std::string rule = list + "\\" + std::to_string(n);
    const std::string dir = shown_path(t.real_path(t.text(rule, "Path")));
    std::cout << "  " << n << "  " << (dir.empty() ? "?" : dir) << ": ";
    const roriv::RegValue *use = t.value(rule, "UseRule");
    if (use != nullptr && use->kind == roriv::RegValue::Kind::kDword && use->number == 0) {
      std::cout << "switched off (\"UseRule\" 0)\n";
      continue;
    }
    // The rule alone, as number 0 of one; `keep` names the conditions left as configured.
    auto alone = [&](std::set<std::string> keep) {
      t.push();
      t.set_number(list, "InputRulezNum", 1);
      const std::string only = list + "\\0";
      t.copy_key(rule, only);
      t.remove(only, "ContinueProcessRulez");
      t.remove(only, "UseRule");
      if (!keep.count("Email")) t.set_text(only, "Email", kEverything);
      if (!keep.count("RecipEmail")) t.remove(only, "RecipEmail");
      if (!keep.count("FileMask")) t.set_text(only, "FileMask", kEverything);
      if (!keep.count("Type")) t.set_number(only, "Type", kEveryKind);
      const Walk w = x.walk(parts.msg);
      t.pop();
      return w;
    };
    const Walk as_is = alone({"Email", "RecipEmail", "FileMask", "Type"});
    if (as_is.result == 0) {
      std::cout << "takes it, as";
      for (const std::string &p : as_is.made) std::cout << " " << p;
      std::cout << "\n";
      continue;
    }
    // Opened up entirely and still not stored: the rule takes it but fails.
    const Walk open = alone({});
    if (open.result != 0) {
      std::cout << "takes it, but cannot store it:\n";
      for (const std::string &line : open.events) std::cout << "       " << line << "\n";
      continue;
    }
    struct Condition {
      const char *name;
      std::string why;
    };
    const std::vector<Condition> conditions = {
        {"Email", "the sender does not match \"" + utf8(t.text(rule, "Email")) + "\""},
        {"RecipEmail", "no recipient matches \"" + utf8(t.text(rule, "RecipEmail")) + "\""},
        {"FileMask", "the name does not match \"" + utf8(t.text(rule, "FileMask")) + "\""},
        {"Type", "a " + kind_text(o.flags) + " message is not taken by its \"Type\""}};
    std::vector<std::string> reasons;
    for (const Condition &c : conditions) {
      if (alone({c.name}).result != 0) reasons.push_back(c.why);
    }
    if (reasons.empty()) reasons.push_back("its conditions together do not take it");
    std::cout << "passed over: ";
    for (size_t i = 0; i < reasons.size(); ++i) std::cout << (i ? "; " : "") << reasons[i];
    std::cout << "\n";
  }

  const Walk w = x.walk(parts.msg);
  std::cout << "\nthe walk as configured: ";
  if (w.result == 0) {
    std::cout << "stored as\n";
  } else {
    std::cout << "not stored" << (w.made.empty() ? "\n" : "; kept as\n");
  }
  for (const std::string &p : w.made) std::cout << "  " << p << "\n";
  if (!w.events.empty()) {
    std::cout << "the module's events:\n";
    for (const std::string &line : w.events) std::cout << "  " << line << "\n";
  }
  return w.result == 0 ? CommandLine::kDone : CommandLine::kFailed;
}

int explain_outgoing(const CommandLine &cl, ScratchTree &t) {
  std::error_code ec;
  const fs::path wanted = fs::weakly_canonical(cl.explain.path, ec);
  Explainer x(t, chosen_key(cl));
  std::string error;
  if (!x.setup(&error)) {
    std::cerr << "zozerez-gateway explain: " << error << "\n";
    return CommandLine::kFailed;
  }
  const std::string list = x.host() + "\\OutputFileRulez";
  const roriv::RegValue *count_value = t.value(list, "OutputRulezNum");
  const uint32_t count = count_value != nullptr ? count_value->number : 0;
  std::vector<uint32_t> rules;
  x.prepare_directory(x.host(), "SaveOutErrorPath", false);
  for (uint32_t n = 0; n < count; ++n) {
    const std::string rule = list + "\\" + std::to_string(n);
    const std::string path = native_path(t.text(rule, "Path"));
    if (!path.empty() && fs::weakly_canonical(path, ec) == wanted) {
      rules.push_back(n);
      x.prepare_directory(rule, "Path", true);
    } else {
      const std::string empty = t.root() + "/empty" + std::to_string(n);
      fs::create_directories(empty, ec);
      t.set_text(rule, "Path", empty);
    }
  }
  if (rules.empty()) {
    std::cerr << "zozerez-gateway explain: " << cl.explain.path
              << " is the directory of no output rule (\"Path\" under " << utf8(list) << "\\N)\n";
    return CommandLine::kFailed;
  }
  std::cout << "explain outgoing " << cl.explain.path << " (output rule";
  for (uint32_t n : rules) std::cout << " " << n;
  std::cout << "); on a copy, every message completed as sent\n\n";
  t.refresh();
  const std::string store = t.write("store.reg");
  if (roriv_setup(store.c_str(), chosen_key(cl).c_str()) != 0) {
    std::cerr << "zozerez-gateway explain: the scratch store was refused\n";
    return CommandLine::kFailed;
  }
  EventCapture events;
  GetFileCtx ctx{};
  if (OXT_init_get_files(&ctx) != 0) {
    std::cout << "the module could not start:\n";
    print_events(events, 0);
    return CommandLine::kFailed;
  }
  int number = 0;
  bool ok = true;
  while (number < kMostMessages) {
    const size_t seen = events.lines().size();
    OutgoingMessage msg{};
    const uint32_t got = OXT_get_files(&ctx, nullptr, &msg);
    if (got == 1) break;
    ++number;
    const std::string hash = message_hash(msg);
    // Told by their real paths; a send directory the module makes from loose
    // files (separate sending, guaranteed delivery, limits) is not there yet.
    auto real = [&](const std::string &scratch) {
      const std::string path = t.real_path(native_path(scratch));
      return shown_path(path) + (fs::exists(path, ec) ? "" : " (made by the module)");
    };
    print_message(number, msg, hash, real);
    for (uint32_t i = 0; i < msg.NumberFile; ++i) {
      const char *from =
          msg.File[i].PickupPath != nullptr ? msg.File[i].PickupPath : msg.File[i].CopyPath;
      if (from != nullptr) std::cout << "  taken:   " << real(from) << "\n";
    }
    if (got != 0) {
      std::cout << "  refused by the module:\n";
      ok = false;
    }
    print_events(events, seen);
    OXT_delete_files(&ctx, &msg, got == 0 ? 0 : 1, hash.c_str());
    OXT_free_files(&msg);
    if (got != 0) break;
  }
  std::cout << number << (number == 1 ? " message" : " messages") << "\n";
  OXT_deinit_get_files(&ctx);
  return ok ? CommandLine::kDone : CommandLine::kFailed;
}

}  // namespace

int run_explain(const CommandLine &cl) {
  if (!open_store(cl.config, cl.key)) return CommandLine::kFailed;
  ScratchTree tree;
  std::string error;
  if (!tree.open(store_file(cl), &error)) {
    std::cerr << "zozerez-gateway explain: " << error << "\n";
    return CommandLine::kFailed;
  }
  return cl.explain.what == "incoming" ? explain_incoming(cl, tree) : explain_outgoing(cl, tree);
}

}  // namespace zz::gateway
