// register_win32.cpp - the setup calls of roriv on Windows: the event source
// with this DLL's message table, the configuration key from a .reg file, and
// the check of the code pages, for zozerez-register.exe and for installers.
#include <windows.h>

#include <cstring>
#include <string>

#include "roriv/event_log.h"
#include "roriv/registry.h"
#include "roriv/roriv.h"

namespace {

uint32_t answer(const std::string &error, char *message, uint32_t size) {
  if (message != nullptr && size != 0) {
    const std::string cut = error.substr(0, size - 1);
    std::memcpy(message, cut.c_str(), cut.size() + 1);
  }
  return error.empty() ? 0 : 1;
}

// this_dll - the full path of roriv.dll as loaded
std::string this_dll() {
  HMODULE self = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&this_dll), &self);
  char path[MAX_PATH * 2] = "";
  const DWORD n = GetModuleFileNameA(self, path, sizeof path);
  return std::string(path, n);
}

}  // namespace

extern "C" uint32_t roriv_register(const char *reg_file, char *message, uint32_t size) {
  try {
    std::string error = zz::roriv::register_event_source(this_dll());
    if (error.empty() && reg_file != nullptr && *reg_file != '\0') {
      size_t count = 0;
      error = zz::roriv::import_reg_file(reg_file, &count);
    }
    const std::string code_pages = zz::roriv::code_page_problem();
    if (!code_pages.empty()) zz::roriv::log_line(2, 0, code_pages);
    if (error.empty() && !code_pages.empty()) {
      answer("registered; but " + code_pages, message, size);
      return 0;
    }
    return answer(error, message, size);
  } catch (const std::exception &e) {
    return answer(e.what(), message, size);
  }
}

extern "C" uint32_t roriv_unregister(char *message, uint32_t size) {
  try {
    return answer(zz::roriv::unregister_event_source(), message, size);
  } catch (const std::exception &e) {
    return answer(e.what(), message, size);
  }
}
