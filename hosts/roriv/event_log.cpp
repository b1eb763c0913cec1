// event_log.cpp - formatting and delivery of log lines.
#include "roriv/event_log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace zz::roriv {
namespace {

struct LogState {
  std::mutex mutex;
  bool file_configured = false;
  std::string file;
  void (*sink)(void *, uint32_t, uint32_t, const char *) = nullptr;
  void *user = nullptr;
};

LogState &log_state() {
  static LogState s;
  return s;
}

std::string now_text() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
#if defined(_WIN32)
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

}  // namespace

void log_line(uint32_t level, uint32_t code, const std::string &text_utf8,
              const std::vector<std::string> &args) {
  char head[48];
  if (code != 0) {
    std::snprintf(head, sizeof head, "level %u %08X ", level, code);
  } else {
    std::snprintf(head, sizeof head, "level %u ", level);
  }
  const std::string body = std::string(head) + text_utf8;
  system_log(SystemEvent{level, code, body, text_utf8, args});
  LogState &s = log_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.file_configured) {
    const char *path = std::getenv("RORIV_LOG");
    if (path != nullptr) s.file = path;
    s.file_configured = true;
  }
  if (!s.file.empty()) {
    if (std::FILE *f = std::fopen(s.file.c_str(), "ab")) {
      std::fprintf(f, "%s %s\n", now_text().c_str(), body.c_str());
      std::fclose(f);
    }
  }
  if (s.sink != nullptr) s.sink(s.user, level, code, text_utf8.c_str());
}

void set_log_file(const char *path) {
  LogState &s = log_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.file = path != nullptr ? path : "";
  s.file_configured = true;
}

void set_event_sink(void (*sink)(void *, uint32_t, uint32_t, const char *), void *user) {
  LogState &s = log_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sink = sink;
  s.user = user;
}

}  // namespace zz::roriv
