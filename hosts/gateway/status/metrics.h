// metrics.h - the status figures and the service's counters in the
// Prometheus text exposition format (version 0.0.4), names prefixed
// "zozerez_", one HELP and TYPE line per family.
#pragma once

#include <string>

#include "gateway/status/tree_status.h"

namespace zz::gateway {

std::string metrics_text(const TreeStatus &s);

}  // namespace zz::gateway
