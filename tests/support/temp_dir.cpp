// temp_dir.cpp - temporary directories and file helpers of tests.
#include "support/temp_dir.h"

#include <dirent.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace zz::test {

namespace {
int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  ::chmod(path, 0700);
  return ::remove(path);
}
}  // namespace

TempDir::TempDir() {
  const char *base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zozerez-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void write_file(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::map<std::string, std::string> tree(const std::string &root) {
  static const std::regex tmp_name("TMP_[0-9]{14}_[0-9]+");
  std::map<std::string, std::string> files;
  std::vector<std::string> pending = {""};
  while (!pending.empty()) {
    std::string relative = pending.back();
    pending.pop_back();
    DIR *dir = opendir((root + "/" + relative).c_str());
    if (dir == nullptr) continue;
    while (struct dirent *entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string path = relative + name;
      struct stat st;
      lstat((root + "/" + path).c_str(), &st);
      std::string shown = std::regex_replace(path, tmp_name, "TMP_*");
      if (S_ISDIR(st.st_mode)) {
        files[shown + "/"] = "";
        pending.push_back(path + "/");
      } else {
        files[shown] = read_file(root + "/" + path);
      }
    }
    closedir(dir);
  }
  return files;
}

void make_dir(const std::string &path) {
  ::mkdir(path.c_str(), 0777);
}

std::vector<std::string> names_in(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent *entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool exists(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace zz::test
