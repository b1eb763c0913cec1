// events.h - the failure pair every part of the module reports: the specific
// event at level 3 with the object of the failure, then the summary at
// level 1 naming the failed step and the reporting function, e.g.
//   report_failure(OXT_EV_WRITE_FILE, "write_to_file(2)", "OXT_store_file_ext", path);
#pragma once

#include <cstdint>

#include "host/event_log.h"

namespace zz {

constexpr uint32_t kLevelSummary = OXT_LEVEL_SUMMARY;
constexpr uint32_t kLevelDetail = OXT_LEVEL_DETAIL;

// report_summary - the level 1 summary alone, for checks without a specific event
inline void report_summary(const char *step, const char *function) {
  host::report_event(kLevelSummary, OXT_EV_SUMMARY, step, function);
}

template <class... Args>
void report_failure(uint32_t code, const char *step, const char *function, const Args &...args) {
  host::report_event(kLevelDetail, code, args...);
  report_summary(step, function);
}

}  // namespace zz
