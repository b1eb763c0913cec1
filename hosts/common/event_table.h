// event_table.h - every event code the module reports: the kinds of its
// arguments ('t' text, 'p' path, 'n' number), as a message table would know them, and
// a readable English text with %1..%3 where the arguments go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zz::host_common {

struct EventInfo {
  uint32_t code;
  const char *kinds;  // one letter per argument
  const char *text;
};

// find_event - null for a code the module never reports
const EventInfo *find_event(uint32_t code);
// display_path - a path as this system writes it: "/" on POSIX, "\\" on Windows
std::string display_path(std::string path);
// format_event - the text with the arguments put in (arguments already UTF-8)
std::string format_event(const EventInfo &info, const std::vector<std::string> &args);

}  // namespace zz::host_common
