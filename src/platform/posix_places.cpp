// posix_places.cpp - the served directories are the topmost ones listed, kept
// for the life of the process (a few per rule). Reaching a path below one
// opens the served directory and then each further directory with O_NOFOLLOW.
#include "platform/posix_places.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace zz::os::posix {
namespace {

constexpr size_t kMaxServed = 4096;

std::mutex g_mutex;
std::vector<std::string> g_served;

// tidy - one "/" between components, none at the end
std::string tidy(const std::string &path) {
  std::string out(path);
  size_t kept = 0;
  for (const char c : path) {
    if (c == '/' && kept != 0 && out[kept - 1] == '/') continue;
    out[kept++] = c;
  }
  while (kept > 1 && out[kept - 1] == '/') --kept;
  out.resize(kept);
  return out;
}

bool holds(const std::string &dir, const std::string &path) {
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         (path[dir.size()] == '/' || dir == "/");
}

// served_above - the length of the served directory holding `path` (its
// start); npos when none does
size_t served_above(const std::string &path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const std::string &dir : g_served) {
    if (holds(dir, path)) return dir.size();
  }
  return std::string::npos;
}

}  // namespace

static_assert(AT_FDCWD == -100, "Place starts at the working directory");

Place::~Place() {
  if (dir_ >= 0) ::close(dir_);
}

void Place::reset(int dir, std::string name) {
  if (dir_ >= 0) ::close(dir_);
  dir_ = dir;
  name_ = std::move(name);
}

bool serve(const std::string &dir) {
  const std::string path = tidy(dir);
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const std::string &served : g_served) {
    if (served == path) return true;
    if (holds(served, path)) return false;
  }
  std::vector<std::string> kept;
  for (std::string &served : g_served) {
    if (!holds(path, served)) kept.push_back(std::move(served));
  }
  g_served = std::move(kept);
  if (g_served.size() < kMaxServed) g_served.push_back(path);
  return true;
}

bool place_of(const std::string &raw, Place *out) {
  std::string path = tidy(raw);
  const size_t root_size = served_above(path);
  const size_t last = path.rfind('/');
  // Outside every served directory, or directly in one: the last component
  // is all that may not be a link, and each call refuses that itself.
  if (root_size == std::string::npos || last <= root_size) {
    out->reset(AT_FDCWD, std::move(path));
    return true;
  }
  const std::string root = path.substr(0, root_size);
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t at = root == "/" ? 1 : root.size() + 1;
  while (at < last) {
    const size_t end = path.find('/', at);
    const std::string part = path.substr(at, end - at);
    if (part == "..") {
      ::close(fd);
      errno = EACCES;
      return false;
    }
    const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    ::close(fd);
    if (next < 0) {
      errno = err == ELOOP ? EACCES : err;
      return false;
    }
    fd = next;
    at = end + 1;
  }
  out->reset(fd, path.substr(last + 1));
  return true;
}

}  // namespace zz::os::posix
