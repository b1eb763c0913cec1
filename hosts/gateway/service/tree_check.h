// tree_check.h - entries in the output rules' directories that the module
// will never take (links, special files, files with several names, names no
// path can carry) are named in the log once, not every round: what has been
// reported is remembered in the outbox across restarts.
#pragma once

#include <functional>
#include <set>
#include <string>

namespace zz::gateway {

class TreeCheck {
 public:
  explicit TreeCheck(std::string memory) : memory_(std::move(memory)) {}
  // round - looks at every output rule directory and its send directories
  void round(const std::function<void(const std::string &)> &log);

 private:
  void look(const std::string &dir, int depth, std::set<std::string> *seen,
            const std::function<void(const std::string &)> &log);
  void load();
  void save() const;

  std::string memory_;
  bool loaded_ = false;
  std::set<std::string> reported_;
};

}  // namespace zz::gateway
