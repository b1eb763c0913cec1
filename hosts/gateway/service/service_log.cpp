// service_log.cpp - JOURNAL_STREAM names the device and inode of the stream
// systemd connected to standard output; only when they match is the journal
// written directly (otherwise output was redirected and stays text).
#include "gateway/service/service_log.h"

#include <sys/stat.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <vector>

namespace zz::gateway {
namespace {

bool stdout_is_journal() {
  const char *stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat st;
  return fstat(STDOUT_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

}  // namespace

void log_line(int priority, const std::string &text, std::initializer_list<LogField> fields) {
  static const bool journal = stdout_is_journal();
  if (journal) {
    std::vector<std::string> lines = {"MESSAGE=" + text, "PRIORITY=" + std::to_string(priority),
                                      "SYSLOG_IDENTIFIER=zozerez-gateway"};
    for (const LogField &f : fields) {
      if (!f.value.empty()) lines.push_back(std::string(f.name) + "=" + f.value);
    }
    std::vector<struct iovec> parts;
    for (std::string &line : lines) parts.push_back({line.data(), line.size()});
    if (sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) == 0) return;
  }
  char stamp[32];
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::cout << stamp << " " << text << std::endl;
}

}  // namespace zz::gateway
