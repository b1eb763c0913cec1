// posix_places.h - where a path leads on Linux. A directory the module lists
// becomes served; below a served directory no component is reached through
// a symbolic link, so a send directory swapped for a link between a listing
// and the next call leads nowhere instead of outside. The served directory
// itself may be a link an administrator made.
#pragma once

#include <string>

namespace zz::os::posix {

// A directory handle and a name in it; AT_FDCWD and the whole path when the
// path lies outside every served directory, or directly in one.
class Place {
 public:
  Place() = default;
  ~Place();
  Place(const Place &) = delete;
  Place &operator=(const Place &) = delete;

  // reset - takes over the handle `dir` (closing the one held)
  void reset(int dir, std::string name);
  int dir() const { return dir_; }
  const char *name() const { return name_.c_str(); }

 private:
  int dir_ = -100;  // AT_FDCWD
  std::string name_;
};

// place_of - false with errno set when a component below a served directory
// is a link, not a directory, or ".."
bool place_of(const std::string &path, Place *out);
// serve - notes a listed directory as served unless a served one holds it;
// true when `dir` itself is (now) served, to be opened as configured
bool serve(const std::string &dir);

}  // namespace zz::os::posix
