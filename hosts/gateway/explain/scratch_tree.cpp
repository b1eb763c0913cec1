// scratch_tree.cpp - the copy is written as REGEDIT4 in code page 1251, the
// form roriv keeps every text in, so nothing is lost on the way back.
#include "gateway/explain/scratch_tree.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace zz::gateway {
namespace fs = std::filesystem;
namespace {

// The most entries a twin mirrors: a directory of millions is explained from
// its first ones.
constexpr size_t kMostMirrored = 200000;

std::string quoted(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string hex_bytes(const std::string &bytes) {
  std::string out;
  char two[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(bytes[i]));
    out += (i == 0 ? "" : ",") + std::string(two);
  }
  return out;
}

// mirror - nothing is made for a directory that is not there: the module
// must find the twin missing as it would find the real one
void mirror(const fs::path &from, const fs::path &to, bool contents, int depth, size_t *count) {
  std::error_code ec;
  if (!fs::is_directory(from, ec)) return;
  fs::create_directories(to, ec);
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    if (++*count > kMostMirrored) return;
    const fs::path target = to / it->path().filename();
    const fs::file_status st = it->symlink_status(ec);
    if (fs::is_directory(st)) {
      if (depth < 2) mirror(it->path(), target, contents, depth + 1, count);
    } else if (fs::is_regular_file(st)) {
      if (contents) {
        fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
        fs::last_write_time(target, fs::last_write_time(it->path(), ec), ec);
      } else {
        std::ofstream(target.string()).flush();
      }
    }
  }
}

}  // namespace

ScratchTree::~ScratchTree() {
  if (root_.empty() || std::getenv("ZZ_KEEP_SCRATCH") != nullptr) return;
  std::error_code ec;
  fs::remove_all(root_, ec);
}

bool ScratchTree::open(const std::string &store_file, std::string *error) {
  std::ifstream in(store_file, std::ios::binary);
  if (!in) {
    *error = store_file + ": the store cannot be read";
    return false;
  }
  std::stringstream bytes;
  bytes << in.rdbuf();
  roriv::RegStore store;
  if (!roriv::RegStore::parse(bytes.str(), store_file, &store, error)) return false;
  for (const std::string &name : store.keys()) {
    Key k{name, {}};
    for (auto &v : store.values(name)) k.values.push_back(std::move(v));
    keys_.push_back(std::move(k));
  }
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zozerez-explain-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = pattern + ": a scratch directory cannot be made";
    return false;
  }
  root_ = pattern;
  return true;
}

ScratchTree::Key *ScratchTree::find(const std::string &key) {
  const std::string wanted = roriv::normalise_key(key);
  for (Key &k : keys_) {
    if (roriv::normalise_key(k.name) == wanted) return &k;
  }
  return nullptr;
}

const ScratchTree::Key *ScratchTree::find(const std::string &key) const {
  return const_cast<ScratchTree *>(this)->find(key);
}

ScratchTree::Key &ScratchTree::key(const std::string &name) {
  if (Key *k = find(name)) return *k;
  keys_.push_back(Key{name, {}});
  return keys_.back();
}

const roriv::RegValue *ScratchTree::value(const std::string &key, const std::string &name) const {
  const Key *k = find(key);
  if (k == nullptr) return nullptr;
  for (const auto &[n, v] : k->values) {
    if (strcasecmp(n.c_str(), name.c_str()) == 0) return &v;
  }
  return nullptr;
}

std::string ScratchTree::text(const std::string &key, const std::string &name) const {
  const roriv::RegValue *v = value(key, name);
  if (v == nullptr) return {};
  if (v->kind == roriv::RegValue::Kind::kString) return v->text;
  if (v->kind == roriv::RegValue::Kind::kExpandString) return roriv::expand_environment(v->text);
  return {};
}

void ScratchTree::remove(const std::string &key, const std::string &name) {
  Key *k = find(key);
  if (k == nullptr) return;
  for (auto it = k->values.begin(); it != k->values.end(); ++it) {
    if (strcasecmp(it->first.c_str(), name.c_str()) == 0) {
      k->values.erase(it);
      return;
    }
  }
}

void ScratchTree::set_text(const std::string &k, const std::string &name, const std::string &t) {
  remove(k, name);
  roriv::RegValue v;
  v.text = t;
  key(k).values.emplace_back(name, v);
}

void ScratchTree::set_number(const std::string &k, const std::string &name, uint32_t number) {
  remove(k, name);
  roriv::RegValue v;
  v.kind = roriv::RegValue::Kind::kDword;
  v.number = number;
  key(k).values.emplace_back(name, v);
}

void ScratchTree::copy_key(const std::string &from, const std::string &to) {
  const Key *source = find(from);
  std::vector<std::pair<std::string, roriv::RegValue>> values;
  if (source != nullptr) values = source->values;
  key(to).values = std::move(values);
}

std::string ScratchTree::twin(const std::string &real, bool contents) {
  auto found = twins_.find(real);
  if (found != twins_.end()) return found->second.first;
  const std::string scratch = root_ + "/dir" + std::to_string(twins_.size());
  twins_[real] = {scratch, contents};
  make_twin(real, scratch, contents);
  return scratch;
}

void ScratchTree::make_twin(const std::string &real, const std::string &scratch,
                            bool contents) const {
  std::error_code ec;
  fs::remove_all(scratch, ec);
  size_t count = 0;
  mirror(real, scratch, contents, 0, &count);
}

void ScratchTree::push() {
  saved_.push_back(keys_);
}

void ScratchTree::pop() {
  keys_ = std::move(saved_.back());
  saved_.pop_back();
}

void ScratchTree::refresh() {
  for (const auto &[real, twin] : twins_) make_twin(real, twin.first, twin.second);
}

std::string ScratchTree::real_path(const std::string &scratch) const {
  for (const auto &[real, twin] : twins_) {
    const std::string &s = twin.first;
    if (scratch.compare(0, s.size(), s) == 0 &&
        (scratch.size() == s.size() || scratch[s.size()] == '/')) {
      return real + scratch.substr(s.size());
    }
  }
  return scratch;
}

std::string ScratchTree::real_text(std::string text) const {
  // Longer scratch paths first: "dir1" begins "dir10".
  std::vector<std::pair<std::string, std::string>> order;
  for (const auto &[real, twin] : twins_) order.emplace_back(twin.first, real);
  std::sort(order.begin(), order.end(),
            [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
  for (const auto &[scratch, real] : order) {
    for (size_t at = text.find(scratch); at != std::string::npos;
         at = text.find(scratch, at + real.size())) {
      text.replace(at, scratch.size(), real);
    }
  }
  return text;
}

std::string ScratchTree::write(const std::string &name) const {
  std::string out = "REGEDIT4\r\n";
  for (const Key &k : keys_) {
    out += "\r\n[" + k.name + "]\r\n";
    for (const auto &[n, v] : k.values) {
      out += quoted(n) + "=";
      switch (v.kind) {
        case roriv::RegValue::Kind::kString:
          out += quoted(v.text);
          break;
        case roriv::RegValue::Kind::kExpandString:
          out += "hex(2):" + hex_bytes(v.text + std::string(1, '\0'));
          break;
        case roriv::RegValue::Kind::kDword: {
          char number[16];
          std::snprintf(number, sizeof number, "dword:%08x", v.number);
          out += number;
          break;
        }
        case roriv::RegValue::Kind::kBinary:
          out += "hex:" + hex_bytes(v.text);
          break;
      }
      out += "\r\n";
    }
  }
  const std::string path = root_ + "/" + name;
  std::ofstream(path, std::ios::binary) << out;
  return path;
}

}  // namespace zz::gateway
