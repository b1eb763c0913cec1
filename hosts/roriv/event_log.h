// event_log.h - roriv's log: one line per event, to syslog (facility daemon),
// to the file RORIV_LOG names, and to a sink the host program registers.
#pragma once

#include <cstdint>
#include <string>

namespace zz::roriv {

// log_line - stamps the time and level and writes the line everywhere
void log_line(uint32_t level, uint32_t code, const std::string &text_utf8);
void set_log_file(const char *path);
void set_event_sink(void (*sink)(void *, uint32_t, uint32_t, const char *), void *user);

// system_log - the platform's own log (syslog on POSIX)
void system_log(uint32_t level, const std::string &line);

}  // namespace zz::roriv
