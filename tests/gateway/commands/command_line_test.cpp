// command_line_test.cpp - what each command line means: the command, the
// options wherever they stand, and which lines are usage errors (help,
// version and the streams they go to are checked from outside by
// cli_test.sh).
#include "gateway/commands/command_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace zz::gateway {
namespace {

CommandLine parse(std::vector<const char *> args) {
  args.insert(args.begin(), "zozerez-gateway");
  return parse_command_line(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, WhatEachLineMeans) {
  struct Row {
    std::vector<const char *> args;
    std::string command;
    int exit_code;
    std::function<bool(const CommandLine &)> holds;
  } rows[] = {
      {{"config", "--config", "a.reg", "--key", "K"},
       "config",
       0,
       [](const CommandLine &c) { return c.config == "a.reg" && c.key == "K"; }},
      {{"--config", "a.reg", "run", "--once"},
       "run",
       0,
       [](const CommandLine &c) { return c.config == "a.reg" && c.run.once && !c.run.verbose; }},
      {{"store", "--from", "EX:/o=x", "dir/f.txt", "--to", "a", "--to", "b", "--signed", "--rsa"},
       "store",
       0,
       [](const CommandLine &c) {
         const StoreOptions &s = c.store;
         return s.file == "dir/f.txt" && s.name == "f.txt" && s.from_type == "EX" &&
                s.from_address == "/o=x" && s.to == std::vector<std::string>{"a", "b"} &&
                s.flags == (2u | 8u);
       }},
      {{"store", "f", "--from", "a@b", "--name", "n.doc", "--signature", "Ivan=s.sgn"},
       "store",
       0,
       [](const CommandLine &c) {
         return c.store.from_type == "SMTP" && c.store.name == "n.doc" &&
                c.store.signatures.size() == 1 && c.store.signatures[0].first == "Ivan" &&
                c.store.signatures[0].second == "s.sgn";
       }},
      {{"store", "f", "--from", "a@b", "--encrypted", "--receipt"},
       "store",
       0,
       [](const CommandLine &c) { return c.store.flags == (1u | 4u); }},
      {{"collect", "--status", "retry", "--hash", "H"},
       "collect",
       0,
       [](const CommandLine &c) { return c.collect.status == 1 && c.collect.hash == "H"; }},
      {{"collect", "--status", "failed"},
       "collect",
       0,
       [](const CommandLine &c) { return c.collect.status == 2; }},
      {{"receipt", "ABC", "--key", "K"},
       "receipt",
       0,
       [](const CommandLine &c) { return c.receipt_hash == "ABC" && c.key == "K"; }},
      {{"sign", "d", "--cert", "c.pem", "--key", "k.pem", "--name", "Clerk"},
       "sign",
       0,
       [](const CommandLine &c) {
         return c.sign.dir == "d" && c.sign.key == "k.pem" && c.sign.cert == "c.pem" &&
                c.sign.name == "Clerk" && c.sign.address.empty() && c.key.empty();
       }},
      {{"--key", "K", "verify", "d"},
       "verify",
       0,
       [](const CommandLine &c) { return c.verify_dir == "d" && c.key == "K"; }},
      {{"certs"}, "certs", 0, nullptr},
      {{"sign", "d", "--key", "k.pem"},
       "",
       2,
       [](const CommandLine &c) { return c.err.find("--cert") != std::string::npos; }},
      {{"db", "requeue", "g1", "g2", "--config", "a.reg"},
       "db",
       0,
       [](const CommandLine &c) {
         return c.db.action == "requeue" && c.db.files == std::vector<std::string>{"g1", "g2"} &&
                c.config == "a.reg";
       }},
      {{"db", "list", "--state", "failed"},
       "db",
       0,
       [](const CommandLine &c) { return c.db.state == "failed"; }},
      {{"db", "frob"}, "", 2, nullptr},
      {{"store", "f"},
       "",
       2,
       [](const CommandLine &c) { return c.err.find("--from") != std::string::npos; }},
      {{"receipt"}, "", 2, nullptr},
      {{"run", "--once", "extra"}, "", 2, nullptr},
  };
  for (const Row &row : rows) {
    std::string line;
    for (const char *a : row.args) line += std::string(a) + " ";
    const CommandLine c = parse(row.args);
    EXPECT_EQ(c.command, row.command) << line;
    EXPECT_EQ(c.exit_code, row.exit_code) << line;
    EXPECT_TRUE(!row.holds || row.holds(c)) << line << c.err;
  }
}

}  // namespace
}  // namespace zz::gateway
