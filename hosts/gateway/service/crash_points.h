// crash_points.h - named places in a round where a test build of the host
// program can kill itself, so that recovery after a crash is tried at every
// step and not only where a timed kill happens to land. The service binary
// never arms them.
#pragma once

namespace zz::gateway {

// arm_crash_points - reads ZOZEREZ_CRASH_AT ("point" or "point:N", the Nth
// time the point is reached); only the test build calls this
void arm_crash_points();
// crash_point - kills the process with SIGKILL when the armed point is reached
void crash_point(const char *name);

}  // namespace zz::gateway
