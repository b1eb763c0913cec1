// config_report.h - `zozerez-gateway config`: every setting the module reads
// under the host's key, one line each, with absent required values marked.
#pragma once

#include <ostream>

namespace zz::gateway {

// print_config - false when a required value is absent or the key cannot be had
bool print_config(std::ostream &out);

}  // namespace zz::gateway
