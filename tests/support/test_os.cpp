// test_os.cpp - the recording OS layer of tests.
#include "support/test_os.h"

namespace zz::test {

TestOs &TestOs::get() {
  static TestOs os;
  return os;
}

void TestOs::reset() {
  pauses.clear();
  fail_open = nullptr;
  fail_move = nullptr;
  opens = 0;
  forced_error = 0;
  fixed_time = os::LocalTime{};
  uuid_fails = false;
  forced_ = false;
}

std::unique_ptr<os::File> TestOs::open(const char *path, os::OpenMode mode) {
  ++opens;
  if (fail_open && fail_open(path, mode)) {
    forced_ = true;
    return nullptr;
  }
  forced_ = false;
  return real().open(path, mode);
}

bool TestOs::move_file(const char *from, const char *to) {
  if (fail_move && fail_move(from, to)) {
    forced_ = true;
    return false;
  }
  forced_ = false;
  return real().move_file(from, to);
}

os::LocalTime TestOs::local_time() {
  return fixed_time.year != 0 ? fixed_time : real().local_time();
}

uint32_t TestOs::last_error() {
  return forced_ ? forced_error : real().last_error();
}

}  // namespace zz::test
