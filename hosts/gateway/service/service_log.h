// service_log.h - the service's log lines: on standard output with a time
// stamp, or, when standard output is systemd's journal stream, straight to
// the journal with structured fields beside the text, so that
// `journalctl ZOZEREZ_MESSAGE_HASH=...` finds every line of one message.
#pragma once

#include <initializer_list>
#include <string>

namespace zz::gateway {

struct LogField {
  const char *name;  // a journal field name: upper case, digits, "_"
  std::string value;
};

// Priorities as syslog numbers them.
constexpr int kLogError = 3, kLogWarning = 4, kLogInfo = 6;

void log_line(int priority, const std::string &text, std::initializer_list<LogField> fields = {});

}  // namespace zz::gateway
