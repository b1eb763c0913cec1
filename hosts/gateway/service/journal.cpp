// journal.cpp - the whole journal is replaced with one pwrite at offset 0
// and then the file cut to its length; it ends with an "end" line, so a kill
// between the two leaves a complete journal followed by ignored old bytes.
// Fields are one per line, "%" and line ends escaped. The lock is flock(2):
// the kernel drops it when its holder dies.
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
// Version 3 adds the database GUID and claim of each entry; version 2
// journals, from before, are still read.
constexpr const char kMagic[] = "zozerez-journal 3";
constexpr const char kMagic2[] = "zozerez-journal 2";
constexpr const char kEntry[] = "entry ";

std::string escaped(const char *text) {
  std::string out;
  for (; *text != '\0'; ++text) {
    if (*text == '%') {
      out += "%25";
    } else if (*text == '\n') {
      out += "%0A";
    } else if (*text == '\r') {
      out += "%0D";
    } else {
      out += *text;
    }
  }
  return out;
}

std::string field(const char *text) {
  return text != nullptr ? "+" + escaped(text) : "-";
}

char *take(const std::string &line) {
  if (line.empty() || line[0] != '+') return nullptr;
  std::string text;
  for (size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '%' && i + 2 < line.size()) {
      text += static_cast<char>(std::strtoul(line.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      text += line[i];
    }
  }
  return strdup(text.c_str());
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

// lines_of - the journal's lines up to its "end" line; empty when incomplete
std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line == "end") return lines;
    lines.push_back(line);
  }
  return {};
}

// parse - every entry; false when the journal is incomplete or not ours
bool parse(const std::string &text, std::vector<JournalEntry> *entries) {
  const std::vector<std::string> lines = lines_of(text);
  if (lines.empty() || (lines[0] != kMagic && lines[0] != kMagic2)) return false;
  const size_t extra = lines[0] == kMagic ? 2 : 0;
  size_t at = 1;
  while (at < lines.size()) {
    if (lines[at].rfind(kEntry, 0) != 0 || at + 1 >= lines.size()) return false;
    const unsigned long files = std::strtoul(lines[at + 1].c_str(), nullptr, 10);
    if (files > 100000 || at + 2 + 4 * files + 4 + extra > lines.size()) return false;
    JournalEntry e;
    e.tag = lines[at].substr(sizeof kEntry - 1);
    e.msg.File = static_cast<FileEntry *>(std::calloc(files + 1, sizeof(FileEntry)));
    e.msg.NumberFile = static_cast<uint32_t>(files);
    at += 2;
    for (uint32_t i = 0; i < files; ++i) {
      e.msg.File[i].Name = take(lines[at++]);
      e.msg.File[i].CopyPath = take(lines[at++]);
      e.msg.File[i].PickupPath = take(lines[at++]);
      e.msg.File[i].WorkPath = take(lines[at++]);
    }
    e.msg.InfoPickupPath = take(lines[at++]);
    e.msg.InfoWorkPath = take(lines[at++]);
    e.msg.SendDirPath = take(lines[at++]);
    e.msg.SendDirName = take(lines[at++]);
    for (std::string *text : {&e.guid, &e.claim}) {
      if (extra == 0) break;
      char *taken = take(lines[at++]);
      if (taken != nullptr) *text = taken;
      std::free(taken);
    }
    entries->push_back(e);
  }
  return true;
}

void release(std::vector<JournalEntry> *entries) {
  for (JournalEntry &e : *entries) OXT_free_files(&e.msg);
  entries->clear();
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

// Entries still held at exit (messages that could not be completed) stay for
// the next gateway to complete.
Journal::~Journal() {
  if (fd_ < 0) return;
  if (entries_.empty()) ::unlink(path_.c_str());
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

bool Journal::record(unsigned id, const OutgoingMessage &msg, const std::string &tag, bool durable,
                     const std::string &guid, const std::string &claim) {
  std::ostringstream out;
  out << kEntry << tag << "\n" << msg.NumberFile << "\n";
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
      << field(msg.SendDirName) << "\n"
      << field(guid.empty() ? nullptr : guid.c_str()) << "\n"
      << field(claim.empty() ? nullptr : claim.c_str()) << "\n";
  entries_[id] = out.str();
  return write(durable);
}

void Journal::clear(unsigned id) {
  entries_.erase(id);
  write(false);
}

bool Journal::write(bool durable) const {
  if (entries_.empty()) return ::ftruncate(fd_, 0) == 0;
  std::string text = std::string(kMagic) + "\n";
  for (const auto &[id, entry] : entries_) text += entry;
  text += "end\n";
  if (::pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
      ::ftruncate(fd_, static_cast<off_t>(text.size())) != 0) {
    return false;
  }
  return !durable || ::fdatasync(fd_) == 0;
}

OrphanEntry::~OrphanEntry() {
  ::close(fd_);
}

std::vector<JournalEntry> OrphanEntry::messages() const {
  std::vector<JournalEntry> entries;
  if (!parse(read_all(fd_), &entries)) release(&entries);
  return entries;
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
    std::vector<JournalEntry> entries;
    parse(read_all(fd), &entries);
    for (const JournalEntry &e : entries) {
      for (uint32_t i = 0; i < e.msg.NumberFile; ++i) {
        if (e.msg.File[i].WorkPath != nullptr) paths.insert(e.msg.File[i].WorkPath);
      }
      if (e.msg.InfoWorkPath != nullptr) paths.insert(e.msg.InfoWorkPath);
    }
    release(&entries);
    ::close(fd);
  }
  return paths;
}

}  // namespace zz::gateway
