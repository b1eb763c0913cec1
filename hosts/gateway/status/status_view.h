// status_view.h - the gathered status as people read it (a table with what
// needs attention first) and as scripts read it (JSON, times in Unix
// seconds and ages in seconds).
#pragma once

#include <string>
#include <vector>

#include "gateway/status/tree_status.h"

namespace zz::gateway {

// A claimed item older than this is called stuck: a collection holds a file
// for the length of one send, never for minutes.
constexpr long long kStuckSeconds = 600;

// attention - what an admin should look at first, most urgent first
std::vector<std::string> attention(const TreeStatus &s);
std::string status_table(const TreeStatus &s);
std::string status_json(const TreeStatus &s);
// utc_text - "2026-12-06 10:52:46 UTC"
std::string utc_text(long long unix_seconds);
// age_text - "45s", "12m 5s", "3h 20m", "2d 4h"
std::string age_text(long long seconds);

}  // namespace zz::gateway
