// files_to_dir.h - a database message also filed into directories by the
// input rules: its stored attachment and signature files are copied.
#pragma once

#include <cstdint>

#include "zozerez.h"

namespace zz {

// store_bd_mes_files_to_dir - 0 filed (or nothing to do), -1 failure (reported)
int32_t store_bd_mes_files_to_dir(BdMsg *msg);

}  // namespace zz
