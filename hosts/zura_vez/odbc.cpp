// odbc.cpp - statements are prepared, parameters bound by value for the one
// execution, and columns read with SQLGetData in pieces so that long texts
// and byte strings come back whole.
#include "zura_vez/odbc.h"

namespace zz::zura {
namespace {

bool ok(SQLRETURN r) {
  return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO;
}

}  // namespace

std::string diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLCHAR text[1024] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!ok(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length))) {
    return "no diagnostic from the driver";
  }
  // One line: drivers break their texts over lines for a terminal.
  std::string line = std::string(reinterpret_cast<char *>(state)) + ": ";
  for (const char *c = reinterpret_cast<char *>(text); *c != '\0'; ++c) {
    const bool space = *c == '\n' || *c == '\r' || *c == '\t' || *c == ' ';
    if (!space) {
      line += *c;
    } else if (line.back() != ' ') {
      line += ' ';
    }
  }
  while (line.back() == ' ') line.pop_back();
  return line;
}

Connection::~Connection() {
  close();
}

void Connection::close() {
  for (auto &[sql, st] : statements_) SQLFreeHandle(SQL_HANDLE_STMT, st);
  statements_.clear();
  if (connected_) SQLDisconnect(dbc_);
  if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  connected_ = false;
  dbc_ = SQL_NULL_HDBC;
  env_ = SQL_NULL_HENV;
}

bool Connection::fail(SQLSMALLINT type, SQLHANDLE handle, std::string *error) {
  *error = diagnostic(type, handle);
  // Class 08 is a connection failure; 57P0x a server shutting down.
  if (error->rfind("08", 0) == 0 || error->rfind("57P0", 0) == 0) lost_ = true;
  SQLUINTEGER dead = SQL_CD_FALSE;
  if (connected_ && ok(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
      dead == SQL_CD_TRUE) {
    lost_ = true;
  }
  return false;
}

bool Connection::reopen(std::string *error) {
  close();
  return open(connect_, login_timeout_, error);
}

bool Connection::open(const std::string &connect, uint32_t login_timeout, std::string *error) {
  connect_ = connect;
  login_timeout_ = login_timeout;
  lost_ = false;
  if (!ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)) ||
      !ok(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                        0)) ||
      !ok(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
    *error = "the ODBC driver manager cannot be used";
    return false;
  }
  if (login_timeout != 0) {
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(login_timeout)), 0);
  }
  // A bare name is a data source; anything with "=" a connection string.
  const std::string text = connect.find('=') == std::string::npos ? "DSN=" + connect : connect;
  SQLCHAR out[1024];
  SQLSMALLINT out_length = 0;
  if (!ok(SQLDriverConnect(dbc_, nullptr, (SQLCHAR *)text.c_str(), SQL_NTS, out, sizeof out,
                           &out_length, SQL_DRIVER_NOPROMPT))) {
    *error = diagnostic(SQL_HANDLE_DBC, dbc_);
    lost_ = true;  // still unconnected: the next call tries again
    return false;
  }
  connected_ = true;
  SQLCHAR name[128] = {};
  SQLSMALLINT name_length = 0;
  SQLGetInfo(dbc_, SQL_DBMS_NAME, name, sizeof name, &name_length);
  dbms_ = reinterpret_cast<char *>(name);
  return true;
}

bool Connection::run(const std::string &sql, const std::vector<Value> &params,
                     std::vector<Row> *rows, std::string *error, int64_t *changed) {
  // A statement is prepared once per connection and kept: the same few
  // statements run for every message. One that failed is made afresh next
  // time, so no driver state of a failure is carried on.
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    if (!ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st))) return fail(SQL_HANDLE_DBC, dbc_, error);
    if (!ok(SQLPrepare(st, (SQLCHAR *)sql.c_str(), SQL_NTS))) {
      fail(SQL_HANDLE_STMT, st, error);
      SQLFreeHandle(SQL_HANDLE_STMT, st);
      return false;
    }
    found = statements_.emplace(sql, st).first;
  }
  const SQLHSTMT st = found->second;
  const bool done = execute(st, params, rows, error, changed);
  SQLFreeStmt(st, SQL_CLOSE);
  SQLFreeStmt(st, SQL_RESET_PARAMS);
  if (!done) {
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    statements_.erase(found);
  }
  return done;
}

bool Connection::execute(SQLHSTMT st, const std::vector<Value> &params, std::vector<Row> *rows,
                         std::string *error, int64_t *changed) {
  std::vector<SQLLEN> lengths(params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    const Value &v = params[i];
    const auto n = static_cast<SQLUSMALLINT>(i + 1);
    SQLRETURN r;
    switch (v.kind) {
      case Value::Kind::kNull:
        lengths[i] = SQL_NULL_DATA;
        r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr, 0,
                             &lengths[i]);
        break;
      case Value::Kind::kNumber:
        lengths[i] = 0;
        r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                             const_cast<int64_t *>(&v.number), 0, &lengths[i]);
        break;
      case Value::Kind::kText:
        lengths[i] = static_cast<SQLLEN>(v.text.size());
        r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, v.text.size() + 1,
                             0, const_cast<char *>(v.text.data()),
                             static_cast<SQLLEN>(v.text.size()), &lengths[i]);
        break;
      case Value::Kind::kBytes:
        lengths[i] = static_cast<SQLLEN>(v.text.size());
        r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                             v.text.size() + 1, 0, const_cast<char *>(v.text.data()),
                             static_cast<SQLLEN>(v.text.size()), &lengths[i]);
        break;
    }
    if (!ok(r)) {
      return fail(SQL_HANDLE_STMT, st, error);
    }
  }
  const SQLRETURN executed = SQLExecute(st);
  if (!ok(executed) && executed != SQL_NO_DATA) {
    return fail(SQL_HANDLE_STMT, st, error);
  }
  if (executed == SQL_NO_DATA) {  // a change that met no row: no count, no cursor
    if (changed != nullptr) *changed = 0;
    return true;
  }
  if (changed != nullptr) {
    SQLLEN count = 0;
    SQLRowCount(st, &count);
    *changed = count;
  }
  SQLSMALLINT columns = 0;
  SQLNumResultCols(st, &columns);
  if (rows == nullptr || columns == 0) return true;
  // Byte strings come as bytes; everything else as text, which every driver
  // can give (psqlODBC gives numbers in no binary form).
  std::vector<bool> binary(columns + 1, false);
  for (SQLUSMALLINT c = 1; c <= columns; ++c) {
    SQLSMALLINT type = 0, digits = 0, nullable = 0, name_length = 0;
    SQLULEN size = 0;
    SQLCHAR name[64];
    SQLDescribeCol(st, c, name, sizeof name, &name_length, &type, &size, &digits, &nullable);
    binary[c] = type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
  }
  while (true) {
    const SQLRETURN fetched = SQLFetch(st);
    if (fetched == SQL_NO_DATA) break;
    if (!ok(fetched)) {
      return fail(SQL_HANDLE_STMT, st, error);
    }
    Row row;
    for (SQLUSMALLINT c = 1; c <= columns; ++c) {
      const SQLSMALLINT target = binary[c] ? SQL_C_BINARY : SQL_C_CHAR;
      const size_t room = binary[c] ? 8192 : 8191;  // a text piece ends with its zero byte
      std::string value;
      bool null = false;
      char chunk[8192];
      for (;;) {
        SQLLEN got = 0;
        const SQLRETURN r = SQLGetData(st, c, target, chunk, sizeof chunk, &got);
        if (r == SQL_NO_DATA) break;
        if (!ok(r)) {
          return fail(SQL_HANDLE_STMT, st, error);
        }
        if (got == SQL_NULL_DATA) {
          null = true;
          break;
        }
        const size_t piece = got == SQL_NO_TOTAL || got > static_cast<SQLLEN>(room)
                                 ? room
                                 : static_cast<size_t>(got);
        value.append(chunk, piece);
        if (r == SQL_SUCCESS) break;
      }
      row.push_back(null ? std::nullopt : std::optional<std::string>(value));
    }
    rows->push_back(std::move(row));
  }
  return true;
}

bool Connection::begin(std::string *error) {
  if (!ok(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    return fail(SQL_HANDLE_DBC, dbc_, error);
  }
  return true;
}

bool Connection::commit(std::string *error) {
  const bool done = ok(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT));
  if (!done) fail(SQL_HANDLE_DBC, dbc_, error);
  SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  return done;
}

void Connection::rollback() {
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

}  // namespace zz::zura
