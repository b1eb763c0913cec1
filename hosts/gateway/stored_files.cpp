// stored_files.cpp - listing what the input rules' directories hold.
#include "gateway/stored_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include "zozerez_host.h"

namespace zz::gateway {

std::vector<std::string> storage_directories() {
  std::vector<std::string> dirs;
  char key[2048];
  if (NR_GetRegistryKeyString(key) != 0) return dirs;
  char path[2048];
  if (OLM_ConfGetPath(key, "SaveInErrorPath", path, "", 0) == 0) dirs.push_back(path);
  const std::string list = std::string(key) + "\\InputFileRulez";
  uint32_t count = 0;
  OLM_ConfGetDWORDEx(list.c_str(), "InputRulezNum", &count, 0, 0);
  for (uint32_t n = 0; n < count && n < 1000; ++n) {
    const std::string rule = list + "\\" + std::to_string(n);
    if (OLM_ConfGetPath(rule.c_str(), "Path", path, "", 0) == 0) dirs.push_back(path);
  }
  for (std::string &dir : dirs) {
    for (char &c : dir) {
      if (c == '\\') c = '/';
    }
  }
  return dirs;
}

namespace {

void list_files(const std::string &dir, int depth, std::set<std::string> *out) {
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
      out->insert(path + "\t" + std::to_string(st.st_mtim.tv_sec) + "." +
                  std::to_string(st.st_mtim.tv_nsec));
    }
  }
  closedir(d);
}

}  // namespace

std::set<std::string> snapshot(const std::vector<std::string> &dirs) {
  std::set<std::string> files;
  for (const std::string &dir : dirs) list_files(dir, 0, &files);
  return files;
}

std::vector<std::string> new_files(const std::set<std::string> &before,
                                   const std::set<std::string> &after) {
  std::vector<std::string> paths;
  for (const std::string &entry : after) {
    if (before.count(entry) == 0) paths.push_back(entry.substr(0, entry.find('\t')));
  }
  return paths;
}

}  // namespace zz::gateway
