// system_log_posix.cpp - log lines to syslog, facility daemon.
#include <syslog.h>

#include "roriv/event_log.h"

namespace zz::roriv {

void system_log(const SystemEvent &event) {
  static const bool opened = [] {
    openlog("zozerez", LOG_PID, LOG_DAEMON);
    return true;
  }();
  (void)opened;
  syslog(LOG_DAEMON | (event.level >= 3 ? LOG_ERR : LOG_NOTICE), "%s", event.line.c_str());
}

}  // namespace zz::roriv
