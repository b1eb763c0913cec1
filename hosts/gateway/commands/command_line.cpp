// command_line.cpp - the commands and options as CLI11 declares them. Help
// goes to standard output with exit 0; an unknown command or option is one
// line and the short usage on standard error with exit 2. The options
// --config and --key belong to the program and may follow any command.
#include "gateway/commands/command_line.h"

#include <CLI/CLI.hpp>

#include <map>
#include <sstream>

#ifndef ZOZEREZ_VERSION
#define ZOZEREZ_VERSION "0"
#endif
#ifndef ZOZEREZ_BUILD
#define ZOZEREZ_BUILD "unknown"
#endif

namespace zz::gateway {
namespace {

constexpr const char kUsage[] =
    "usage: zozerez-gateway COMMAND [OPTIONS] [--config FILE] [--key KEY]\n"
    "commands: config, store, collect, receipt, run, status, check, explain, sign, verify,\n"
    "certs, db, deliver; "
    "zozerez-gateway "
    "--help tells more\n";

#define ZZ_FOOTER                                                                         \
  "Exit status: 0 done, 1 failed, 2 usage error.\n"                                       \
  "Environment: RORIV_STORE (the store when --config is not given), RORIV_KEY (the key\n" \
  "when --key is not given), RORIV_LOG (a file every event is also appended to).\n"

constexpr const char kFooter[] = ZZ_FOOTER;
constexpr const char kEveryCommand[] =
    "Every command also takes --config FILE and --key KEY.\n" ZZ_FOOTER;

// signer_and_file - CLI11's check of a "SIGNER=FILE" value; "" when it is one
std::string signer_and_file(const std::string &value) {
  return value.find('=') == std::string::npos ? "expected SIGNER=FILE" : "";
}

// sender - "TYPE:ADDRESS" or a bare address (SMTP)
void split_sender(const std::string &value, StoreOptions *o) {
  const size_t colon = value.find(':');
  if (colon == std::string::npos) {
    o->from_address = value;
  } else {
    o->from_type = value.substr(0, colon);
    o->from_address = value.substr(colon + 1);
  }
}

void declare(CLI::App &app, CommandLine *cl, std::vector<std::string> *signatures,
             std::vector<std::string> *db_signatures, std::string *sender, std::string *status,
             std::string *explain_sender) {
  app.description(
      "zozerez-gateway - the host program of the zozerez module: stores received files by\n"
      "the input rules, collects files to send by the output rules, and runs the gateway.");
  app.footer(kFooter);
  app.set_version_flag("--version", version_text());
  app.require_subcommand(1);
  app.add_option("--config", cl->config,
                 "the configuration store, a .reg file (else $RORIV_STORE, else "
                 "/etc/zozerez/gateway.reg)")
      ->type_name("FILE");
  app.add_option("--key", cl->key,
                 "the gateway's key in the store (else $RORIV_KEY, else the first key)")
      ->type_name("KEY");

  CLI::App *config = app.add_subcommand("config",
                                        "print every setting the module reads, "
                                        "marking absent required ones");
  config->fallthrough()->footer(kEveryCommand);

  CLI::App *store = app.add_subcommand(
      "store", "store FILE as an incoming message and print where the input rules put it");
  store->fallthrough()->footer(kEveryCommand);
  store->add_option("FILE", cl->store.file, "the received file")->required();
  store->add_option("--from", *sender, "the sender, TYPE:ADDRESS or an SMTP address")
      ->required()
      ->type_name("TYPE:ADDRESS");
  store->add_option("--to", cl->store.to, "a recipient (repeat for more)")->type_name("ADDRESS");
  store->add_option("--name", cl->store.name, "the file's name in the message (else its own)")
      ->type_name("NAME");
  store->add_flag("--encrypted", "the message was encrypted");
  store->add_flag("--signed", "the message was signed");
  store->add_flag("--receipt", "the message is a receipt");
  store->add_flag("--rsa", "the message is an RSA message");
  store
      ->add_option("--signature", *signatures,
                   "a signature of the file by SIGNER (repeat for more)")
      ->type_name("SIGNER=FILE")
      ->check(signer_and_file);

  CLI::App *collect = app.add_subcommand(
      "collect", "one outgoing cycle: print, complete and release every message");
  collect->fallthrough()->footer(kEveryCommand);
  collect->add_option("--status", *status, "how every message is completed (default sent)")
      ->check(CLI::IsMember({"sent", "failed", "retry"}));
  collect->add_option("--hash", cl->collect.hash, "the hash to complete with (else the message's)")
      ->type_name("TEXT");

  CLI::App *receipt =
      app.add_subcommand("receipt", "a receipt arrived for HASH: close its guaranteed delivery");
  receipt->fallthrough()->footer(kEveryCommand);
  receipt->add_option("HASH", cl->receipt_hash, "the message hash the receipt names")->required();

  CLI::App *run = app.add_subcommand(
      "run", "the service loop: outbox and inbox Maildirs, receipts, recovery after a stop");
  run->fallthrough()->footer(kEveryCommand);
  run->add_flag("--once", cl->run.once, "one round, then exit");
  run->add_flag("--verbose", cl->run.verbose, "log the module's events of every message");

  CLI::App *sign = app.add_subcommand(
      "sign", "sign every file of the send directory DIR into its signature list");
  sign->fallthrough()->footer(kEveryCommand);
  sign->add_option("DIR", cl->sign.dir, "the send directory")->required();
  sign->add_option("--key", cl->sign.key, "the signer's private key, PEM, mode 0600")
      ->required()
      ->type_name("FILE");
  sign->add_option("--cert", cl->sign.cert, "the signer's certificate, PEM")
      ->required()
      ->type_name("FILE");
  sign->add_option("--name", cl->sign.name, "the signer's name in the list (else the CN)")
      ->type_name("NAME");
  sign->add_option("--address", cl->sign.address,
                   "the signer's address in the list (else the certificate's e-mail)")
      ->type_name("ADDRESS");

  CLI::App *verify = app.add_subcommand(
      "verify", "check the send directory DIR as the signature check mode does, file by file");
  verify->fallthrough()->footer(kEveryCommand);
  verify->add_option("DIR", cl->verify_dir, "the send directory")->required();

  CLI::App *db = app.add_subcommand(
      "db",
      "the message database: init (make the schema), enqueue FILE..., list, show GUID, "
      "requeue [GUID...]");
  db->fallthrough()->footer(kEveryCommand);
  db->add_option("ACTION", cl->db.action, "init, enqueue, list, show or requeue")
      ->required()
      ->check(CLI::IsMember({"init", "enqueue", "list", "show", "requeue"}));
  db->add_option("FILE", cl->db.files,
                 "enqueue: the files the message carries; show, requeue: message GUIDs");
  db->add_option("--state", cl->db.state,
                 "list: the messages in this state (queued, claimed, failed, sent, stored)")
      ->type_name("STATE");
  db->add_option("--to", cl->db.to, "enqueue: a recipient, TYPE:ADDRESS (repeat for more)")
      ->type_name("ADDRESS");
  db->add_option("--subject", cl->db.subject, "enqueue: the subject")->type_name("TEXT");
  db->add_option("--from", cl->db.from, "enqueue: the sender's SMTP address")->type_name("ADDRESS");
  db->add_flag("--signed", cl->db.signed_message,
               "enqueue: the message is signed (its signature list is made from --signature)");
  db->add_option("--signature", *db_signatures,
                 "enqueue: a detached signature of the first file by SIGNER (repeat for more)")
      ->type_name("SIGNER=FILE")
      ->check(signer_and_file);

  CLI::App *status_command = app.add_subcommand(
      "status",
      "what waits in each rule directory, what is in hand or stuck, what failed, which "
      "guaranteed deliveries wait for a receipt, and the running service's last round; reads "
      "only");
  status_command->fallthrough()->footer(kEveryCommand);
  status_command->add_flag("--json", cl->status.json,
                           "print JSON for scripts (times in Unix seconds)");
  status_command->add_option("--events", cl->status.events, "how many of the last events to show")
      ->type_name("N");

  CLI::App *check = app.add_subcommand(
      "check", "check the configuration and every directory it names before the service starts");
  check->fallthrough()->footer(kEveryCommand);

  CLI::App *explain = app.add_subcommand(
      "explain",
      "where would this go, and why: incoming FILE --from ADDR runs the input rules on a "
      "scratch copy and tells each rule's verdict and the path the file would get; outgoing "
      "DIR shows the messages the module would build from an output rule's directory");
  explain->fallthrough()->footer(kEveryCommand);
  explain->add_option("WHAT", cl->explain.what, "incoming or outgoing")
      ->required()
      ->check(CLI::IsMember({"incoming", "outgoing"}));
  explain
      ->add_option("PATH", cl->explain.path,
                   "incoming: the received file; outgoing: the output rule's directory")
      ->required();
  explain
      ->add_option("--from", *explain_sender,
                   "incoming: the sender, TYPE:ADDRESS or an SMTP address")
      ->type_name("TYPE:ADDRESS");
  explain->add_option("--to", cl->explain.message.to, "incoming: a recipient (repeat for more)")
      ->type_name("ADDRESS");
  explain
      ->add_option("--name", cl->explain.message.name,
                   "incoming: the file's name in the message (else its own)")
      ->type_name("NAME");
  explain->add_flag("--encrypted", "incoming: the message was encrypted");
  explain->add_flag("--signed", "incoming: the message was signed");
  explain->add_flag("--receipt", "incoming: the message is a receipt");
  explain->add_flag("--rsa", "incoming: the message is an RSA message");

  CLI::App *certs = app.add_subcommand(
      "certs", "list the certificate directory: subject, e-mail, serial, expiry, trusted");
  certs->fallthrough()->footer(kEveryCommand);

  CLI::App *deliver = app.add_subcommand(
      "deliver",
      "take one message on standard input into the inbox Maildir (a mail server's pipe)");
  deliver->fallthrough()->footer(
      "Every command also takes --config FILE and --key KEY.\n"
      "Exit status (sysexits, as mail servers read it): 0 taken, 65 not a mail message,\n"
      "75 not taken now, try again (the inbox cannot be written), 78 the settings cannot be "
      "used.\n");
}

}  // namespace

std::string version_text() {
  return std::string("zozerez-gateway ") + ZOZEREZ_VERSION + " (build " + ZOZEREZ_BUILD + ")";
}

CommandLine parse_command_line(int argc, const char *const *argv) {
  CommandLine cl;
  CLI::App app("", "zozerez-gateway");
  std::vector<std::string> signatures, db_signatures;
  std::string sender, status = "sent", explain_sender;
  declare(app, &cl, &signatures, &db_signatures, &sender, &status, &explain_sender);
  std::ostringstream out, err;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    app.exit(e, out, err);
    cl.out = out.str();
    return cl;
  } catch (const CLI::CallForVersion &e) {
    cl.out = version_text() + "\n";
    return cl;
  } catch (const CLI::ParseError &e) {
    cl.exit_code = CommandLine::kUsage;
    // A first word that names no command is left over before any command.
    const std::vector<std::string> rest = app.remaining();
    cl.err = app.get_subcommands().empty() && !rest.empty() && rest.front()[0] != '-'
                 ? "zozerez-gateway: unknown command \"" + rest.front() + "\"\n" + kUsage
                 : std::string("zozerez-gateway: ") + e.what() + "\n" + kUsage;
    return cl;
  }
  cl.command = app.get_subcommands().front()->get_name();
  const std::map<std::string, uint32_t> kinds = {
      {"--encrypted", 1}, {"--signed", 2}, {"--receipt", 4}, {"--rsa", 8}};
  if (cl.command == "explain") {
    StoreOptions &m = cl.explain.message;
    if (cl.explain.what == "incoming" && explain_sender.empty()) {
      cl.command.clear();
      cl.exit_code = CommandLine::kUsage;
      cl.err = std::string("zozerez-gateway: explain incoming needs --from\n") + kUsage;
      return cl;
    }
    split_sender(explain_sender, &m);
    for (const auto &[flag, bit] : kinds) {
      if (app.get_subcommand("explain")->count(flag) != 0) m.flags |= bit;
    }
    m.file = cl.explain.path;
    if (m.name.empty()) {
      const size_t slash = m.file.find_last_of('/');
      m.name = slash == std::string::npos ? m.file : m.file.substr(slash + 1);
    }
  }
  if (cl.command == "store") {
    split_sender(sender, &cl.store);
    const CLI::App *store = app.get_subcommand("store");
    for (const auto &[flag, bit] : kinds) {
      if (store->count(flag) != 0) cl.store.flags |= bit;
    }
    for (const std::string &s : signatures) {
      cl.store.signatures.emplace_back(s.substr(0, s.find('=')), s.substr(s.find('=') + 1));
    }
    if (cl.store.name.empty()) {
      const size_t slash = cl.store.file.find_last_of('/');
      cl.store.name = slash == std::string::npos ? cl.store.file : cl.store.file.substr(slash + 1);
    }
  } else if (cl.command == "db") {
    for (const std::string &s : db_signatures) {
      cl.db.signatures.emplace_back(s.substr(0, s.find('=')), s.substr(s.find('=') + 1));
    }
  } else if (cl.command == "collect") {
    cl.collect.status = status == "sent" ? 0 : status == "retry" ? 1 : 2;
  }
  return cl;
}

}  // namespace zz::gateway
