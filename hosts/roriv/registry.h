// registry.h - roriv on Windows: settings read from the registry under
// HKEY_LOCAL_MACHINE, the event source's registration, a .reg file written
// into the registry, and the code pages the module's texts need.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "roriv/reg_store.h"

namespace zz::roriv {

// The configuration key when none is named, and the event source.
constexpr const char *kDefaultKey = "SOFTWARE\\Zozerez";
constexpr const char *kEventSource = "zozerez";
constexpr const char *kEventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\zozerez";

// registry_subkey - the key below HKEY_LOCAL_MACHINE: a leading
// "HKEY_LOCAL_MACHINE\" or "HKLM\" (as .reg files and admins write it) is dropped
std::string registry_subkey(std::string_view key);
// registry_value - one value (key and name in code page 1251); nothing when
// the key or value is absent or cannot be read
std::optional<RegValue> registry_value(const std::string &key, const std::string &name);
// registry_key_error - "" when the key can be opened for reading, else why not
std::string registry_key_error(const std::string &key);

// register_event_source - the source "zozerez" in the Application log, its
// messages in the DLL at `message_file`; "" or why it failed
std::string register_event_source(const std::string &message_file);
std::string unregister_event_source();
// import_reg_file - every key and value of a .reg file (any form roriv reads)
// written to the registry; "" or why it failed; `count` values written
std::string import_reg_file(const std::string &path, size_t *count);
// code_page_problem - "" when the ANSI code page is 1251 and the OEM one 866;
// otherwise a warning naming both and the fix
std::string code_page_problem();

}  // namespace zz::roriv
