// system_log_posix.cpp - log lines to syslog, facility daemon.
#include <syslog.h>

#include "roriv/event_log.h"

namespace zz::roriv {

void system_log(uint32_t level, const std::string &line) {
  static const bool opened = [] {
    openlog("zozerez", LOG_PID, LOG_DAEMON);
    return true;
  }();
  (void)opened;
  syslog(LOG_DAEMON | (level >= 3 ? LOG_ERR : LOG_NOTICE), "%s", line.c_str());
}

}  // namespace zz::roriv
