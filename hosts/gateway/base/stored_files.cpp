// stored_files.cpp - listing what the input rules' directories hold.
#include "gateway/base/stored_files.h"

#include "gateway/base/console.h"

#include <dirent.h>
#include <sys/stat.h>

#include "zozerez_host.h"

namespace zz::gateway {

std::vector<std::string> rule_paths(const char *list_name, const char *count_name) {
  std::vector<std::string> dirs;
  char key[2048];
  if (NR_GetRegistryKeyString(key) != 0) return dirs;
  const std::string list = std::string(key) + "\\" + list_name;
  uint32_t count = 0;
  OLM_ConfGetDWORDEx(list.c_str(), count_name, &count, 0, 0);
  char path[2048];
  for (uint32_t n = 0; n < count && n < 1000; ++n) {
    const std::string rule = list + "\\" + std::to_string(n);
    if (OLM_ConfGetPath(rule.c_str(), "Path", path, "", 0) == 0) dirs.push_back(path);
  }
  return dirs;
}

std::vector<std::string> storage_directories() {
  std::vector<std::string> dirs = rule_paths("InputFileRulez", "InputRulezNum");
  char key[2048];
  char path[2048];
  if (NR_GetRegistryKeyString(key) == 0 &&
      OLM_ConfGetPath(key, "SaveInErrorPath", path, "", 0) == 0) {
    dirs.insert(dirs.begin(), path);
  }
  for (std::string &dir : dirs) dir = native_path(dir);
  return dirs;
}

namespace {

void list_files(const std::string &dir, int depth, Snapshot *out) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + (dir.back() == '/' ? "" : "/") + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode) && depth < 4) {
      list_files(path, depth + 1, out);
    } else if (S_ISREG(st.st_mode)) {
      (*out)[path] = {static_cast<uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    }
  }
  closedir(d);
}

}  // namespace

Snapshot snapshot(const std::vector<std::string> &dirs) {
  Snapshot files;
  for (const std::string &dir : dirs) list_files(dir, 0, &files);
  return files;
}

std::vector<std::string> new_files(const Snapshot &before, const Snapshot &after) {
  std::vector<std::string> paths;
  for (const auto &[path, stamp] : after) {
    const auto was = before.find(path);
    if (was == before.end() || !(was->second == stamp)) paths.push_back(path);
  }
  return paths;
}

}  // namespace zz::gateway
