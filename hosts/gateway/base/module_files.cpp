// module_files.cpp - the module's own rules for these files, read from the
// outside: the status view and the service ask the same questions.
#include "gateway/base/module_files.h"

#include <strings.h>

#include <cstdlib>
#include <fstream>

#include "gateway/base/console.h"
#include "zozerez_host.h"

namespace zz::gateway {

bool is_work_name(const std::string &name) {
  return name.size() >= 8 && strncasecmp(name.c_str(), "qmt", 3) == 0 &&
         strcasecmp(name.c_str() + name.size() - 4, ".tmp") == 0;
}

std::string hash_store_file() {
  char key[2048] = "", dir[2048] = "";
  if (NR_GetRegistryKeyString(key) == 0) OLM_ConfGetPath(key, "Filename", dir, "", 0);
  std::string where = *dir != '\0' ? native_path(dir) : std::string();
  if (where.empty()) {
    // The module's own temporary directory when "Filename" is empty.
    const char *tmp = std::getenv("TMPDIR");
    where = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    while (where.size() > 1 && where.back() == '/') where.pop_back();
  }
  return where + "/olmhash.dat";
}

bool read_hash_store(std::vector<HashStoreLine> *lines, unsigned *malformed) {
  std::ifstream in(hash_store_file(), std::ios::binary);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    const size_t bar = line.find('|');  // a descriptor's path holds none
    if (bar == std::string::npos || bar == 0 || bar + 1 == line.size()) {
      ++*malformed;
      continue;
    }
    lines->push_back({line.substr(0, bar), line.substr(bar + 1)});
  }
  return true;
}

}  // namespace zz::gateway
