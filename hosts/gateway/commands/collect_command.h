// collect_command.h - `zozerez-gateway collect` (one outgoing cycle) and
// `zozerez-gateway receipt HASH` (a delivery receipt arrived).
#pragma once

#include <string>
#include <vector>

namespace zz::gateway {

int run_collect(const std::vector<std::string> &args);
int run_receipt(const std::vector<std::string> &args);

}  // namespace zz::gateway
