// system_log_win32.cpp - events to the Windows Event Log (the Application
// log, source "zozerez"). A known event code is the message id in roriv.dll's
// message table and its arguments are the insertion strings, so the Event
// Viewer shows the text in its own language; the module's level (1 summary,
// 3 detail) is the event's category. Without a registered source the events
// go to the Application source with the whole text, and the first one says so.
#include <windows.h>

#include <mutex>
#include <vector>

#include "common/event_table.h"
#include "roriv/event_log.h"
#include "roriv/registry.h"

namespace zz::roriv {
namespace {

// roriv's own lines in the message table: "%1".
constexpr DWORD kTextEvent = 0x600A0100;

std::wstring wide(const std::string &utf8) {
  if (utf8.empty()) return L"";
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// event_type - by the code's severity bits (every module code is an error);
// roriv's own lines by level: 1 error, 2 warning, others information
WORD event_type(uint32_t level, uint32_t code) {
  const uint32_t severity = code != 0 ? code >> 30 : (level == 1 ? 3u : level == 2 ? 2u : 1u);
  if (severity == 3) return EVENTLOG_ERROR_TYPE;
  if (severity == 2) return EVENTLOG_WARNING_TYPE;
  return EVENTLOG_INFORMATION_TYPE;
}

struct Source {
  std::mutex mutex;
  bool opened = false;
  bool registered = false;  // "zozerez" with its message table
  HANDLE handle = nullptr;
};

void report(HANDLE handle, WORD type, WORD category, DWORD id,
            const std::vector<std::wstring> &strings) {
  std::vector<LPCWSTR> pointers;
  for (const std::wstring &s : strings) pointers.push_back(s.c_str());
  ReportEventW(handle, type, category, id, nullptr, static_cast<WORD>(pointers.size()), 0,
               pointers.empty() ? nullptr : pointers.data(), nullptr);
}

void open_source(Source &s) {
  s.opened = true;
  HKEY key = nullptr;
  s.registered =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
  if (key != nullptr) RegCloseKey(key);
  s.handle = RegisterEventSourceA(nullptr, s.registered ? kEventSource : "Application");
  if (s.handle != nullptr && !s.registered) {
    report(s.handle, EVENTLOG_WARNING_TYPE, 0, kTextEvent,
           {L"zozerez: the event source \"zozerez\" is not registered, so its events come to the "
            L"Application source as plain text. Run zozerez-register.exe as an administrator "
            L"to register it."});
  }
}

}  // namespace

void system_log(const SystemEvent &event) {
  static Source s;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.opened) open_source(s);
  if (s.handle == nullptr) {
    OutputDebugStringW((wide(event.line) + L"\n").c_str());
    return;
  }
  const bool in_table =
      s.registered && event.code != 0 && host_common::find_event(event.code) != nullptr;
  std::vector<std::wstring> strings;
  if (in_table) {
    for (const std::string &arg : event.args) strings.push_back(wide(arg));
  } else {
    strings.push_back(wide(event.line));
  }
  report(s.handle, event_type(event.level, event.code), static_cast<WORD>(event.level),
         in_table ? event.code : kTextEvent, strings);
}

}  // namespace zz::roriv
