// bench_util.cpp - scratch directories and the direct-write floor.
#include "bench_util.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

namespace zz::bench {
namespace {
int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path);
}
}  // namespace

Scratch::Scratch() {
  const char *base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/var/tmp") + "/zozerez-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

Scratch::~Scratch() {
  nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

bool write_direct(const std::string &path, const std::string &data) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  ok = ::fdatasync(fd) == 0 && ok;
  return ::close(fd) == 0 && ok;
}

}  // namespace zz::bench
