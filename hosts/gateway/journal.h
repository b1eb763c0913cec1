// journal.h - the outgoing message in hand, written down before it is
// delivered and cleared once the module has completed it. After a crash the
// next run finds the entry and completes the message: as sent when the
// outbox holds it, else as not sent (put back for a later round).
#pragma once

#include <string>

#include "zozerez.h"

namespace zz::gateway {

class Journal {
 public:
  explicit Journal(std::string path) : path_(std::move(path)) {}
  // begin - records the record's paths and the delivery tag; false when it cannot
  bool begin(const OutgoingMessage &msg, const std::string &tag) const;
  void clear() const;
  // pending - the entry of an interrupted run: a record holding only paths
  bool pending(OutgoingMessage *msg, std::string *tag) const;

 private:
  std::string path_;
};

}  // namespace zz::gateway
