// module_paths.cpp - readers of the error directories, the administrator's
// address and the data directory.
#include "rules/module_paths.h"

#include <cstring>
#include <string>

#include "files/blocks.h"
#include "files/file_ops.h"
#include "files/paths.h"
#include "frame/events.h"
#include "host/settings.h"
#include "platform/os.h"

namespace zz {
namespace {

constexpr uint32_t kKeepFiles = 1;
constexpr uint32_t kNotify = 2;

// flag_set - a flag word that cannot be read counts as 0
bool flag_set(const char *name, uint32_t bit) {
  uint32_t flags = 0;
  return host::read_dword_ex(host::registry_key(), name, &flags) && (flags & bit) != 0;
}

// error_directory - the twin readers of the two error directories
uint32_t error_directory(const char *flag_name, const char *path_name, const char *function,
                         char *directory, uint32_t *enabled) {
  directory[0] = '\0';
  *enabled = 0;
  if (!flag_set(flag_name, kKeepFiles)) return kOk;
  char path[host::kTextSize];
  if (!host::read_path(host::registry_key(), path_name, path)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetPath", function, path_name,
                   host::registry_key());
    return kFailed;
  }
  strip_backslash(path);
  if (!is_dir(path)) {
    report_failure(OXT_EV_NO_DIRECTORY, "!is_dir", function, path);
    return kFailed;
  }
  add_backslash(path);
  std::memcpy(directory, path, std::strlen(path) + 1);
  *enabled = 1;
  return kOk;
}

}  // namespace

uint32_t get_config_dir_store_files_if_error(char *directory, uint32_t *enabled) {
  return error_directory("InnRulezFlags", "SaveInErrorPath", "get_config_dir_store_files_if_error",
                         directory, enabled);
}

uint32_t get_config_dir_store_bad_files(char *directory, uint32_t *enabled) {
  return error_directory("OutRulezFlags", "SaveOutErrorPath", "get_config_dir_store_bad_files",
                         directory, enabled);
}

uint32_t get_config_admin_address(char *address, char *type, uint32_t *enabled) {
  constexpr const char *kFunction = "get_config_admin_address";
  address[0] = '\0';
  type[0] = '\0';
  *enabled = 0;
  if (!flag_set("OutRulezFlags", kNotify)) return kOk;
  char text[host::kTextSize];
  if (!host::read_string(host::registry_key(), "AdminEmail", text)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetString", kFunction, "AdminEmail",
                   host::registry_key());
    return kFailed;
  }
  uint32_t kind = 0;
  if (!host::read_dword_ex(host::registry_key(), "admin_etype", &kind)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetDWORDEx", kFunction, "admin_etype",
                   host::registry_key());
    return kFailed;
  }
  std::memcpy(address, text, std::strlen(text) + 1);
  std::strcpy(type, kind == 1 ? "EX" : "SMTP");
  *enabled = 1;
  return kOk;
}

uint32_t get_log_path(char *directory) {
  constexpr const char *kFunction = "get_log_path";
  directory[0] = '\0';
  char path[host::kTextSize];
  if (!host::read_path(host::registry_key(), "Filename", path)) {
    report_failure(OXT_EV_READ_SETTING, "OLM_ConfGetPath", kFunction, "Filename",
                   host::registry_key());
    return kFailed;
  }
  if (path[0] == '\0') {
    std::string temp;
    if (!os::current().temp_path(&temp) || temp.size() > 1024) {
      report_failure(OXT_EV_TEMP_PATH, "GetTempPath", kFunction);
      return kFailed;
    }
    std::memcpy(path, temp.c_str(), temp.size() + 1);
  }
  size_t length = std::strlen(path);
  if (length == 0 || !is_separator(path[length - 1])) add_backslash(path);
  std::memcpy(directory, path, std::strlen(path) + 1);
  return kOk;
}

}  // namespace zz
