// postgres.cpp - the server refuses to run as root, so the cluster belongs to
// the postgres user and is driven through runuser; connections are trusted
// from the loopback address only.
#include "support/postgres.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glob.h>
#include <cstdlib>

namespace zz::test {
namespace {

constexpr const char kPsqlOdbc[] = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

bool quiet(const std::string &command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

bool PrivatePostgres::start(std::string *reason) {
  glob_t found{};
  if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) != 0 || found.gl_pathc == 0) {
    globfree(&found);
    *reason = "the PostgreSQL server binaries are not installed (postgresql)";
    return false;
  }
  bin_ = std::string(found.gl_pathv[found.gl_pathc - 1]);
  bin_ = bin_.substr(0, bin_.rfind('/'));
  globfree(&found);
  if (access(kPsqlOdbc, R_OK) != 0) {
    *reason = "the PostgreSQL ODBC driver is not installed (odbc-postgresql)";
    return false;
  }
  char templ[] = "/tmp/zz-pg.XXXXXX";
  if (mkdtemp(templ) == nullptr || !quiet(std::string("chown postgres ") + templ)) {
    *reason = "no temporary directory for the postgres user";
    return false;
  }
  chmod(templ, 0755);
  dir_ = templ;
  port_ = free_port();
  const std::string as_postgres = "runuser -u postgres -- ";
  if (!quiet(as_postgres + bin_ + "/initdb -D " + dir_ + "/data -U zz --auth=trust")) {
    *reason = "initdb failed in " + dir_;
    return false;
  }
  if (!run()) {
    *reason = "the server did not start (see " + dir_ + "/log)";
    return false;
  }
  return true;
}

bool PrivatePostgres::run() {
  running_ = quiet("runuser -u postgres -- " + bin_ + "/pg_ctl -D " + dir_ + "/data -w -l " + dir_ +
                   "/log -o \"-k " + dir_ + " -p " + std::to_string(port_) +
                   " -c listen_addresses=127.0.0.1\" start");
  return running_;
}

bool PrivatePostgres::stop() {
  running_ = !quiet("runuser -u postgres -- " + bin_ + "/pg_ctl -D " + dir_ + "/data -m fast stop");
  return !running_;
}

std::string PrivatePostgres::dsn() const {
  return std::string("Driver=") + kPsqlOdbc + ";Server=127.0.0.1;Port=" + std::to_string(port_) +
         ";Database=postgres;Uid=zz;ByteaAsLongVarBinary=1";
}

bool PrivatePostgres::sql(const std::string &statement) const {
  return quiet(bin_ + "/psql -h 127.0.0.1 -p " + std::to_string(port_) +
               " -U zz -d postgres -v ON_ERROR_STOP=1 -c \"" + statement + "\"");
}

PrivatePostgres::~PrivatePostgres() {
  if (running_) {
    quiet("runuser -u postgres -- " + bin_ + "/pg_ctl -D " + dir_ + "/data -m fast stop");
  }
  if (!dir_.empty()) quiet("rm -rf " + dir_);
}

}  // namespace zz::test
