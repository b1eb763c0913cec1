// system_log_win32.cpp - log lines to the debugger output on Windows.
#include <windows.h>

#include "roriv/event_log.h"

namespace zz::roriv {

void system_log(uint32_t, const std::string &line) {
  OutputDebugStringA((line + "\n").c_str());
}

}  // namespace zz::roriv
