// reg_store.h - a registry export file (.reg) parsed into keys and values.
// "REGEDIT4" files are code page 1251; "Windows Registry Editor Version 5.00"
// files are UTF-16LE (with BOM) as regedit writes them, or UTF-8 as an
// administrator writes them by hand. Every text is kept in code page 1251.
// A file is taken whole or refused with one message naming the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zz::roriv {

struct RegValue {
  enum class Kind { kString, kExpandString, kDword, kBinary };
  Kind kind = Kind::kString;
  std::string text;  // strings: code page 1251; binary: the raw bytes
  uint32_t number = 0;
};

class RegStore {
 public:
  RegStore() = default;
  // Not copied: readers hold answers that point into one parse.
  RegStore(const RegStore &) = delete;
  RegStore &operator=(const RegStore &) = delete;
  RegStore(RegStore &&) = default;
  RegStore &operator=(RegStore &&) = default;

  // parse - false with `error` ("FILE, line N: what") when the file is refused
  static bool parse(std::string_view bytes, const std::string &file_name, RegStore *out,
                    std::string *error);

  // find - key path and value name compared without regard to case
  const RegValue *find(std::string_view key, std::string_view name) const;
  // generation - which parse this is (unique in the process)
  uint64_t generation() const { return generation_; }
  // first_key - the first key of the file as written ("" for none)
  const std::string &first_key() const { return first_key_; }
  // keys - every key as written, in file order
  const std::vector<std::string> &keys() const { return key_order_; }
  // values - a key's values with their names as written
  std::vector<std::pair<std::string, RegValue>> values(std::string_view key) const;

 private:
  struct Key {
    std::string name;
    std::unordered_map<std::string, RegValue> values;    // by upper-cased name
    std::unordered_map<std::string, std::string> names;  // upper-cased name -> as written
  };
  std::unordered_map<std::string, Key> keys_;  // by normalised key path
  uint64_t generation_ = 0;                    // of the parse: lookups tell stores apart by it
  std::vector<std::string> key_order_;
  std::string first_key_;

  friend class RegParser;
};

// normalise_key - upper case of code page 1251, no final "\"
std::string normalise_key(std::string_view key);
void normalise_key_into(std::string_view key, std::string *out);
// expand_environment - %VAR% references replaced where VAR is set
std::string expand_environment(std::string_view text);

}  // namespace zz::roriv
