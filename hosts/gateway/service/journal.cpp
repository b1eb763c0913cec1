// journal.cpp - the entry is replaced with one pwrite at offset 0 and then
// the file cut to its length; an entry ends with an "end" line, so a kill
// between the two leaves a complete entry followed by ignored old bytes.
// The lock is flock(2): the kernel drops it when its holder dies.
#include "gateway/service/journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace zz::gateway {
namespace {

constexpr const char kPrefix[] = ".zozerez-journal";
constexpr const char kMagic[] = "zozerez-journal 1";

std::string field(const char *text) {
  return text != nullptr ? std::string("+") + text : "-";
}

char *take(const std::string &line) {
  if (line.empty() || line[0] != '+') return nullptr;
  return strdup(line.c_str() + 1);
}

std::string read_all(int fd) {
  std::string text;
  char buffer[8192];
  off_t at = 0;
  for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += n) {
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

// lines_of - the entry's lines up to its "end" line; empty when incomplete
std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line == "end") return lines;
    lines.push_back(line);
  }
  return {};
}

bool parse(const std::string &text, OutgoingMessage *msg, std::string *tag) {
  const std::vector<std::string> lines = lines_of(text);
  if (lines.size() < 7 || lines[0] != kMagic) return false;
  const unsigned long files = std::strtoul(lines[2].c_str(), nullptr, 10);
  if (lines.size() != 3 + 4 * files + 4) return false;
  *msg = OutgoingMessage{};
  *tag = lines[1];
  msg->File = static_cast<FileEntry *>(std::calloc(files + 1, sizeof(FileEntry)));
  msg->NumberFile = static_cast<uint32_t>(files);
  size_t at = 3;
  for (uint32_t i = 0; i < files; ++i) {
    msg->File[i].Name = take(lines[at++]);
    msg->File[i].CopyPath = take(lines[at++]);
    msg->File[i].PickupPath = take(lines[at++]);
    msg->File[i].WorkPath = take(lines[at++]);
  }
  msg->InfoPickupPath = take(lines[at++]);
  msg->InfoWorkPath = take(lines[at++]);
  msg->SendDirPath = take(lines[at++]);
  msg->SendDirName = take(lines[at++]);
  return true;
}

std::vector<std::string> journal_files(const std::string &dir) {
  std::vector<std::string> paths;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return paths;
  while (struct dirent *e = readdir(d)) {
    if (std::strncmp(e->d_name, kPrefix, sizeof kPrefix - 1) == 0) {
      paths.push_back(dir + "/" + e->d_name);
    }
  }
  closedir(d);
  return paths;
}

}  // namespace

// An entry still held at exit (a message that could not be completed) stays
// for the next gateway to complete.
Journal::~Journal() {
  if (fd_ < 0) return;
  if (!holding_) ::unlink(path_.c_str());
  ::close(fd_);
}

bool Journal::open(const std::string &dir, std::string *error) {
  path_ = dir + "/" + kPrefix + "." + std::to_string(::getpid());
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd_, 0) != 0) {
    *error = path_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool Journal::record(const OutgoingMessage &msg, const std::string &tag, bool durable) {
  std::ostringstream out;
  out << kMagic << "\n" << tag << "\n" << msg.NumberFile << "\n";
  for (uint32_t i = 0; i < msg.NumberFile; ++i) {
    const FileEntry &f = msg.File[i];
    out << field(f.Name) << "\n"
        << field(f.CopyPath) << "\n"
        << field(f.PickupPath) << "\n"
        << field(f.WorkPath) << "\n";
  }
  out << field(msg.InfoPickupPath) << "\n"
      << field(msg.InfoWorkPath) << "\n"
      << field(msg.SendDirPath) << "\n"
      << field(msg.SendDirName) << "\nend\n";
  const std::string text = out.str();
  holding_ = true;
  if (::pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
      ::ftruncate(fd_, static_cast<off_t>(text.size())) != 0) {
    return false;
  }
  return !durable || ::fdatasync(fd_) == 0;
}

void Journal::clear() {
  if (::ftruncate(fd_, 0) != 0) ::pwrite(fd_, "cleared\n", 8, 0);
  holding_ = false;
}

OrphanEntry::~OrphanEntry() {
  ::close(fd_);
}

bool OrphanEntry::message(OutgoingMessage *msg, std::string *tag) const {
  return parse(read_all(fd_), msg, tag);
}

void OrphanEntry::discard() const {
  ::unlink(path_.c_str());
}

std::vector<std::unique_ptr<OrphanEntry>> orphan_journals(const std::string &dir) {
  std::vector<std::unique_ptr<OrphanEntry>> found;
  for (const std::string &path : journal_files(dir)) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat held, named;
    // The lock must be on the file still under that name: another gateway
    // may have completed and removed it between our open and our lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 ||
        ::lstat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
      ::close(fd);
      continue;
    }
    found.push_back(std::make_unique<OrphanEntry>(fd, path));
  }
  return found;
}

std::set<std::string> journaled_paths(const std::string &dir) {
  std::set<std::string> paths;
  for (const std::string &path : journal_files(dir)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    OutgoingMessage msg{};
    std::string tag;
    if (parse(read_all(fd), &msg, &tag)) {
      for (uint32_t i = 0; i < msg.NumberFile; ++i) {
        if (msg.File[i].WorkPath != nullptr) paths.insert(msg.File[i].WorkPath);
      }
      if (msg.InfoWorkPath != nullptr) paths.insert(msg.InfoWorkPath);
    }
    OXT_free_files(&msg);
    ::close(fd);
  }
  return paths;
}

}  // namespace zz::gateway
