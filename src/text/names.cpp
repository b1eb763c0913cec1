// names.cpp - working names, TMP_ names and GUID texts. The sequence counter
// of working names is the one value of the module changed atomically: with
// the time and the thread id it makes a name no other caller makes at the
// same moment, and the claiming move (which never replaces) does the rest.
#include "text/names.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/blocks.h"
#include "files/paths.h"
#include "frame/events.h"
#include "host/crypto.h"
#include "host/settings.h"
#include "platform/os.h"
#include "text/compare.h"

namespace zz {
namespace {

std::atomic<uint32_t> g_sequence{0};

void append_bounded(char *buffer, const char *text) {
  size_t have = std::strlen(buffer);
  size_t room = host::kTextSize - 1 - have;
  size_t n = std::strlen(text);
  if (n > room) n = room;
  std::memcpy(buffer + have, text, n);
  buffer[have + n] = '\0';
}

std::string fallback_guid_text(const uint8_t id[16]) {
  char text[40];
  unsigned d1 = id[0] | (id[1] << 8) | (id[2] << 16) | (static_cast<unsigned>(id[3]) << 24);
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", d1,
                id[4] | (id[5] << 8), id[6] | (id[7] << 8), id[8], id[9], id[10], id[11], id[12],
                id[13], id[14], id[15]);
  return text;
}

// random_0_to_32767 - the runtime's rand in the range every runtime gives
int random_0_to_32767() {
  return std::rand() % 32768;
}

}  // namespace

void make_work_name(const char *directory, char *out) {
  out[0] = '\0';
  append_bounded(out, directory);
  size_t length = std::strlen(out);
  if (length == 0 || out[length - 1] != '\\') append_bounded(out, "\\");
  append_bounded(out, "qmt");
  const int32_t time = static_cast<int32_t>(static_cast<uint32_t>(os::current().unix_time()));
  const uint32_t sequence = ++g_sequence;
  const uint32_t thread = os::current().thread_id();
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "-%ld-%u-%lX.tmp", static_cast<long>(time), sequence,
                static_cast<unsigned long>(thread));
  append_bounded(out, numbers);
}

int is_work_name(const char *name) {
  size_t length = std::strlen(name);
  if (length < 8) return 0;
  return equal_ascii_ignoring_case(name, "qmt", 3) &&
                 equal_ascii_ignoring_case(name + length - 4, ".tmp", 4)
             ? 1
             : 0;
}

void make_tmp_name(char *path) {
  os::LocalTime now = os::current().local_time();
  char name[64];
  std::snprintf(name, sizeof name, "TMP_%04d%02d%02d%02d%02d%02d_%04d", now.year, now.month,
                now.day, now.hour, now.minute, now.second, random_0_to_32767());
  size_t length = std::strlen(path);
  if (length != 0 && !is_separator(path[length - 1])) append_bounded(path, "\\");
  append_bounded(path, name);
}

uint32_t get_random_guid(CCA_CONTEXT *crypto, char **out) {
  uint8_t id[16] = {};
  std::string text;
  bool made = false;
  if (os::current().create_uuid(id)) {
    made = os::current().uuid_to_text(id, &text);
  } else if (!host::random_bytes(crypto, sizeof id, id)) {
    report_failure(OXT_EV_GET_RANDOM, "CCA_get_random", "get_random_guid");
    return kFailed;
  }
  if (!made) text = fallback_guid_text(id);
  return create_string(out, text.c_str());
}

}  // namespace zz
