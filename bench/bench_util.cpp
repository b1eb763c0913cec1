// bench_util.cpp - scratch directories and the direct-write floor.
#include "bench_util.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace zz::bench {
namespace {
int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path);
}
}  // namespace

Scratch::Scratch(const std::string &base) {
  std::string pattern = base + "/zozerez-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

Scratch::~Scratch() {
  nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string base_directory(int argc, char **argv, const char *usage) {
  std::string base;
  if (argc > 1 && argv[1][0] != '-') {
    base = argv[1];
  } else {
    const char *tmp = getenv("TMPDIR");
    base = tmp != nullptr && *tmp != '\0' ? tmp : "/var/tmp";
  }
  struct stat st;
  if (stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "%s: %s is not a directory\nusage: %s %s\n", argv[0], base.c_str(),
                 argv[0], usage);
    std::exit(2);
  }
  return base;
}

bool has_flag(int argc, char **argv, const char *flag) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == flag) return true;
  }
  return false;
}

bool write_direct(const std::string &path, const std::string &data, bool locked) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = !locked || ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) && ok;
  ok = ::fdatasync(fd) == 0 && ok;
  return ::close(fd) == 0 && ok;
}

}  // namespace zz::bench
