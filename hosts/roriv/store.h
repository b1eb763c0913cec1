// store.h - the configuration store of this process: which file, which key,
// and the parsed file, re-read only when the file changes on disk.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "roriv/reg_store.h"

namespace zz::roriv {

void configure_store(const std::string &path, const std::string &key);

// StoreInForce - what reads answer from: the parsed store as last loaded
// (null when the file is unreadable or refused), or on Windows without a
// store file the registry
struct StoreInForce {
  std::shared_ptr<const RegStore> store;
  bool registry = false;
};
StoreInForce store_in_force();
// host_key - the key in code page 1251, after bringing the store in line with
// the file; nothing when the store is unusable
std::optional<std::string> host_key();
// store_error - why the file is refused ("" when it is fine); a store loaded
// before the file went bad keeps answering
std::string store_error();

}  // namespace zz::roriv
