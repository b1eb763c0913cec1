// system_log_posix.cpp - log lines to the systemd journal where it runs,
// with the event's code, level, arguments and path as fields of their own
// (journalctl ZOZEREZ_EVENT_CODE=E0090005); else to syslog, facility daemon.
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/event_table.h"
#include "roriv/event_log.h"

namespace zz::roriv {
namespace {

bool journal_runs() {
  static const bool runs = access("/run/systemd/journal/socket", W_OK) == 0;
  return runs;
}

bool to_journal(const SystemEvent &event) {
  char code[16];
  std::snprintf(code, sizeof code, "%08X", event.code);
  std::vector<std::string> fields = {
      "MESSAGE=" + event.line,
      "PRIORITY=" + std::to_string(event.level >= 3 ? LOG_ERR : LOG_NOTICE),
      "SYSLOG_IDENTIFIER=zozerez", "SYSLOG_FACILITY=3",
      "ZOZEREZ_LEVEL=" + std::to_string(event.level)};
  if (event.code != 0) fields.push_back(std::string("ZOZEREZ_EVENT_CODE=") + code);
  const zz::host_common::EventInfo *info =
      event.code != 0 ? zz::host_common::find_event(event.code) : nullptr;
  for (size_t i = 0; i < event.args.size(); ++i) {
    fields.push_back("ZOZEREZ_ARG" + std::to_string(i + 1) + "=" + event.args[i]);
    if (info != nullptr && i < std::strlen(info->kinds) && info->kinds[i] == 'p') {
      fields.push_back("ZOZEREZ_PATH=" + event.args[i]);
    }
  }
  std::vector<struct iovec> parts;
  for (std::string &f : fields) parts.push_back({f.data(), f.size()});
  return sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) == 0;
}

}  // namespace

void system_log(const SystemEvent &event) {
  if (journal_runs() && to_journal(event)) return;
  static const bool opened = [] {
    openlog("zozerez", LOG_PID, LOG_DAEMON);
    return true;
  }();
  (void)opened;
  syslog(LOG_DAEMON | (event.level >= 3 ? LOG_ERR : LOG_NOTICE), "%s", event.line.c_str());
}

}  // namespace zz::roriv
