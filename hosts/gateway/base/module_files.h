// module_files.h - files the module keeps that the host program looks at:
// working names in the rule directories, and the hash store of guaranteed
// deliveries ("olmhash.dat" in the data directory "Filename", else $TMPDIR).
#pragma once

#include <string>
#include <vector>

namespace zz::gateway {

// is_work_name - "qmt", anything, ".tmp", case ignored: a claimed item
bool is_work_name(const std::string &name);

struct HashStoreLine {
  std::string descriptor;  // as the module wrote it (code page 1251, "\\" allowed)
  std::string hash;
};

// hash_store_file - the store's path for this system's calls; the store must be open
std::string hash_store_file();
// read_hash_store - every "path|hash" line; others (blank lines aside) are
// counted in `malformed`. False, errno set, when the file cannot be read.
bool read_hash_store(std::vector<HashStoreLine> *lines, unsigned *malformed);

}  // namespace zz::gateway
