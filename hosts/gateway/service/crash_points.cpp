// crash_points.cpp - SIGKILL, not exit: nothing is flushed, no destructor
// runs, exactly as when the machine's OOM killer or an admin's kill -9 hits.
#include "gateway/service/crash_points.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace zz::gateway {
namespace {

std::string g_point;
unsigned long g_countdown = 0;

}  // namespace

void arm_crash_points() {
  const char *at = std::getenv("ZOZEREZ_CRASH_AT");
  if (at == nullptr || *at == '\0') return;
  const std::string armed = at;
  const size_t colon = armed.find(':');
  g_point = armed.substr(0, colon);
  g_countdown =
      colon == std::string::npos ? 1 : std::strtoul(armed.c_str() + colon + 1, nullptr, 10);
}

void crash_point(const char *name) {
  if (g_countdown == 0 || g_point != name || --g_countdown != 0) return;
  ::kill(::getpid(), SIGKILL);
}

}  // namespace zz::gateway
