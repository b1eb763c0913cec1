// export.h - marks the fifteen exports and keeps exceptions inside the module.
// Everything not marked stays hidden: the build compiles with hidden
// visibility, and a version script (POSIX) or a .def file (Windows) lists
// exactly the fifteen names. An exception that reaches an export is a
// failure like any other: it is reported, then the failure result returned.
#pragma once

#include <exception>
#include <new>

#include "frame/events.h"

#if defined(_WIN32)
#define ZZ_EXPORT extern "C"
#else
#define ZZ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace zz {

// report_exception - the failure pair of the exception in flight
inline void report_exception(const char *function) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc &) {
    report_failure(OXT_EV_NO_MEMORY, "malloc", function);
  } catch (const std::exception &e) {
    report_summary(e.what(), function);
  } catch (...) {
    report_summary("exception", function);
  }
}

// guarded - runs an export's body; any exception becomes the failure result.
template <class Result, class Body>
Result guarded(const char *function, Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    try {
      report_exception(function);
    } catch (...) {
    }
    return failure;
  }
}

template <class Body>
void guarded_void(const char *function, Body body) noexcept {
  try {
    body();
  } catch (...) {
    try {
      report_exception(function);
    } catch (...) {
    }
  }
}

}  // namespace zz
