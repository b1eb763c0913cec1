// status_page.h - the status as one self-contained HTML page: no scripts,
// no external assets, refreshed by the browser every `refresh` seconds;
// what needs attention (stuck, failed, the oldest waiting item) comes first.
#pragma once

#include <string>

#include "gateway/status/tree_status.h"

namespace zz::gateway {

std::string status_page(const TreeStatus &s, int refresh);

}  // namespace zz::gateway
