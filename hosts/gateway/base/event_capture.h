// event_capture.h - the module's events as roriv logs them, gathered while a
// command runs so the command can show them to its user (the events of the
// thread that made the capture).
#pragma once

#include <string>
#include <thread>
#include <vector>

namespace zz::gateway {

class EventCapture {
 public:
  EventCapture();
  ~EventCapture();
  EventCapture(const EventCapture &) = delete;
  EventCapture &operator=(const EventCapture &) = delete;
  const std::vector<std::string> &lines() const { return lines_; }

 private:
  static void sink(void *user, unsigned level, unsigned code, const char *line);
  std::vector<std::string> lines_;
  std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace zz::gateway
