// registry_win32.cpp - the registry behind roriv on Windows. Values are read
// with RegGetValueA where they live, so an admin's change counts from the
// next read; texts are the ANSI code page's bytes (1251 on the Russian
// systems the module is made for).
#include <windows.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "roriv/registry.h"

namespace zz::roriv {
namespace {

// error_text - the system's words for an error, in UTF-8 like every roriv message
std::string error_text(LONG code) {
  wchar_t text[256] = L"";
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, text, sizeof text / sizeof text[0], nullptr);
  char utf8[768] = "";
  const int m = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8, sizeof utf8,
                                    nullptr, nullptr);
  std::string out(utf8, m > 0 ? static_cast<size_t>(m) : 0);
  while (!out.empty() &&
         (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
    out.pop_back();
  }
  return out.empty() ? "error " + std::to_string(code)
                     : out + " (error " + std::to_string(code) + ")";
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_ != nullptr) RegCloseKey(handle_);
  }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  HKEY *out() { return &handle_; }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

LONG set_value(HKEY key, const std::string &name, const RegValue &value) {
  switch (value.kind) {
    case RegValue::Kind::kDword: {
      const DWORD number = value.number;
      return RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE *>(&number), sizeof number);
    }
    case RegValue::Kind::kBinary:
      return RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                            reinterpret_cast<const BYTE *>(value.text.data()),
                            static_cast<DWORD>(value.text.size()));
    default:
      return RegSetValueExA(key, name.c_str(), 0,
                            value.kind == RegValue::Kind::kExpandString ? REG_EXPAND_SZ : REG_SZ,
                            reinterpret_cast<const BYTE *>(value.text.c_str()),
                            static_cast<DWORD>(value.text.size() + 1));
  }
}

}  // namespace

std::string registry_subkey(std::string_view key) {
  for (std::string_view root : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"}) {
    if (starts_with_nocase(key, root)) return std::string(key.substr(root.size()));
  }
  return std::string(key);
}

std::optional<RegValue> registry_value(const std::string &key, const std::string &name) {
  const std::string subkey = registry_subkey(key);
  std::vector<char> data(256);
  DWORD type = 0;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    const LONG status = RegGetValueA(HKEY_LOCAL_MACHINE, subkey.c_str(), name.c_str(),
                                     RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size);
    if (status == ERROR_MORE_DATA) {
      data.resize(size + 2);
      continue;
    }
    if (status != ERROR_SUCCESS) return std::nullopt;
    data.resize(size);
    break;
  }
  RegValue value;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      value.kind = type == REG_SZ ? RegValue::Kind::kString : RegValue::Kind::kExpandString;
      value.text.assign(data.data(), data.size());
      while (!value.text.empty() && value.text.back() == '\0') value.text.pop_back();
      break;
    case REG_DWORD:
      if (data.size() != sizeof(DWORD)) return std::nullopt;
      value.kind = RegValue::Kind::kDword;
      std::memcpy(&value.number, data.data(), sizeof(DWORD));
      break;
    default:  // binary, multi-string, 64-bit numbers: read as neither text nor number
      value.kind = RegValue::Kind::kBinary;
      value.text.assign(data.data(), data.size());
      break;
  }
  return value;
}

std::string registry_key_error(const std::string &key) {
  Key handle;
  const LONG status =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, registry_subkey(key).c_str(), 0, KEY_READ, handle.out());
  if (status == ERROR_SUCCESS) return "";
  return "the key HKEY_LOCAL_MACHINE\\" + registry_subkey(key) +
         " cannot be opened: " + error_text(status);
}

std::string register_event_source(const std::string &message_file) {
  Key key;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_WRITE,
                                nullptr, key.out(), nullptr);
  if (status != ERROR_SUCCESS) {
    return std::string("HKEY_LOCAL_MACHINE\\") + kEventSourceKey + ": " + error_text(status);
  }
  RegValue file{RegValue::Kind::kExpandString, message_file, 0};
  RegValue types{RegValue::Kind::kDword, "",
                 EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE};
  for (const auto &[name, value] :
       {std::pair<std::string, RegValue>{"EventMessageFile", file}, {"TypesSupported", types}}) {
    status = set_value(key.get(), name, value);
    if (status != ERROR_SUCCESS) return name + ": " + error_text(status);
  }
  return "";
}

std::string unregister_event_source() {
  const LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return "";
  return std::string("HKEY_LOCAL_MACHINE\\") + kEventSourceKey + ": " + error_text(status);
}

std::string import_reg_file(const std::string &path, size_t *count) {
  *count = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": the file cannot be read";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  RegStore store;
  std::string error;
  if (!RegStore::parse(bytes.str(), path, &store, &error)) return error;
  for (const std::string &written : store.keys()) {
    if (!starts_with_nocase(written, "HKEY_LOCAL_MACHINE\\") &&
        !starts_with_nocase(written, "HKLM\\")) {
      return path + ": the key [" + written + "] is not under HKEY_LOCAL_MACHINE";
    }
  }
  for (const std::string &written : store.keys()) {
    const std::string subkey = registry_subkey(written);
    Key key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS) return "HKEY_LOCAL_MACHINE\\" + subkey + ": " + error_text(status);
    for (const auto &[name, value] : store.values(written)) {
      status = set_value(key.get(), name, value);
      if (status != ERROR_SUCCESS) {
        return "HKEY_LOCAL_MACHINE\\" + subkey + ", " + name + ": " + error_text(status);
      }
      ++*count;
    }
  }
  return "";
}

std::string code_page_problem() {
  const UINT ansi = GetACP();
  const UINT oem = GetOEMCP();
  if (ansi == 1251 && oem == 866) return "";
  return "the code page for non-Unicode programs is " + std::to_string(ansi) + " (OEM " +
         std::to_string(oem) +
         "), not 1251 (OEM 866): Cyrillic file names, masks and settings will not match or "
         "will be garbled. Set \"Language for non-Unicode programs\" to Russian (Control Panel, "
         "Region, Administrative) and restart Windows";
}

}  // namespace zz::roriv
