// export.h - marks the fifteen exports and keeps exceptions inside the module.
// Everything not marked stays hidden: the build compiles with hidden
// visibility, and a version script (POSIX) or a .def file (Windows) lists
// exactly the fifteen names.
#pragma once

#if defined(_WIN32)
#define ZZ_EXPORT extern "C"
#else
#define ZZ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace zz {

// guarded - runs an export's body; any exception becomes the failure result.
template <class Result, class Body>
Result guarded(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

template <class Body>
void guarded_void(Body body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace zz
