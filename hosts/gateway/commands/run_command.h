// run_command.h - `zozerez-gateway run`: the gateway's service loop.
#pragma once

#include <string>
#include <vector>

namespace zz::gateway {

int run_run(const std::vector<std::string> &args);

}  // namespace zz::gateway
