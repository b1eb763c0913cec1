// bench_util.h - what the benchmarks share: a fresh directory, a clock, the
// direct-write floor every measurement is compared with, and the report line.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace zz::bench {

// Scratch - a fresh directory under `base` (tmpfs such as /dev/shm, or a
// disk), removed at the end
class Scratch {
 public:
  explicit Scratch(const std::string &base);
  ~Scratch();
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// write_direct - open, write, fdatasync, close; `locked` adds the exclusive
// flock of the store's create, the least a stored file costs
bool write_direct(const std::string &path, const std::string &data, bool locked = false);

// base_directory - the directory named on the command line (argv[1]), else
// $TMPDIR, else /var/tmp; exits with usage when argv[1] is not a directory
std::string base_directory(int argc, char **argv, const char *usage);
// has_flag - whether one of the arguments after the directory is `flag`
bool has_flag(int argc, char **argv, const char *flag);

inline void report(const char *what, int files, double module_seconds, double floor_seconds,
                   double goal) {
  const double module_rate = files / module_seconds;
  const double floor_rate = files / floor_seconds;
  const double ratio = module_seconds / floor_seconds;
  std::printf(
      "%s: %d files\n  module %10.0f files/s\n  floor  %10.0f files/s\n"
      "  ratio  %10.2f (goal <= %.1f) %s\n",
      what, files, module_rate, floor_rate, ratio, goal, ratio <= goal ? "ok" : "MISSED");
}

}  // namespace zz::bench
