// temp_dir.h - fresh temporary directories for tests, and small helpers to
// put bytes into files and read them back with the test's own system calls.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace zz::test {

// TempDir - a fresh directory removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  // file - the path of a name inside the directory, with a "\" separator as the module writes
  std::string file(const std::string &name) const { return path_ + "\\" + name; }
  // posix - the same with "/" for the test's own system calls
  std::string posix(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// TempEnvironment - while it lives, the system's temporary directory (TMPDIR
// on POSIX, TMP on Windows) is `path`
class TempEnvironment {
 public:
  explicit TempEnvironment(const std::string &path);
  ~TempEnvironment();
  TempEnvironment(const TempEnvironment &) = delete;
  TempEnvironment &operator=(const TempEnvironment &) = delete;
};

void write_file(const std::string &path, const std::string &content);
// tree - every file below `root` as "relative/path" -> content; directories
// appear as "relative/dir/" -> ""; TMP_ directory names read "TMP_*"
std::map<std::string, std::string> tree(const std::string &root);
void make_dir(const std::string &path);
// names_in - the entries of one directory, sorted, without "." and ".."
std::vector<std::string> names_in(const std::string &dir);
std::string read_file(const std::string &path);
bool exists(const std::string &path);

}  // namespace zz::test
