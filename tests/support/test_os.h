// test_os.h - the OS layer as tests run it: every call goes to the real
// system layer except the pauses, which are recorded and never waited, and
// any single call a test chooses to break (a write that fails twice, a move
// that finds its target taken).
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"
#include "support/temp_dir.h"

namespace zz::test {

// listed - the names the system's layer lists for a pattern
std::set<std::string> listed(const std::string &pattern);

class TestOs : public os::Os {
 public:
  static TestOs &get();
  void reset();

  std::vector<uint32_t> pauses;
  // fail_open - answers true to make this open fail (after counting it)
  std::function<bool(const char *path, os::OpenMode mode)> fail_open;
  std::function<bool(const char *from, const char *to)> fail_move;
  // fail_call - answers true to make "write", "mkdir" or "delete" of `path`
  // fail with forced_error (a hook may also throw, as an allocation would)
  std::function<bool(const char *call, const char *path)> fail_call;
  int opens = 0;
  uint32_t forced_error = 0;  // last_error after a forced failure
  // A fixed clock when set (year 0 means the real clock).
  os::LocalTime fixed_time{};
  bool uuid_fails = false;

  std::unique_ptr<os::File> open(const char *path, os::OpenMode mode) override;
  std::unique_ptr<os::Finder> find_first(const char *pattern, os::DirEntry *first) override {
    return real().find_first(pattern, first);
  }
  bool get_attributes(const char *path, uint32_t *attributes) override {
    return real().get_attributes(path, attributes);
  }
  bool set_attributes(const char *path, uint32_t attributes) override {
    return real().set_attributes(path, attributes);
  }
  bool create_directory(const char *path) override {
    return !forced("mkdir", path) && real().create_directory(path);
  }
  bool remove_directory(const char *path) override { return real().remove_directory(path); }
  bool delete_file(const char *path) override {
    return !forced("delete", path) && real().delete_file(path);
  }
  bool move_file(const char *from, const char *to) override;
  bool is_volume_root(const char *path) override { return real().is_volume_root(path); }
  bool temp_path(std::string *out) override { return real().temp_path(out); }
  os::LocalTime local_time() override;
  int64_t unix_time() override { return real().unix_time(); }
  void sleep_ms(uint32_t milliseconds) override { pauses.push_back(milliseconds); }
  uint32_t thread_id() override { return real().thread_id(); }
  bool create_uuid(uint8_t id[16]) override { return !uuid_fails && real().create_uuid(id); }
  bool uuid_to_text(const uint8_t id[16], std::string *out) override {
    return real().uuid_to_text(id, out);
  }
  uint32_t last_error() override;
  // forced - whether fail_call breaks this call; remembered for last_error
  bool forced(const char *call, const char *path);

 private:
  static os::Os &real() { return os::system_os(); }
  bool forced_ = false;
};

inline TestOs &test_os() {
  return TestOs::get();
}

}  // namespace zz::test
