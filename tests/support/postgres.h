// postgres.h - a private PostgreSQL server for one test run: its own cluster
// in a temporary directory, listening on a free loopback port, stopped and
// removed at the end. Nothing system-wide is touched.
#pragma once

#include <string>

namespace zz::test {

class PrivatePostgres {
 public:
  PrivatePostgres() = default;
  ~PrivatePostgres();
  PrivatePostgres(const PrivatePostgres &) = delete;
  PrivatePostgres &operator=(const PrivatePostgres &) = delete;

  // start - false with the reason (no server binaries, no postgres user, ...)
  bool start(std::string *reason);
  // dsn - an ODBC connection string to the cluster's "postgres" database
  std::string dsn() const;
  // sql - one statement through psql; true when it succeeded
  bool sql(const std::string &statement) const;
  // stop, run - the server goes away and comes back on the same port
  bool stop();
  bool run();

 private:
  std::string dir_, bin_;
  int port_ = 0;
  bool running_ = false;
};

}  // namespace zz::test
