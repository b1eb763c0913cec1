// stored_files.h - where the input rules put files: the files under every
// input rule's directory and the error directory, before and after a store.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace zz::gateway {

// storage_directories - every input rule's "Path" and "SaveInErrorPath"
std::vector<std::string> storage_directories();
// snapshot - files (with their change times) below the directories, 4 levels deep
std::set<std::string> snapshot(const std::vector<std::string> &dirs);
// new_files - paths present in `after` and not in `before`
std::vector<std::string> new_files(const std::set<std::string> &before,
                                   const std::set<std::string> &after);

}  // namespace zz::gateway
