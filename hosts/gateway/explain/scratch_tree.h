// scratch_tree.h - a scratch copy of the gateway's world for `explain`: the
// configuration store parsed and written again as a .reg file in a
// temporary directory, with chosen directories replaced by twins inside it
// (their names only, or a full copy), so the module can be run on the copy
// exactly as configured while the real tree stays untouched.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "roriv/reg_store.h"

namespace zz::gateway {

class ScratchTree {
 public:
  ScratchTree() = default;
  ~ScratchTree();
  ScratchTree(const ScratchTree &) = delete;
  ScratchTree &operator=(const ScratchTree &) = delete;

  // open - the store file parsed and a temporary directory made; false with the reason
  bool open(const std::string &store_file, std::string *error);

  // value - a value of the copy (null when absent), key and name case-blind
  const roriv::RegValue *value(const std::string &key, const std::string &name) const;
  // text - a string value, expanded; "" when absent or not text
  std::string text(const std::string &key, const std::string &name) const;
  void set_text(const std::string &key, const std::string &name, const std::string &text);
  void set_number(const std::string &key, const std::string &name, uint32_t number);
  void remove(const std::string &key, const std::string &name);
  // copy_key - `to` becomes a copy of `from` (and nothing else)
  void copy_key(const std::string &from, const std::string &to);

  // twin - the scratch directory standing for `real` (a native path);
  // made on first use: with the names of what `real` holds (empty files,
  // subdirectories two levels deep) or, with `contents`, a full copy
  std::string twin(const std::string &real, bool contents);
  // push / pop - the values as they are now, kept and brought back
  void push();
  void pop();
  // refresh - every twin made again as it was first made (a new try)
  void refresh();
  // real_path - a scratch path told as the real one it stands for
  std::string real_path(const std::string &scratch) const;
  // real_text - every scratch path in a text (an event line) told as the real one
  std::string real_text(std::string text) const;
  // write - the copy written as a REGEDIT4 file; its path
  std::string write(const std::string &name) const;
  const std::string &root() const { return root_; }

 private:
  struct Key {
    std::string name;  // as written
    std::vector<std::pair<std::string, roriv::RegValue>> values;
  };
  Key *find(const std::string &key);
  const Key *find(const std::string &key) const;
  Key &key(const std::string &key);
  void make_twin(const std::string &real, const std::string &scratch, bool contents) const;

  std::string root_;
  std::vector<Key> keys_;
  std::vector<std::vector<Key>> saved_;
  std::map<std::string, std::pair<std::string, bool>> twins_;  // real -> scratch, contents
};

}  // namespace zz::gateway
