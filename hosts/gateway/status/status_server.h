// status_server.h - the running service's HTTP side (cpp-httplib): the status
// page at "/", the metrics at "/metrics", both gathered afresh for every
// request by reading the tree and the state file, as `status` does. Bound to
// 127.0.0.1 unless configured otherwise; any other address needs HTTP basic
// authentication from a password file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace zz::gateway {

struct StatusServerSettings {
  uint32_t port = 0;  // 0: no server
  std::string address = "127.0.0.1";
  std::string password_file;  // "user:password" lines, readable by its owner only
  int refresh = 30;           // seconds between the page's own reloads
};

// is_loopback - an address only this machine can reach
bool is_loopback(const std::string &address);

class StatusServer {
 public:
  StatusServer();
  ~StatusServer();
  StatusServer(const StatusServer &) = delete;
  StatusServer &operator=(const StatusServer &) = delete;

  // start - listening in a thread of its own; false with the reason (an
  // address in use, a password file that cannot be used)
  bool start(const StatusServerSettings &settings, std::string *error);
  bool running() const { return thread_.joinable(); }
  void stop();

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::vector<std::string> accepted_;  // "Basic " and base64 of each "user:password"
};

}  // namespace zz::gateway
