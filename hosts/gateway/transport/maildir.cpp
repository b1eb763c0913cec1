// maildir.cpp - Maildir delivery and pickup. Unique names follow the usual
// "time.Ppid_count.host" form; the tag (a message hash) is part of the name
// so that a restart can tell whether a message was already delivered.
#include "gateway/transport/maildir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace zz::gateway {
namespace {

std::atomic<unsigned> g_count{0};

bool make_dir(const std::string &path) {
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

std::vector<std::string> names_in(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  }
  closedir(d);
  return names;
}

bool sync_dir(const std::string &dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool Maildir::create(std::string *error) const {
  for (const char *sub : {"", "/tmp", "/new", "/cur", "/failed"}) {
    if (!make_dir(root_ + sub)) {
      *error = root_ + sub + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool Maildir::deliver(const std::string &bytes, const std::string &tag, std::string *name,
                      std::string *error) const {
  char host[64] = "localhost";
  gethostname(host, sizeof host - 1);
  *name = std::to_string(std::time(nullptr)) + ".P" + std::to_string(getpid()) + "_" +
          std::to_string(++g_count) + "." + host + (tag.empty() ? "" : "." + tag);
  const std::string tmp = root_ + "/tmp/" + *name;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = tmp + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == bytes.size() && ::fsync(fd) == 0;
  ::close(fd);
  // The message appears in new/ only complete: link, then drop the tmp name.
  if (!written || ::link(tmp.c_str(), (root_ + "/new/" + *name).c_str()) != 0) {
    *error = tmp + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  ::unlink(tmp.c_str());
  sync_dir(root_ + "/new");
  return true;
}

std::vector<std::string> Maildir::waiting() const {
  std::vector<std::string> names = names_in(root_ + "/new");
  std::sort(names.begin(), names.end());
  return names;
}

Maildir::Read Maildir::read(const std::string &name, std::string *bytes, size_t most) const {
  int fd = ::open((root_ + "/new/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return Read::kFailed;
  bytes->clear();
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
    bytes->append(buffer, static_cast<size_t>(n));
    if (bytes->size() > most) break;  // never held whole in memory
  }
  ::close(fd);
  if (bytes->size() > most) {
    bytes->clear();
    return Read::kTooLarge;
  }
  return n == 0 ? Read::kDone : Read::kFailed;
}

bool Maildir::finish(const std::string &name, bool stored) const {
  const std::string target = stored ? root_ + "/cur/" + name + ":2,S" : root_ + "/failed/" + name;
  return ::rename((root_ + "/new/" + name).c_str(), target.c_str()) == 0;
}

bool Maildir::holds(const std::string &tag) const {
  for (const char *sub : {"/new", "/cur"}) {
    for (const std::string &name : names_in(root_ + sub)) {
      if (name.find("." + tag) != std::string::npos) return true;
    }
  }
  return false;
}

}  // namespace zz::gateway
