// tree_status.cpp - the status gathered by reading only: listings, stat and
// whole-file reads of descriptors, the hash store and the state file.
#include "gateway/status/tree_status.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>

#include "gateway/base/console.h"
#include "gateway/base/module_files.h"
#include "zozerez_host.h"
#include "zura_vez/zura_vez.h"

namespace zz::gateway {
namespace {

constexpr const char kDescriptor[] = "olminfo.txt";

std::string key_text() {
  char key[2048] = "";
  if (NR_GetRegistryKeyString(key) != 0) return {};
  return key;
}

bool read_number(const std::string &key, const char *name, uint32_t *value) {
  return OLM_ConfGetDWORDEx(key.c_str(), name, value, 0, 0) == 0;
}

bool read_text(const std::string &key, const char *name, std::string *value) {
  char buffer[2048];
  if (OLM_ConfGetString(key.c_str(), name, buffer, sizeof buffer, 0) != 0) return false;
  *value = buffer;
  return true;
}

bool read_path(const std::string &key, const char *name, std::string *value) {
  char buffer[2048];
  if (OLM_ConfGetPath(key.c_str(), name, buffer, "", 0) != 0) return false;
  *value = buffer;
  return true;
}

// mask_matches - the module's file masks: "*" any run, "?" one character,
// letters of either case (ASCII and code page 1251 alike are compared as
// bytes after folding ASCII only: good enough to count, never to decide)
bool mask_matches(const char *mask, const char *name) {
  if (*mask == '\0') return *name == '\0';
  if (*mask == '*') {
    for (const char *n = name;; ++n) {
      if (mask_matches(mask + 1, n)) return true;
      if (*n == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  const bool same = *mask == '?' || std::tolower(static_cast<unsigned char>(*mask)) ==
                                        std::tolower(static_cast<unsigned char>(*name));
  return same && mask_matches(mask + 1, name + 1);
}

struct Entry {
  std::string name;
  struct stat st;
};

// list - the entries of a directory with their stat; false with the reason
bool list(const std::string &dir, std::vector<Entry> *entries, std::string *problem) {
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) {
    *problem = dir + ": " + std::strerror(errno);
    return false;
  }
  while (const dirent *e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    Entry entry{e->d_name, {}};
    if (::fstatat(::dirfd(d), e->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    entries->push_back(std::move(entry));
  }
  ::closedir(d);
  return true;
}

bool read_whole(const std::string &path, std::string *text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

// Descriptor - the lines of a send request that say when it is due
struct Descriptor {
  bool has_repeats = false;
  uint32_t left = 0, minutes = 0, last_sent = 0;
};

// descriptor_value - the first line whose key begins with `key` (case
// ignored), its value trimmed of blanks, colons and CR, before any "Body"
bool descriptor_value(const std::string &text, const char *key, std::string *value) {
  std::istringstream in(text);
  const size_t n = std::strlen(key);
  for (std::string line; std::getline(in, line);) {
    if (strncasecmp(line.c_str(), "Body", 4) == 0) return false;
    if (line.size() < n || strncasecmp(line.c_str(), key, n) != 0) continue;
    const size_t colon = line.find(':', n);
    if (colon == std::string::npos) continue;
    const char *trim = " \t:\r";
    const size_t first = line.find_first_not_of(trim, colon);
    if (first == std::string::npos) continue;
    *value = line.substr(first, line.find_last_not_of(trim) + 1 - first);
    return true;
  }
  return false;
}

uint32_t descriptor_number(const std::string &text, const char *key) {
  std::string value;
  if (!descriptor_value(text, key, &value)) return 0;
  char *end = nullptr;
  const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
  return end == value.c_str() || n >= 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(n);
}

Descriptor read_descriptor(const std::string &text) {
  Descriptor d;
  std::string value;
  d.has_repeats = descriptor_value(text, "RepeatTimeout", &value);
  d.minutes = descriptor_number(text, "RepeatTimeout");
  d.left = descriptor_number(text, "RepeatNumber");
  d.last_sent = descriptor_number(text, "CurrentTime");
  return d;
}

void note_oldest(std::optional<Item> *oldest, const std::string &path, long long time) {
  if (!*oldest || time < (*oldest)->time) *oldest = Item{path, time};
}

// look_into_send_dir - a subdirectory of a rule directory: a waiting send
// request ("olminfo.txt"), one in hand (its descriptor under a working name),
// or neither
void look_into_send_dir(const std::string &dir, long long now, OutputRuleStatus *rule) {
  std::vector<Entry> entries;
  std::string problem;
  if (!list(dir, &entries, &problem)) return;
  std::optional<Item> claimed;
  for (const Entry &e : entries) {
    if (!S_ISREG(e.st.st_mode)) continue;
    const std::string path = dir + "/" + e.name;
    // A working name in a send directory is its claimed descriptor.
    if (is_work_name(e.name)) note_oldest(&claimed, dir, e.st.st_mtime);
    if (strcasecmp(e.name.c_str(), kDescriptor) != 0) continue;
    ++rule->send_dirs;
    std::string text;
    const Descriptor d = read_whole(path, &text) ? read_descriptor(text) : Descriptor{};
    if (!d.has_repeats || d.minutes == 0) {
      note_oldest(&rule->oldest, dir, e.st.st_mtime);
      continue;
    }
    // A repeat waits for its time, not for the gateway: oldest only once due.
    Repeat r{dir, d.left, d.minutes, d.last_sent, 0};
    if (d.last_sent != 0) r.next_due = static_cast<long long>(d.last_sent) + 60LL * d.minutes;
    if (r.next_due <= now)
      note_oldest(&rule->oldest, dir, r.next_due != 0 ? r.next_due : e.st.st_mtime);
    rule->repeats.push_back(r);
  }
  if (claimed) rule->in_hand.push_back(*claimed);
}

void look_into_rule_dir(long long now, OutputRuleStatus *rule) {
  std::vector<Entry> entries;
  if (!list(rule->directory, &entries, &rule->problem)) return;
  for (const Entry &e : entries) {
    const std::string path = rule->directory + "/" + e.name;
    if (S_ISDIR(e.st.st_mode)) {
      look_into_send_dir(path, now, rule);
    } else if (S_ISREG(e.st.st_mode)) {
      if (is_work_name(e.name)) {
        rule->in_hand.push_back({path, static_cast<long long>(e.st.st_mtime)});
      } else if (rule->mask.empty() || mask_matches(rule->mask.c_str(), e.name.c_str())) {
        ++rule->files;
        note_oldest(&rule->oldest, path, e.st.st_mtime);
      }
    }
  }
}

void gather_outputs(const std::string &key, TreeStatus *s) {
  uint32_t count = 0;
  const std::string list_key = key + "\\OutputFileRulez";
  if (!read_number(list_key, "OutputRulezNum", &count)) {
    s->problems.push_back("\"OutputRulezNum\" cannot be read under " + utf8(list_key));
    return;
  }
  for (uint32_t n = 0; n < count; ++n) {
    const std::string rule_key = list_key + "\\" + std::to_string(n);
    OutputRuleStatus rule;
    rule.index = n;
    uint32_t use = 1;
    rule.in_use = !(read_number(rule_key, "UseRule", &use) && use == 0);
    std::string path, flag;
    if (!read_path(rule_key, "Path", &path)) {
      rule.problem = "\"Path\" cannot be read under " + utf8(rule_key);
      s->outputs.push_back(rule);
      continue;
    }
    rule.directory = native_path(path);
    // Names on disk are UTF-8: the mask is matched as UTF-8 too.
    if (read_text(rule_key, "FileMask", &rule.mask)) rule.mask = utf8(rule.mask);
    rule.guaranteed = read_text(rule_key, "GarantedDelivery", &flag) && flag == "+";
    look_into_rule_dir(s->now, &rule);
    if (!rule.problem.empty())
      s->problems.push_back("output rule " + std::to_string(n) + ": " + rule.problem);
    rule.directory = shown_path(path);
    s->outputs.push_back(std::move(rule));
  }
}

void gather_inputs(const std::string &key, TreeStatus *s) {
  uint32_t count = 0;
  const std::string list_key = key + "\\InputFileRulez";
  if (!read_number(list_key, "InputRulezNum", &count)) {
    s->problems.push_back("\"InputRulezNum\" cannot be read under " + utf8(list_key));
    return;
  }
  for (uint32_t n = 0; n < count; ++n) {
    InputRuleStatus rule;
    rule.index = n;
    std::string path;
    if (read_path(list_key + "\\" + std::to_string(n), "Path", &path)) {
      struct stat st;
      rule.exists = ::stat(native_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      rule.directory = shown_path(path);
    }
    s->inputs.push_back(rule);
  }
}

void count_directory(const std::string &key, const char *flags, const char *name,
                     DirectoryCount *d) {
  uint32_t on = 0;
  std::string path;
  if (!read_number(key, flags, &on) || (on & 1) == 0 || !read_path(key, name, &path)) return;
  d->configured = true;
  d->directory = shown_path(path);
  std::vector<Entry> entries;
  if (!list(native_path(path), &entries, &d->problem)) return;
  for (const Entry &e : entries) {
    if (!S_ISREG(e.st.st_mode)) continue;
    ++d->files;
    note_oldest(&d->oldest, d->directory + "/" + e.name, e.st.st_mtime);
  }
}

void gather_deliveries(TreeStatus *s) {
  s->hash_store = shown_path(hash_store_file());
  std::vector<HashStoreLine> lines;
  if (!read_hash_store(&lines, &s->malformed_hash_lines)) {
    if (errno != ENOENT) s->problems.push_back(s->hash_store + ": " + std::strerror(errno));
    return;
  }
  for (const HashStoreLine &line : lines) {
    OpenDelivery d;
    d.descriptor = shown_path(line.descriptor);
    d.hash = utf8(line.hash);
    struct stat st;
    const std::string descriptor = native_path(line.descriptor);
    d.descriptor_present = ::stat(descriptor.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (d.descriptor_present) {
      d.since = st.st_mtime;
      std::string body;
      if (read_whole(descriptor, &body)) {
        const uint32_t last = read_descriptor(body).last_sent;
        if (last != 0) d.since = last;
      }
    }
    s->deliveries.push_back(std::move(d));
  }
}

void gather_database(const std::string &key, TreeStatus *s) {
  uint32_t flags = 0;
  s->database_mode = OLM_ConfGetDWORD(key.c_str(), "GWODBCFlags", &flags, 0) == 0 && (flags & 1);
  if (!s->database_mode) return;
  std::string dsn;
  uint32_t timeout = 0;
  if (!read_path(key, "ODBC_DSN", &dsn)) {
    s->problems.push_back("the message database: \"ODBC_DSN\" cannot be read");
    return;
  }
  OLM_ConfGetDWORD(key.c_str(), "ODBCTimeout", &timeout, 0);
  BD_HANDLE handle = 0;
  BdInitParams params{dsn.c_str(), timeout, 0};
  if (BdInit(&handle, &params) != 0) {
    char reason[512] = "";
    zura_vez_last_reason(reason, sizeof reason);
    s->problems.push_back(std::string("the message database cannot be reached: ") + reason);
    return;
  }
  auto count = [](void *to, uint32_t direction, const char *state, uint64_t n) {
    (*static_cast<std::map<std::string, uint64_t> *>(
        to))[std::string(direction == 1 ? "incoming " : "outgoing ") + state] = n;
  };
  if (zura_vez_each_state(handle, count, &s->database_queue) != 0) {
    s->problems.push_back("the message database cannot be counted");
  }
  BdClose(handle);
}

void gather_service(const std::string &key, TreeStatus *s) {
  std::string outbox;
  if (!read_path(key + "\\Gateway", "Outbox", &outbox)) {
    s->problems.push_back("\"Outbox\" cannot be read under " + utf8(key) +
                          "\\Gateway: the service's state is not known");
    return;
  }
  s->state_file = state_file_path(native_path(outbox));
  struct stat st;
  // No file: the service has not finished a round here; nothing is wrong.
  if (::stat(s->state_file.c_str(), &st) != 0 && errno == ENOENT) return;
  RoundState state;
  std::string error;
  if (read_round_state(s->state_file, &state, &error)) {
    s->service_running =
        state.pid > 0 && (::kill(static_cast<pid_t>(state.pid), 0) == 0 || errno == EPERM);
    s->service = std::move(state);
  } else {
    s->problems.push_back(error);
  }
}

void gather_events(size_t last, TreeStatus *s) {
  const char *log = std::getenv("RORIV_LOG");
  if (log == nullptr || *log == '\0' || last == 0) return;
  s->events_file = log;
  std::ifstream in(log, std::ios::binary);
  if (!in) {
    s->problems.push_back(s->events_file + ": " + std::strerror(errno));
    return;
  }
  // Only the end of the file is read: a log grows without bound.
  constexpr std::streamoff kTail = 64 * 1024;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(size > kTail ? size - kTail : 0);
  std::string partial;
  if (size > kTail) std::getline(in, partial);  // the line the cut fell into
  std::deque<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
    if (lines.size() > last) lines.pop_front();
  }
  s->last_events.assign(lines.begin(), lines.end());
}

}  // namespace

TreeStatus gather_status(long long now, size_t last_events) {
  TreeStatus s;
  s.now = now;
  const std::string key = key_text();
  if (key.empty()) {
    s.problems.push_back("the gateway's key cannot be read from the configuration store");
    return s;
  }
  s.key = utf8(key);
  gather_outputs(key, &s);
  gather_inputs(key, &s);
  count_directory(key, "OutRulezFlags", "SaveOutErrorPath", &s.bad_files);
  count_directory(key, "InnRulezFlags", "SaveInErrorPath", &s.incoming_errors);
  gather_deliveries(&s);
  gather_database(key, &s);
  gather_service(key, &s);
  gather_events(last_events, &s);
  return s;
}

}  // namespace zz::gateway
