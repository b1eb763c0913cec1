// paths.h - separators at the end of path buffers (2048 bytes). The module
// writes "\" as on Windows and accepts "/" wherever it tests for a separator.
#pragma once

namespace zz {

inline bool is_separator(char c) {
  return c == '\\' || c == '/';
}

// add_backslash - appends "\" unless the text is empty or ends in "\" or "/"
void add_backslash(char *path);
// strip_backslash - removes one final "\" or "/"
void strip_backslash(char *path);

}  // namespace zz
