// tree_check.cpp - an entry is known by its path and inode, so one replaced
// by another hostile entry of the same name is reported again; entries that
// went away are forgotten.
#include "gateway/service/tree_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "gateway/base/console.h"
#include "gateway/base/stored_files.h"

namespace zz::gateway {
namespace {

constexpr size_t kMaxPath = 2047;

// hazard - why the module passes over this entry for good; empty when it does not
std::string hazard(const std::string &name, const std::string &path, const struct stat &st) {
  if (name.find('\\') != std::string::npos) return "its name holds \"\\\"";
  if (path.size() > kMaxPath) return "its path is longer than 2047 bytes";
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device node";
  if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
    return "a file with " + std::to_string(st.st_nlink) + " names (hard links)";
  }
  return {};
}

}  // namespace

void TreeCheck::round(const std::function<void(const std::string &)> &log) {
  load();
  std::set<std::string> seen;
  for (const std::string &dir : rule_paths("OutputFileRulez", "OutputRulezNum")) {
    look(native_path(dir), 0, &seen, log);
  }
  if (seen != reported_) {
    reported_ = std::move(seen);
    save();
  }
}

void TreeCheck::look(const std::string &dir, int depth, std::set<std::string> *seen,
                     const std::function<void(const std::string &)> &log) {
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent *e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = dir + "/" + name;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const std::string why = hazard(name, path, st);
    if (why.empty()) {
      if (S_ISDIR(st.st_mode) && depth == 0) look(path, 1, seen, log);
      continue;
    }
    const std::string key = std::to_string(st.st_ino) + " " + path;
    seen->insert(key);
    if (reported_.count(key) == 0) {
      log("passed over " + utf8(path) + ": " + why + "; it is never sent");
    }
  }
  ::closedir(d);
}

void TreeCheck::load() {
  if (loaded_) return;
  loaded_ = true;
  std::ifstream in(memory_);
  for (std::string line; std::getline(in, line);) reported_.insert(line);
}

void TreeCheck::save() const {
  const std::string tmp = memory_ + ".new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    for (const std::string &key : reported_) out << key << "\n";
  }
  std::rename(tmp.c_str(), memory_.c_str());
}

}  // namespace zz::gateway
