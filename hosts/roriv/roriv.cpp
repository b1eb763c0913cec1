// roriv.cpp - the C functions the module imports (configuration values, the
// registry key, the event report and the failure signal) and the host's
// setup calls. Texts cross in code page 1251; the log is UTF-8.
#include "roriv/roriv.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/cp1251.h"
#include "common/event_table.h"
#include "roriv/event_log.h"
#include "roriv/reader.h"
#include "roriv/store.h"
#include "zozerez_host.h"

#if defined(_WIN32)
#define RORIV_EXPORT extern "C"
#else
#define RORIV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using zz::roriv::RegValue;

constexpr uint32_t kRead = 0;
constexpr uint32_t kNotRead = 1;
constexpr uint32_t kPathSize = 2048;

std::string text_of(const char *s) {
  return s != nullptr ? s : "";
}

// found - the value asked for, valid until this thread's next read
const RegValue *found(const char *key, const char *name) {
  return zz::roriv::read(key, name);
}

// expanded - an expandable string's text with the environment put in
[[gnu::noinline]] const std::string *expanded(const RegValue *value) {
  thread_local std::string text;
  text = zz::roriv::expand_environment(value->text);
  return &text;
}

// string_value - strings and expandable strings (expanded); nothing else reads as text
inline const std::string *string_value(const char *key, const char *name) {
  const RegValue *value = found(key, name);
  if (value == nullptr) return nullptr;
  if (value->kind == RegValue::Kind::kString) return &value->text;
  if (value->kind != RegValue::Kind::kExpandString) return nullptr;
  return expanded(value);
}

uint32_t copy_out(std::string_view text, char *buffer, uint32_t size) {
  if (buffer == nullptr || text.size() + 1 > size) return kNotRead;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return kRead;
}

uint32_t dword_out(const RegValue *v, uint32_t *value) {
  if (v == nullptr || v->kind != RegValue::Kind::kDword || value == nullptr) return kNotRead;
  *value = v->number;
  return kRead;
}

uint32_t dword_value(const char *key, const char *name, uint32_t *value) {
  return dword_out(found(key, name), value);
}

// shielded - no exception leaves roriv: one becomes a logged failure and the
// call's "not read" (or nothing, for the calls without a result)
template <class Result, class Body>
Result shielded(const char *function, Result failure, Body body) noexcept {
  try {
    return body();
  } catch (const std::exception &e) {
    try {
      zz::roriv::log_line(1, 0, std::string(function) + " failed: " + e.what());
    } catch (...) {
    }
  } catch (...) {
  }
  return failure;
}

}  // namespace

RORIV_EXPORT uint32_t NR_GetRegistryKeyString(char *key) {
  return shielded("NR_GetRegistryKeyString", kNotRead, [&] {
    if (key == nullptr) return kNotRead;
    return zz::roriv::host_key(key, kPathSize) ? kRead : kNotRead;
  });
}

// The reads first try the answer expected at this place of the operation,
// which cannot throw and needs no frame; everything else goes the shielded
// way, out of line.

namespace {

[[gnu::noinline]] uint32_t dword_read(const char *function, const char *key, const char *name,
                                      uint32_t *value) {
  return shielded(function, kNotRead, [&] { return dword_value(key, name, value); });
}

[[gnu::noinline]] uint32_t string_read(const char *key, const char *name, char *buffer,
                                       uint32_t size) {
  return shielded("OLM_ConfGetString", kNotRead, [&] {
    const std::string *text = string_value(key, name);
    if (text == nullptr) return kNotRead;
    return copy_out(*text, buffer, size);
  });
}

[[gnu::noinline]] uint32_t expanded_out(const RegValue *value, char *buffer, uint32_t size) {
  return shielded("OLM_ConfGetString", kNotRead,
                  [&] { return copy_out(*expanded(value), buffer, size); });
}

}  // namespace

RORIV_EXPORT uint32_t OLM_ConfGetDWORD(const char *key, const char *name, uint32_t *value,
                                       uint32_t) {
  const RegValue *v;
  if (zz::roriv::read_expected(key, name, &v)) return dword_out(v, value);
  return dword_read("OLM_ConfGetDWORD", key, name, value);
}

RORIV_EXPORT uint32_t OLM_ConfGetDWORDEx(const char *key, const char *name, uint32_t *value,
                                         uint32_t, uint32_t) {
  const RegValue *v;
  if (zz::roriv::read_expected(key, name, &v)) return dword_out(v, value);
  return dword_read("OLM_ConfGetDWORDEx", key, name, value);
}

RORIV_EXPORT uint32_t OLM_ConfGetString(const char *key, const char *name, char *buffer,
                                        uint32_t size, uint32_t) {
  const RegValue *v;
  if (!zz::roriv::read_expected(key, name, &v)) return string_read(key, name, buffer, size);
  if (v == nullptr) return kNotRead;
  if (v->kind == RegValue::Kind::kString) return copy_out(v->text, buffer, size);
  if (v->kind == RegValue::Kind::kExpandString) return expanded_out(v, buffer, size);
  return kNotRead;
}

RORIV_EXPORT uint32_t OLM_ConfGetPath(const char *key, const char *name, char *buffer,
                                      const char *default_text, uint32_t) {
  return shielded("OLM_ConfGetPath", kNotRead, [&] {
    const std::string *text = string_value(key, name);
    if (text == nullptr) {
      if (default_text == nullptr || *default_text == '\0') return kNotRead;
      return copy_out(default_text, buffer, kPathSize);
    }
    return copy_out(*text, buffer, kPathSize);
  });
}

RORIV_EXPORT void OLM_ReportEvent(uint32_t level, uint32_t code, ...) {
  va_list list;
  va_start(list, code);
  shielded("OLM_ReportEvent", 0, [&] {
    const zz::host_common::EventInfo *info = zz::host_common::find_event(code);
    std::vector<std::string> args;
    if (info != nullptr) {
      for (const char *kind = info->kinds; *kind != '\0'; ++kind) {
        if (*kind == 'n') {
          args.push_back(std::to_string(va_arg(list, unsigned int)));
        } else {
          std::string text = zz::host_common::cp1251_to_utf8(text_of(va_arg(list, const char *)));
          args.push_back(*kind == 'p' ? zz::host_common::display_path(std::move(text)) : text);
        }
      }
    }
    std::string text = info != nullptr ? zz::host_common::format_event(*info, args)
                                       : std::string("event without a text in the table");
    zz::roriv::log_line(level, code, text, args);
    return 0;
  });
  va_end(list);
}

RORIV_EXPORT void OLM_SignalFailure(uint32_t first, uint32_t second) {
  shielded("OLM_SignalFailure", 0, [&] {
    zz::roriv::log_line(1, 0,
                        "failure signal (" + std::to_string(first) + ", " + std::to_string(second) +
                            "): a message could not be filed");
    return 0;
  });
}

RORIV_EXPORT uint32_t roriv_setup(const char *store_path, const char *key) {
  return shielded("roriv_setup", kNotRead, [&] {
    zz::roriv::configure_store(text_of(store_path), text_of(key));
    return zz::roriv::store_error().empty() ? kRead : kNotRead;
  });
}

RORIV_EXPORT uint32_t roriv_store_status(char *message, uint32_t size) {
  return shielded("roriv_store_status", kNotRead, [&] {
    std::string error = zz::roriv::store_error();
    if (message != nullptr && size != 0) {
      std::string cut = error.substr(0, size - 1);
      std::memcpy(message, cut.c_str(), cut.size() + 1);
    }
    return error.empty() ? kRead : kNotRead;
  });
}

RORIV_EXPORT void roriv_set_event_sink(roriv_event_sink sink, void *user) {
  shielded("roriv_set_event_sink", 0, [&] {
    zz::roriv::set_event_sink(sink, user);
    return 0;
  });
}

RORIV_EXPORT void roriv_set_log_file(const char *path) {
  shielded("roriv_set_log_file", 0, [&] {
    zz::roriv::set_log_file(path);
    return 0;
  });
}
