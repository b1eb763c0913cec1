// store.h - the configuration store of this process: which file, which key,
// and the parsed file, re-read only when the file changes on disk.
#pragma once

#include <cstdint>
#include <memory>
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
// host_key - the key in code page 1251 with its terminating zero into `out`,
// after bringing the store in line with the file; false when the store is
// unusable or the key does not fit
bool host_key(char *out, size_t size);
// store_error - why the file is refused ("" when it is fine); a store loaded
// before the file went bad keeps answering
std::string store_error();

}  // namespace zz::roriv
