// odbc.h - the few ODBC calls the message database needs, with handles that
// free themselves: a connection, and statements whose parameters and columns
// are texts, numbers or byte strings. Every failure carries the driver's
// diagnostic text.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zz::zura {

class Connection;

// A parameter: a text, a 64-bit number, bytes, or null.
struct Value {
  enum class Kind { kNull, kText, kNumber, kBytes } kind = Kind::kNull;
  std::string text;  // text or bytes
  int64_t number = 0;
  static Value text_of(std::string t) { return {Kind::kText, std::move(t), 0}; }
  static Value number_of(int64_t n) { return {Kind::kNumber, {}, n}; }
  static Value bytes_of(std::string b) { return {Kind::kBytes, std::move(b), 0}; }
};

using Row = std::vector<std::optional<std::string>>;  // columns as bytes; nullopt for null

class Connection {
 public:
  ~Connection();
  // open - connects with an ODBC connection string (or a DSN name); false with `error`
  bool open(const std::string &connect, uint32_t login_timeout, std::string *error);
  // lost - whether the last failure left the connection dead (the server went
  // away, the network broke); such a connection is only good for reopen
  bool lost() const { return lost_; }
  // reopen - connects again as open did
  bool reopen(std::string *error);
  // run - one statement; rows, when it gives any, into `rows`; false with `error`
  bool run(const std::string &sql, const std::vector<Value> &params, std::vector<Row> *rows,
           std::string *error, int64_t *changed = nullptr);
  // transaction - autocommit off until commit or rollback
  bool begin(std::string *error);
  bool commit(std::string *error);
  void rollback();
  // dbms - the server's product name ("SQLite", "PostgreSQL", ...)
  const std::string &dbms() const { return dbms_; }

 private:
  // execute - one run of a prepared statement
  bool execute(SQLHSTMT st, const std::vector<Value> &params, std::vector<Row> *rows,
               std::string *error, int64_t *changed);
  // fail - `error` from the handle's diagnostic, noting a dead connection
  bool fail(SQLSMALLINT type, SQLHANDLE handle, std::string *error);
  void close();

  std::map<std::string, SQLHSTMT> statements_;  // prepared, by their text
  std::string connect_;
  uint32_t login_timeout_ = 0;
  bool lost_ = false;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  std::string dbms_;
};

// diagnostic - the driver's text for the last failure on a handle
std::string diagnostic(SQLSMALLINT type, SQLHANDLE handle);

}  // namespace zz::zura
