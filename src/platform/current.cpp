// current.cpp - which OS layer is in force. A test may install its own (to
// record pauses or to break one call); everything else uses the system's.
#include "platform/os.h"

namespace zz::os {

namespace {
Os *g_installed = nullptr;
}

Os &current() {
  return g_installed != nullptr ? *g_installed : system_os();
}

void install(Os *os) {
  g_installed = os;
}

}  // namespace zz::os
