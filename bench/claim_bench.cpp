// claim_bench.cpp - outgoing database messages claimed and released per
// second through zura_vez (BdReadMsg, then BdFreeMsg as sent), by 1 and by
// 4 processes draining one queue, on SQLite (a database file in the scratch
// directory) and on PostgreSQL (a private cluster). The floor is the bare
// claim and release the same work needs, through ODBC with statements
// prepared once: in one transaction the oldest queued row selected (FOR
// UPDATE SKIP LOCKED on PostgreSQL, BEGIN IMMEDIATE on SQLite) and marked
// claimed, then marked sent. Module and floor take turns on the same queue.
//
// usage: claim_bench [--dir DIR] [--messages N] [--rounds N] [--no-postgres]
#include <sql.h>
#include <sqlext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "support/postgres.h"
#include "zura_vez/odbc.h"
#include "zura_vez/zura_vez.h"

namespace {

using zz::zura::Connection;
using zz::zura::Value;

constexpr char kSqlite[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

bool ok(SQLRETURN r) {
  return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO;
}

// fill_queue - an empty queue of `n` messages, each with one recipient and
// one attachment, as `db enqueue` makes them
bool fill_queue(const std::string &dsn, int n) {
  BD_HANDLE h = 0;
  BdInitParams p{dsn.c_str(), 5, 1};
  if (BdInit(&h, &p) != 0) return false;
  BdClose(h);
  Connection db;
  std::string error;
  if (!db.open(dsn, 5, &error)) return false;
  for (const char *table : {"zz_message", "zz_recipient", "zz_attachment", "zz_signature"}) {
    if (!db.run(std::string("DELETE FROM ") + table, {}, nullptr, &error)) return false;
  }
  if (!db.begin(&error)) return false;
  for (int i = 0; i < n; ++i) {
    const Value guid = Value::text_of("bench-" + std::to_string(i));
    if (!db.run("INSERT INTO zz_message (guid, direction, state, flags, subject, body, "
                "sender_type, sender_address, created) VALUES (?, 2, 'queued', 0, ?, ?, 'SMTP', "
                "'branch@example.org', ?)",
                {guid, Value::text_of("Report " + std::to_string(i)),
                 Value::bytes_of("Please find the report attached."), Value::number_of(i)},
                nullptr, &error) ||
        !db.run("INSERT INTO zz_recipient (guid, position, type, address) VALUES "
                "(?, 0, 'SMTP', 'desk@example.org')",
                {guid}, nullptr, &error) ||
        !db.run("INSERT INTO zz_attachment (guid, position, att_guid, name, path) VALUES "
                "(?, 0, ?, 'report.txt', ?)",
                {guid, Value::text_of("att-" + std::to_string(i)),
                 Value::text_of("/var/lib/zozerez/att/" + std::to_string(i) + "/report.txt")},
                nullptr, &error)) {
      std::fprintf(stderr, "cannot queue: %s\n", error.c_str());
      db.rollback();
      return false;
    }
  }
  return db.commit(&error);
}

// drain_module - claims and releases through zura_vez until the queue is empty
int drain_module(const std::string &dsn) {
  BD_HANDLE h = 0;
  BdInitParams p{dsn.c_str(), 5, 1};
  if (BdInit(&h, &p) != 0) return -1;
  int done = 0;
  for (int busy = 0; busy < 1000;) {
    BdMsg msg{};
    const uint32_t r = BdReadMsg(h, &msg);
    if (r == 1) break;
    if (r != 0) {  // another process holds the database file for a moment
      ++busy;
      continue;
    }
    if (BdFreeMsg(h, &msg, 1, "HASH") != 0) return -1;
    ++done;
  }
  BdClose(h);
  return done;
}

// Statement - one prepared ODBC statement, executed many times
struct Statement {
  SQLHSTMT st = SQL_NULL_HSTMT;
  char guid[80] = {};
  SQLLEN guid_length = SQL_NTS;
  bool prepare(SQLHDBC dbc, const char *sql, bool bind_guid) {
    if (!ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st)) ||
        !ok(SQLPrepare(st, (SQLCHAR *)sql, SQL_NTS))) {
      return false;
    }
    return !bind_guid || ok(SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                             sizeof guid, 0, guid, sizeof guid, &guid_length));
  }
  bool run() {
    const SQLRETURN r = SQLExecute(st);
    return ok(r) || r == SQL_NO_DATA;
  }
  ~Statement() {
    if (st != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, st);
  }
};

// drain_floor - the bare claim and release, prepared once, until the queue is empty
int drain_floor(const std::string &dsn, bool postgres) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!ok(SQLDriverConnect(dbc, nullptr, (SQLCHAR *)dsn.c_str(), SQL_NTS, nullptr, 0, nullptr,
                           SQL_DRIVER_NOPROMPT))) {
    return -1;
  }
  int done = 0;
  {
    Statement begin, pick, claim, commit, release;
    // SQLite: BEGIN IMMEDIATE takes the write lock before the SELECT, as a
    // claim must; PostgreSQL: the row lock of FOR UPDATE does that.
    const bool prepared =
        (postgres ||
         (begin.prepare(dbc, "BEGIN IMMEDIATE", false) && commit.prepare(dbc, "COMMIT", false))) &&
        pick.prepare(dbc,
                     postgres ? "SELECT guid FROM zz_message WHERE direction = 2 AND state = "
                                "'queued' ORDER BY created, guid LIMIT 1 FOR UPDATE SKIP LOCKED"
                              : "SELECT guid FROM zz_message WHERE direction = 2 AND state = "
                                "'queued' ORDER BY created, guid LIMIT 1",
                     false) &&
        claim.prepare(dbc, "UPDATE zz_message SET state = 'claimed' WHERE guid = ?", true) &&
        release.prepare(dbc, "UPDATE zz_message SET state = 'sent' WHERE guid = ?", true);
    if (!prepared) return -1;
    if (postgres) {
      SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                        0);
    }
    for (int busy = 0; busy < 1000;) {
      if (!postgres && !begin.run()) {
        ++busy;
        continue;
      }
      bool found = false;
      if (pick.run()) {
        SQLLEN got = 0;
        found = ok(SQLFetch(pick.st)) &&
                ok(SQLGetData(pick.st, 1, SQL_C_CHAR, claim.guid, sizeof claim.guid, &got));
        SQLCloseCursor(pick.st);
      }
      const bool claimed = found && claim.run();
      if (postgres) {
        SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
      } else {
        commit.run();
      }
      if (!found) break;
      if (!claimed) {
        ++busy;
        continue;
      }
      std::memcpy(release.guid, claim.guid, sizeof release.guid);
      if (postgres) {
        if (!release.run() || !ok(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT))) return -1;
      } else if (!release.run()) {
        return -1;
      }
      ++done;
    }
  }
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return done;
}

// drain - `processes` processes drain the queue one way; seconds taken, or
// a negative number when a message went missing or twice
template <class Drain>
double drain(int processes, int messages, Drain work) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> children;
  std::vector<int> pipes;
  for (int i = 0; i < processes; ++i) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
      const int done = work();
      (void)!write(fds[1], &done, sizeof done);
      _exit(done < 0 ? 1 : 0);
    }
    close(fds[1]);
    children.push_back(child);
    pipes.push_back(fds[0]);
  }
  int total = 0;
  for (size_t i = 0; i < children.size(); ++i) {
    int done = -1;
    if (read(pipes[i], &done, sizeof done) != sizeof done || done < 0) total = -1000000;
    total += done;
    close(pipes[i]);
    waitpid(children[i], nullptr, 0);
  }
  const double seconds = zz::bench::seconds_since(start);
  if (total != messages) {
    std::fprintf(stderr, "drained %d of %d messages\n", total, messages);
    return -1;
  }
  return seconds;
}

void measure(const char *name, const std::string &dsn, bool postgres, int messages, int rounds) {
  for (int processes : {1, 4}) {
    double module = 0, floor = 0;
    for (int r = 0; r < rounds; ++r) {
      if (!fill_queue(dsn, messages)) return;
      const double m = drain(processes, messages, [&] { return drain_module(dsn); });
      if (!fill_queue(dsn, messages)) return;
      const double f = drain(processes, messages, [&] { return drain_floor(dsn, postgres); });
      if (m < 0 || f < 0) return;
      module += m;
      floor += f;
    }
    const double ratio = module / floor;
    std::printf(
        "%-10s %d process%s: module %7.0f msg/s  floor %7.0f msg/s  ratio %.2f (goal <= 1.5) %s\n",
        name, processes, processes == 1 ? "  " : "es", messages * rounds / module,
        messages * rounds / floor, ratio, ratio <= 1.5 ? "ok" : "MISSED");
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char **argv) {
  std::string dir;
  int messages = 2000, rounds = 3;
  bool postgres = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg == "--messages" && i + 1 < argc) {
      messages = std::atoi(argv[++i]);
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (arg == "--no-postgres") {
      postgres = false;
    } else {
      std::fprintf(stderr,
                   "usage: claim_bench [--dir DIR] [--messages N] [--rounds N] [--no-postgres]\n");
      return arg == "--help" ? 0 : 2;
    }
  }
  zura_vez_configure("bench", 600, 0);
  if (dir.empty()) {
    const char *tmp = std::getenv("TMPDIR");
    dir = tmp != nullptr && *tmp != '\0' ? tmp : "/var/tmp";
  }
  zz::bench::Scratch scratch(dir);
  const std::string where = scratch.path();
  std::printf("claim and release, %d messages x %d rounds\n", messages, rounds);
  measure("SQLite",
          std::string("Driver=") + kSqlite + ";Database=" + where + "/claims.db;Timeout=20000",
          false, messages, rounds);
  if (!postgres) return 0;
  zz::test::PrivatePostgres pg;
  std::string why;
  if (!pg.start(&why)) {
    std::printf("PostgreSQL: not measured (%s)\n", why.c_str());
    return 0;
  }
  measure("PostgreSQL", pg.dsn(), true, messages, rounds);
  return 0;
}
