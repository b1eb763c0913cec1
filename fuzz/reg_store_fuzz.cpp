// reg_store_fuzz.cpp - the configuration store's parser on arbitrary files.
// A file taken is taken whole: every key it lists can be found again, and
// lookups ignore case as the readers promise; a refused file names its line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "roriv/reg_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  zz::roriv::RegStore store;
  std::string error;
  if (!zz::roriv::RegStore::parse(bytes, "fuzz.reg", &store, &error)) {
    if (error.rfind("fuzz.reg", 0) != 0) std::abort();
    return 0;
  }
  if (!error.empty()) std::abort();
  for (const std::string &key : store.keys()) {
    if (zz::roriv::normalise_key(key) != zz::roriv::normalise_key(zz::roriv::normalise_key(key))) {
      std::abort();
    }
    store.find(key, "");
    store.find(key, "Path");
  }
  return 0;
}
