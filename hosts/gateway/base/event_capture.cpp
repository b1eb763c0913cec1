// event_capture.cpp - a roriv event sink that keeps readable lines.
#include "gateway/base/event_capture.h"

#include <cstdio>
#include <thread>

#include "roriv/roriv.h"

namespace zz::gateway {

EventCapture::EventCapture() {
  roriv_set_event_sink(&EventCapture::sink, this);
}

EventCapture::~EventCapture() {
  roriv_set_event_sink(nullptr, nullptr);
}

void EventCapture::sink(void *user, unsigned level, unsigned code, const char *line) {
  auto *capture = static_cast<EventCapture *>(user);
  // Only the capturing thread's own events: another thread (the status
  // page's) must not touch the lines being read; its events are in the log.
  if (std::this_thread::get_id() != capture->owner_) return;
  char head[32];
  std::snprintf(head, sizeof head, code != 0 ? "%08X " : "", code);
  (void)level;
  capture->lines_.push_back(std::string(head) + line);
}

}  // namespace zz::gateway
