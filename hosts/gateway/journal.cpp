// journal.cpp - one entry, written to a temporary name, synced, then renamed
// over the journal, so that a crash leaves either the old or the new entry.
#include "gateway/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace zz::gateway {
namespace {

std::string field(const char *text) {
  return text != nullptr ? std::string("+") + text : "-";
}

char *take(const std::string &line) {
  if (line.empty() || line[0] != '+') return nullptr;
  return strdup(line.c_str() + 1);
}

}  // namespace

bool Journal::begin(const OutgoingMessage &msg, const std::string &tag) const {
  std::ostringstream out;
  out << tag << "\n" << msg.NumberFile << "\n";
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
      << field(msg.SendDirName) << "\n";
  const std::string text = out.str();
  const std::string tmp = path_ + ".new";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                  ::fsync(fd) == 0;
  ::close(fd);
  return ok && ::rename(tmp.c_str(), path_.c_str()) == 0;
}

void Journal::clear() const {
  ::unlink(path_.c_str());
}

bool Journal::pending(OutgoingMessage *msg, std::string *tag) const {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.size() < 6) return false;
  *msg = OutgoingMessage{};
  *tag = lines[0];
  const uint32_t files = static_cast<uint32_t>(std::strtoul(lines[1].c_str(), nullptr, 10));
  if (lines.size() != 2 + 4 * static_cast<size_t>(files) + 4) return false;
  msg->File = static_cast<FileEntry *>(std::calloc(files + 1, sizeof(FileEntry)));
  msg->NumberFile = files;
  size_t at = 2;
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

}  // namespace zz::gateway
