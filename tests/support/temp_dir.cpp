// temp_dir.cpp - temporary directories and file helpers of tests.
#include "support/temp_dir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace zz::test {

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  const fs::path root =
      base != nullptr && *base != '\0' ? fs::path(base) : fs::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "zozerez-test-%08x", random());
    std::error_code error;
    // As the system writes it: "\\" on Windows.
    if (fs::create_directory(root / name, error)) path_ = (root / name).make_preferred().string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary directory");
}

TempDir::~TempDir() {
  // Read-only entries (made by tests) go too.
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path_, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

#ifdef _WIN32
TempEnvironment::TempEnvironment(const std::string &path) {
  _putenv_s("TMP", path.c_str());
}
TempEnvironment::~TempEnvironment() {
  _putenv_s("TMP", "");
}
#else
TempEnvironment::TempEnvironment(const std::string &path) {
  setenv("TMPDIR", path.c_str(), 1);
}
TempEnvironment::~TempEnvironment() {
  unsetenv("TMPDIR");
}
#endif

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
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string path = fs::relative(it->path(), root, error).generic_string();
    const std::string shown = std::regex_replace(path, tmp_name, "TMP_*");
    if (it->is_directory(error) && !it->is_symlink(error)) {
      files[shown + "/"] = "";
    } else {
      files[shown] = read_file(it->path().string());
    }
  }
  return files;
}

void make_dir(const std::string &path) {
  std::error_code error;
  fs::create_directory(path, error);
}

std::vector<std::string> names_in(const std::string &dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool exists(const std::string &path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

}  // namespace zz::test
