// recovery.cpp - a working name carries the claim's time and the claiming
// thread's id. The thread still runs when /proc knows that id and the task
// behind it started no later than the claim (ids are reused). A claim the
// journal of a live gateway names is never ours to touch either.
#include "gateway/service/recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "gateway/base/console.h"
#include "gateway/base/stored_files.h"
#include "gateway/service/journal.h"
#include "zozerez_host.h"
#include "zura_vez/zura_vez.h"

namespace zz::gateway {
namespace {

constexpr const char kDescriptor[] = "olminfo.txt";
// A send directory still without its descriptor after this long was being
// made by a gateway that stopped: making one takes a moment, not minutes.
constexpr double kGroupMakingSeconds = 600;
// "Уведомление Тельмара о сбое при отправке файла" in code page 1251
constexpr const char kSubject[] =
    "\xD3\xE2\xE5\xE4\xEE\xEC\xEB\xE5\xED\xE8\xE5 \xD2\xE5\xEB\xFC\xEC\xE0\xF0\xE0 \xEE "
    "\xF1\xE1\xEE\xE5 \xEF\xF0\xE8 \xEE\xF2\xEF\xF0\xE0\xE2\xEA\xE5 \xF4\xE0\xE9\xEB\xE0";
// "Файл перенесен в архивную директорию: "
constexpr const char kMovedTo[] =
    "\xD4\xE0\xE9\xEB \xEF\xE5\xF0\xE5\xED\xE5\xF1\xE5\xED \xE2 "
    "\xE0\xF0\xF5\xE8\xE2\xED\xF3\xFE \xE4\xE8\xF0\xE5\xEA\xF2\xEE\xF0\xE8\xFE: ";

bool exists(const std::string &path) {
  struct stat st;
  return ::lstat(native_path(path).c_str(), &st) == 0;
}

bool move_new(const std::string &from, const std::string &to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

// start_time - when task `id` started, in seconds since the epoch; -1 when unknown
long long start_time(unsigned long id) {
  std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string value;
  // After the name come the fields from "state" (3) on; "starttime" is 22.
  for (int n = 3; n <= 22 && fields >> value; ++n) {
  }
  const unsigned long long ticks = std::strtoull(value.c_str(), nullptr, 10);
  std::ifstream boot("/proc/stat");
  for (std::string word; boot >> word;) {
    if (word == "btime") {
      long long btime = 0;
      boot >> btime;
      return btime + static_cast<long long>(
                         ticks / static_cast<unsigned long long>(::sysconf(_SC_CLK_TCK)));
    }
  }
  return -1;
}

struct Admin {
  bool on = false;
  std::string type, address;
};

struct Settings {
  std::string bad_files;  // empty when the bad-files directory is off
  Admin admin;
};

Settings read_settings() {
  Settings s;
  char key[2048];
  if (NR_GetRegistryKeyString(key) != 0) return s;
  uint32_t flags = 0;
  if (OLM_ConfGetDWORD(key, "OutRulezFlags", &flags, 0) != 0) flags = 0;
  char text[2048];
  if ((flags & 1) != 0 && OLM_ConfGetPath(key, "SaveOutErrorPath", text, "", 0) == 0) {
    s.bad_files = native_path(text);
  }
  uint32_t type = 0;
  if ((flags & 2) != 0 && OLM_ConfGetString(key, "AdminEmail", text, sizeof text, 0) == 0 &&
      OLM_ConfGetDWORDEx(key, "admin_etype", &type, 0, 0) == 0) {
    s.admin = {true, type == 1 ? "EX" : "SMTP", text};
  }
  return s;
}

// notify_admin - a send request to the administrator in the rule directory,
// written the way the module writes its own failure notifications
bool notify_admin(const std::string &dir, const Admin &admin, const std::string &moved) {
  char name[64];
  std::string request;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::snprintf(name, sizeof name, "TMP_%04d%02d%02d%02d%02d%02d_%04d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, std::rand() % 32768);
    request = dir + "/" + name;
    if (::mkdir(request.c_str(), 0777) == 0) break;
    if (errno != EEXIST) return false;
    request.clear();
  }
  if (request.empty()) return false;
  const std::string text = std::string("Subject:") + kSubject + "\r\nEmail:" + admin.type + ":" +
                           admin.address + "\r\nProtection:Plain\r\nBody:\r\n" + kMovedTo + moved +
                           "\r\nThe gateway stopped after claiming this file and before "
                           "recording its name.\r\n";
  const std::string tmp = request + "/.olminfo.txt.new";
  std::ofstream(tmp, std::ios::binary) << text;
  return ::rename(tmp.c_str(), (request + "/" + kDescriptor).c_str()) == 0;
}

// The gateway's own event: a claimed file set aside under its working name.
constexpr uint32_t kEvSetAside = 0xE00A0001;

void report(const std::string &from, const std::string &to) {
  OLM_ReportEvent(OXT_LEVEL_SUMMARY, kEvSetAside, from.c_str(), to.c_str());
}

class Sweep {
 public:
  Sweep(std::set<std::string> journaled, const LogLine &log, RecoveryCounts *counts)
      : journaled_(std::move(journaled)), log_(log), counts_(counts), s_(read_settings()) {}

  void rule_directory(const std::string &dir) {
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> names;
    while (struct dirent *e = ::readdir(d)) names.push_back(e->d_name);
    ::closedir(d);
    for (const std::string &name : names) {
      if (name == "." || name == "..") continue;
      const std::string path = dir + "/" + name;
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        if (!send_directory(path)) unfinished_group(dir, path, name);
      } else if (S_ISREG(st.st_mode) && orphaned(path, name)) {
        set_aside(dir, path, name);
      }
    }
  }

 private:
  bool orphaned(const std::string &path, const std::string &name) const {
    long time = 0;
    unsigned long thread = 0;
    return parse_work_name(name, &time, &thread) && journaled_.count(path) == 0 &&
           !claimer_alive(name);
  }

  // send_directory - a descriptor under a dead claimer's working name goes
  // back; false when the directory has no descriptor under any name
  bool send_directory(const std::string &dir) {
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr) return true;
    std::vector<std::string> names;
    while (struct dirent *e = ::readdir(d)) names.push_back(e->d_name);
    ::closedir(d);
    bool described = false;
    for (const std::string &name : names) {
      long time = 0;
      unsigned long thread = 0;
      described = described || name == kDescriptor || parse_work_name(name, &time, &thread);
      const std::string path = dir + "/" + name;
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !orphaned(path, name)) {
        continue;
      }
      const std::string descriptor = dir + "/" + kDescriptor;
      if (move_new(path, descriptor)) {
        ++counts_->descriptors_restored;
        log_("recovered the send request " + utf8(dir) +
             ": its descriptor was claimed by a gateway that stopped; offered again");
      } else {
        log_("left " + utf8(path) + ": " + utf8(descriptor) + " is there already");
      }
    }
    return described;
  }

  // unfinished_group - a send directory the module was still making when its
  // gateway stopped (files moved in, no descriptor yet): once it is older
  // than any making takes, its files go back to the rule directory as the
  // loose files they were, and the directory goes
  void unfinished_group(const std::string &rule_dir, const std::string &dir,
                        const std::string &name) {
    int year, month, day, hour, minute, second, random;
    if (std::sscanf(name.c_str(), "TMP_%4d%2d%2d%2d%2d%2d_%d", &year, &month, &day, &hour, &minute,
                    &second, &random) != 7) {
      return;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    if (std::difftime(std::time(nullptr), std::mktime(&tm)) < kGroupMakingSeconds) return;
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> names;
    while (struct dirent *e = ::readdir(d)) names.push_back(e->d_name);
    ::closedir(d);
    unsigned back = 0;
    for (const std::string &file : names) {
      struct stat st;
      const std::string path = dir + "/" + file;
      if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (move_new(path, rule_dir + "/" + file)) ++back;
    }
    const bool removed = ::rmdir(dir.c_str()) == 0;
    counts_->groups_undone += removed ? 1 : 0;
    log_("undid the unfinished send directory " + utf8(dir) + ": " + std::to_string(back) +
         " files back in " + utf8(rule_dir) + (removed ? "" : "; the directory stays"));
  }

  // set_aside - a loose file whose pickup name was never recorded: into the
  // bad-files directory, or kept under a working name no recovery takes again
  void set_aside(const std::string &dir, const std::string &path, const std::string &name) {
    std::string target;
    if (!s_.bad_files.empty()) {
      target = s_.bad_files + "/" + name;
    } else {
      target = dir + "/" + name.substr(0, name.size() - 4) + "-orphan.tmp";
    }
    if (!move_new(path, target)) {
      log_("cannot set aside " + utf8(path) + " as " + utf8(target) + ": " + std::strerror(errno));
      return;
    }
    ++counts_->set_aside;
    report(path, target);
    log_("set aside " + utf8(path) + " as " + utf8(target) +
         ": claimed by a gateway that stopped before recording its name");
    if (s_.admin.on && !notify_admin(dir, s_.admin, target)) {
      log_("cannot write the administrator's notification for " + utf8(target) + " in " +
           utf8(dir));
    }
  }

  std::set<std::string> journaled_;
  const LogLine &log_;
  RecoveryCounts *counts_;
  Settings s_;
};

}  // namespace

bool claims_left(const OutgoingMessage &msg) {
  for (uint32_t i = 0; i < msg.NumberFile; ++i) {
    if (msg.File[i].WorkPath != nullptr && exists(msg.File[i].WorkPath)) return true;
  }
  return msg.InfoWorkPath != nullptr && exists(msg.InfoWorkPath);
}

bool parse_work_name(const std::string &name, long *time, unsigned long *thread) {
  unsigned sequence = 0;
  int used = 0;
  char hex[17] = {};
  if (std::sscanf(name.c_str(), "qmt-%ld-%u-%16[0-9A-F].tmp%n", time, &sequence, hex, &used) != 3 ||
      static_cast<size_t>(used) != name.size()) {
    return false;
  }
  *thread = std::strtoul(hex, nullptr, 16);
  return true;
}

bool claimer_alive(const std::string &name) {
  long time = 0;
  unsigned long thread = 0;
  if (!parse_work_name(name, &time, &thread)) return false;
  const long long started = start_time(thread);
  // The time in the name is the low 32 bits of the clock, signed.
  const long long claimed = static_cast<int32_t>(time);
  const long long now = std::time(nullptr);
  const long long claimed_at = claimed + ((now - claimed) / (1LL << 32)) * (1LL << 32);
  return started >= 0 && started <= claimed_at + 1;
}

namespace {

// release_database_claim - a database message a stopped gateway had in
// hand: sent when it was delivered, else queued again. Only that claim
// is ended; one taken over since (after the lease) is left alone.
void release_database_claim(GetFileCtx *ctx, const JournalEntry &e, bool delivered,
                            const LogLine &log, RecoveryCounts *counts) {
  if (ctx->BdMode == 0 || e.claim.empty()) {
    log("left the database message " + e.guid + " a stopped gateway had in hand: " +
        (ctx->BdMode == 0 ? "not in database mode" : "its claim is unknown") +
        "; the lease returns it");
    return;
  }
  const std::string hash = e.tag.substr(0, e.tag.find('-'));
  if (zura_vez_release(ctx->BdHandle, e.guid.c_str(), e.claim.c_str(), delivered ? 1 : 0,
                       delivered ? hash.c_str() : "") != 0) {
    char reason[512] = "";
    zura_vez_last_reason(reason, sizeof reason);
    log("could not end the claim on the database message " + e.guid + " (" + reason +
        "); the lease returns it");
    return;
  }
  ++(delivered ? counts->completed_sent : counts->put_back);
  log("completed the database message " + e.guid + " a stopped gateway had in hand as " +
      (delivered ? "sent" : "not sent; offered again"));
}

}  // namespace

RecoveryCounts recover_claims(GetFileCtx *ctx, const Maildir &outbox,
                              const std::function<bool(const std::string &)> &delivered_tag,
                              const LogLine &log) {
  RecoveryCounts counts;
  for (const auto &orphan : orphan_journals(outbox.root())) {
    for (JournalEntry &e : orphan->messages()) {
      if (!e.guid.empty()) {
        release_database_claim(ctx, e, delivered_tag(e.tag), log, &counts);
      } else if (!claims_left(e.msg)) {
        ++counts.already_done;
      } else {
        const bool delivered = delivered_tag(e.tag);
        const std::string hash = e.tag.substr(0, e.tag.find('-'));
        OXT_delete_files(ctx, &e.msg, delivered ? 0 : 1, hash.empty() ? nullptr : hash.c_str());
        ++(delivered ? counts.completed_sent : counts.put_back);
        log(std::string("completed a message a stopped gateway had in hand (") + orphan->path() +
            ") as " + (delivered ? "sent" : "not sent; offered again"));
      }
      OXT_free_files(&e.msg);
    }
    orphan->discard();
  }
  std::set<std::string> journaled;
  for (const std::string &path : journaled_paths(outbox.root()))
    journaled.insert(native_path(path));
  Sweep sweep(std::move(journaled), log, &counts);
  for (const std::string &dir : rule_paths("OutputFileRulez", "OutputRulezNum")) {
    sweep.rule_directory(native_path(dir));
  }
  return counts;
}

}  // namespace zz::gateway
