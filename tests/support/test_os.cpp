// test_os.cpp - the recording OS layer of tests.
#include "support/test_os.h"

namespace zz::test {

std::set<std::string> listed(const std::string &pattern) {
  std::set<std::string> names;
  os::DirEntry entry;
  auto finder = os::system_os().find_first(pattern.c_str(), &entry);
  if (!finder) return names;
  do {
    names.insert(entry.name);
  } while (finder->next(&entry));
  return names;
}

TestOs &TestOs::get() {
  static TestOs os;
  return os;
}

void TestOs::reset() {
  pauses.clear();
  fail_open = nullptr;
  fail_move = nullptr;
  fail_call = nullptr;
  opens = 0;
  forced_error = 0;
  fixed_time = os::LocalTime{};
  uuid_fails = false;
  forced_ = false;
}

namespace {

// A real open file whose writes the test may break (a full disk, say).
class BreakableFile : public os::File {
 public:
  BreakableFile(std::unique_ptr<os::File> file, std::string path)
      : file_(std::move(file)), path_(std::move(path)) {}
  bool size(uint32_t *out) override { return file_->size(out); }
  bool read(void *buffer, uint32_t len, uint32_t *got) override {
    return file_->read(buffer, len, got);
  }
  bool write(const void *data, uint32_t len, uint32_t *put) override {
    if (TestOs::get().forced("write", path_.c_str())) {
      *put = 0;
      return false;
    }
    return file_->write(data, len, put);
  }
  bool created() const override { return file_->created(); }
  bool read_only() const override { return file_->read_only(); }

 private:
  std::unique_ptr<os::File> file_;
  std::string path_;
};

}  // namespace

bool TestOs::forced(const char *call, const char *path) {
  forced_ = fail_call && fail_call(call, path);
  return forced_;
}

std::unique_ptr<os::File> TestOs::open(const char *path, os::OpenMode mode) {
  ++opens;
  if (fail_open && fail_open(path, mode)) {
    forced_ = true;
    return nullptr;
  }
  forced_ = false;
  auto file = real().open(path, mode);
  if (!file || !fail_call) return file;
  return std::make_unique<BreakableFile>(std::move(file), path);
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
