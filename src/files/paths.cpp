// paths.cpp - final separators of path buffers.
#include "files/paths.h"

#include <cstring>

#include "host/settings.h"

namespace zz {

void add_backslash(char *path) {
  size_t length = std::strlen(path);
  // A full buffer has no room for the separator; the path stays as it is.
  if (length == 0 || is_separator(path[length - 1]) || length + 1 >= host::kTextSize) return;
  path[length] = '\\';
  path[length + 1] = '\0';
}

void strip_backslash(char *path) {
  size_t length = std::strlen(path);
  if (length != 0 && is_separator(path[length - 1])) path[length - 1] = '\0';
}

}  // namespace zz
