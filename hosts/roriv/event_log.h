// event_log.h - roriv's log: one line per event, to syslog (facility daemon),
// to the file RORIV_LOG names, and to a sink the host program registers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zz::roriv {

// log_line - stamps the time and level and writes the line everywhere;
// `args` are the event's arguments (UTF-8), which a message table puts in
void log_line(uint32_t level, uint32_t code, const std::string &text_utf8,
              const std::vector<std::string> &args = {});
void set_log_file(const char *path);
void set_event_sink(void (*sink)(void *, uint32_t, uint32_t, const char *), void *user);

// SystemEvent - one event for the platform's own log
struct SystemEvent {
  uint32_t level;
  uint32_t code;                         // 0: roriv's own line
  const std::string &line;               // "level L CODE text"
  const std::string &text;               // the text alone
  const std::vector<std::string> &args;  // the arguments of a known code
};
// system_log - the platform's own log: syslog on POSIX, the Event Log on Windows
void system_log(const SystemEvent &event);

}  // namespace zz::roriv
