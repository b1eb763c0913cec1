// status_server.cpp - routes, methods and authentication. Only GET (and
// HEAD) of "/" and "/metrics" are served; another method on them is 405,
// any other path 404; a request the library cannot take (a target longer
// than its limit) gets its own 4xx. None of it stops the server.
#include "gateway/status/status_server.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <httplib.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "gateway/status/metrics.h"
#include "gateway/status/status_page.h"
#include "gateway/status/tree_status.h"

namespace zz::gateway {
namespace {

constexpr size_t kEventsShown = 10;

std::string basic_credentials(const std::string &user_and_password) {
  std::string encoded(4 * ((user_and_password.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&encoded[0]),
                                reinterpret_cast<const unsigned char *>(user_and_password.data()),
                                static_cast<int>(user_and_password.size()));
  encoded.resize(static_cast<size_t>(n));
  return "Basic " + encoded;
}

bool read_passwords(const std::string &path, std::vector<std::string> *accepted,
                    std::string *error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *error = path + ": the password file may be read by others (mode " + mode + "); make it 0600";
    return false;
  }
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos || colon + 1 == line.size()) {
      *error = path + ": a line is not \"user:password\"";
      return false;
    }
    accepted->push_back(basic_credentials(line));
  }
  if (accepted->empty()) {
    *error = path + ": no \"user:password\" line";
    return false;
  }
  return true;
}

bool authorized(const std::vector<std::string> &accepted, const httplib::Request &request) {
  if (accepted.empty()) return true;
  const std::string given = request.get_header_value("Authorization");
  bool match = false;
  for (const std::string &a : accepted) {
    // Compared in constant time, and every line is compared.
    if (a.size() == given.size() && CRYPTO_memcmp(a.data(), given.data(), a.size()) == 0) {
      match = true;
    }
  }
  return match;
}

TreeStatus gathered() {
  return gather_status(static_cast<long long>(std::time(nullptr)), kEventsShown);
}

}  // namespace

bool is_loopback(const std::string &address) {
  if (address == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

StatusServer::StatusServer() = default;

StatusServer::~StatusServer() {
  stop();
}

bool StatusServer::start(const StatusServerSettings &settings, std::string *error) {
  stop();
  accepted_.clear();
  const std::string where = settings.address + ":" + std::to_string(settings.port);
  if (!settings.password_file.empty() &&
      !read_passwords(settings.password_file, &accepted_, error)) {
    return false;
  }
  if (accepted_.empty() && !is_loopback(settings.address)) {
    *error = where + " is reachable from other machines: name a password file " +
             "(\"StatusPasswordFile\") or bind to 127.0.0.1";
    return false;
  }
  server_ = std::make_unique<httplib::Server>();
  httplib::Server &server = *server_;
  // The library's own options add SO_REUSEPORT, which would let a second
  // gateway share the port unseen; a restart needs SO_REUSEADDR only.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  const std::vector<std::string> &accepted = accepted_;
  server.set_pre_routing_handler(
      [&accepted](const httplib::Request &request, httplib::Response &response) {
        if (authorized(accepted, request)) return httplib::Server::HandlerResponse::Unhandled;
        response.status = 401;
        response.set_header("WWW-Authenticate", "Basic realm=\"zozerez\", charset=\"UTF-8\"");
        response.set_content("authentication required\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
      });
  const int refresh = settings.refresh;
  server.Get("/", [refresh](const httplib::Request &, httplib::Response &response) {
    response.set_content(status_page(gathered(), refresh), "text/html; charset=utf-8");
  });
  server.Get("/metrics", [](const httplib::Request &, httplib::Response &response) {
    response.set_content(metrics_text(gathered()), "text/plain; version=0.0.4; charset=utf-8");
  });
  auto not_allowed = [](const httplib::Request &, httplib::Response &response) {
    response.status = 405;
    response.set_header("Allow", "GET, HEAD");
    response.set_content("only GET and HEAD are served here\n", "text/plain");
  };
  for (const char *path : {"/", "/metrics"}) {
    server.Post(path, not_allowed);
    server.Put(path, not_allowed);
    server.Delete(path, not_allowed);
    server.Patch(path, not_allowed);
    server.Options(path, not_allowed);
  }
  server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
    if (response.body.empty()) {
      response.set_content(std::to_string(response.status) + ": only / and /metrics are here\n",
                           "text/plain");
    }
  });
  if (!server.bind_to_port(settings.address, static_cast<int>(settings.port))) {
    *error = where + ": cannot listen there (" + std::strerror(errno) + ")";
    server_.reset();
    return false;
  }
  thread_ = std::thread([&server] { server.listen_after_bind(); });
  return true;
}

void StatusServer::stop() {
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

}  // namespace zz::gateway
