// command_line.h - what a user typed, parsed with CLI11: the command, the
// options every command takes (--config, --key) and each command's own.
// parse_command_line never exits: it says what to do and what to print, so
// that main() and the tests see the same answers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zz::gateway {

struct StoreOptions {
  std::string file;
  std::string from_type = "SMTP";
  std::string from_address;
  std::vector<std::string> to;
  std::string name;  // empty: the file's own name
  uint32_t flags = 0;
  std::vector<std::pair<std::string, std::string>> signatures;  // signer, file
};

struct CollectOptions {
  uint32_t status = 0;  // 0 sent, 1 put back, 2 failed for good
  std::string hash;     // empty: the message's own hash
};

struct SignOptions {
  std::string dir, key, cert;
  std::string name, address;  // empty: the certificate's common name and e-mail
};

struct DbOptions {
  std::string action;                  // "init", "enqueue", "list", "show", "requeue"
  std::vector<std::string> files, to;  // files: GUIDs for show and requeue
  std::string subject, from, state;
  std::vector<std::pair<std::string, std::string>> signatures;  // signer, file: of the first file
  bool signed_message = false;
};

struct RunOptions {
  bool once = false;
  bool verbose = false;
};

struct StatusOptions {
  bool json = false;
  size_t events = 10;  // the last events shown, from RORIV_LOG's file
};

struct ExplainOptions {
  std::string what;      // "incoming" or "outgoing"
  std::string path;      // the received file, or the output rule's directory
  StoreOptions message;  // incoming: the message as `store` takes it
};

struct CommandLine {
  // Exit codes: 0 done, 1 failed, 2 usage.
  static constexpr int kDone = 0, kFailed = 1, kUsage = 2;

  std::string command;  // "config", "store", "collect", "receipt", "run"; empty: exit now
  int exit_code = kDone;
  std::string out, err;  // what to print before exiting (help, version, errors)
  std::string config, key;
  StoreOptions store;
  CollectOptions collect;
  std::string receipt_hash;
  RunOptions run;
  SignOptions sign;
  std::string verify_dir;
  DbOptions db;
  StatusOptions status;
  ExplainOptions explain;
};

CommandLine parse_command_line(int argc, const char *const *argv);
// version_text - the program, its version and the build it came from
std::string version_text();

}  // namespace zz::gateway
