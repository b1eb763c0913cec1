// event_log.h - the module's one way into the host's event log. Arguments go
// to OLM_ReportEvent as the event table lists them: texts as const char *,
// the few numeric arguments as unsigned int.
#pragma once

#include <cstdint>
#include <string>

#include "zozerez_host.h"

namespace zz::host {

inline const char *event_arg(const char *text) {
  return text != nullptr ? text : "";
}
inline const char *event_arg(const std::string &text) {
  return text.c_str();
}
inline unsigned int event_arg(uint32_t number) {
  return number;
}

template <class... Args>
void report_event(uint32_t level, uint32_t code, const Args &...args) {
  OLM_ReportEvent(level, code, event_arg(args)...);
}

}  // namespace zz::host
