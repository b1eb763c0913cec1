// maildir.h - the Maildir transport: messages are written complete under
// tmp/ and only then linked into new/; received messages are taken from
// new/ and moved to cur/ once stored, or to failed/ when they cannot be.
#pragma once

#include <string>
#include <vector>

namespace zz::gateway {

class Maildir {
 public:
  explicit Maildir(std::string root) : root_(std::move(root)) {}
  const std::string &root() const { return root_; }

  // create - tmp/, new/, cur/ and failed/ (and the root) where missing
  bool create(std::string *error) const;
  // deliver - a new message; its file name in new/ (which carries `tag`)
  bool deliver(const std::string &bytes, const std::string &tag, std::string *name,
               std::string *error) const;
  // waiting - names in new/, oldest first
  std::vector<std::string> waiting() const;
  // read - a message of new/, when it is no larger than `most` bytes
  enum class Read { kDone, kFailed, kTooLarge };
  Read read(const std::string &name, std::string *bytes, size_t most) const;
  // finish - moves a message from new/ to cur/ (stored) or failed/
  bool finish(const std::string &name, bool stored) const;
  // holds - whether new/ or cur/ has a message whose name carries `tag`
  bool holds(const std::string &tag) const;

 private:
  std::string root_;
};

}  // namespace zz::gateway
