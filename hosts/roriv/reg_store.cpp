// reg_store.cpp - the .reg parser. Lines are decoded to code page 1251 first
// (by the encoding the header and BOM fix), then read as sections and values.
#include "roriv/reg_store.h"

#include <atomic>

#include <cctype>
#include <cstdlib>
#include <optional>

#include "common/cp1251.h"

namespace zz::roriv {
namespace {

using host_common::unicode_to_cp1251;

enum class Encoding { kCp1251, kUtf8, kUtf16 };

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

char upper1251(char c) {
  auto b = static_cast<unsigned char>(c);
  if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
  if (b >= 0xE0) return static_cast<char>(b - 32);
  switch (b) {
    case 0xB8:
      return static_cast<char>(0xA8);
    case 0x83:
      return static_cast<char>(0x81);
    case 0x90:
      return static_cast<char>(0x80);
    case 0x9A:
    case 0x9C:
    case 0x9D:
    case 0x9E:
    case 0x9F:
      return static_cast<char>(b - 0x10);
    case 0xA2:
      return static_cast<char>(0xA1);
    case 0xB3:
      return static_cast<char>(0xB2);
    case 0xB4:
      return static_cast<char>(0xA5);
    case 0xBA:
      return static_cast<char>(0xAA);
    case 0xBC:
      return static_cast<char>(0xA3);
    case 0xBE:
      return static_cast<char>(0xBD);
    case 0xBF:
      return static_cast<char>(0xAF);
    default:
      return c;
  }
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = upper1251(c);
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::string describe_bad_character(long bad) {
  if (bad < 0) return "bytes that are not valid in the file's encoding";
  char text[96];
  snprintf(text, sizeof text, "the character U+%04lX, which code page 1251 cannot hold", bad);
  return text;
}

}  // namespace

// RegParser - one pass over the decoded lines of one file.
class RegParser {
 public:
  RegParser(const std::string &file_name, RegStore *store) : file_(file_name), store_(store) {}

  bool run(std::string_view bytes, std::string *error) {
    std::vector<std::string> lines;
    if (!decode(bytes, &lines)) return finish(error);
    for (size_t i = 1; i < lines.size() && problem_.empty(); ++i) {
      line_ = i + 1;
      std::string logical = lines[i];
      // A value written over several lines ends each but the last with "\".
      while (ends_with_continuation(logical) && i + 1 < lines.size()) {
        logical.pop_back();
        logical += std::string(trim(lines[++i]));
      }
      parse_line(trim(logical));
    }
    return finish(error);
  }

 private:
  bool finish(std::string *error) {
    if (problem_.empty()) return true;
    *error = file_ + ", line " + std::to_string(line_) + ": " + problem_;
    return false;
  }

  bool complain(std::string message) {
    if (problem_.empty()) problem_ = std::move(message);
    return false;
  }

  static bool ends_with_continuation(const std::string &line) {
    std::string_view t = trim(line);
    if (t.empty() || t.back() != '\\') return false;
    size_t eq = t.find('=');
    return eq != std::string_view::npos && t.substr(eq + 1).substr(0, 3) == "hex";
  }

  // decode - the file's lines in code page 1251, after the header has been checked
  bool decode(std::string_view bytes, std::vector<std::string> *lines) {
    line_ = 1;
    Encoding encoding = Encoding::kCp1251;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
      encoding = Encoding::kUtf16;
      bytes.remove_prefix(2);
    } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
      encoding = Encoding::kUtf8;
      bytes.remove_prefix(3);
    }
    std::vector<std::string_view> raw = split_lines(bytes, encoding == Encoding::kUtf16);
    if (raw.empty())
      return complain("the file is empty; it must begin with REGEDIT4 or " + std::string(kHeader5));
    for (size_t i = 0; i < raw.size(); ++i) {
      line_ = i + 1;
      std::string text;
      long bad = 0;
      bool ok = true;
      if (encoding == Encoding::kUtf16) {
        ok = host_common::utf16le_to_cp1251(raw[i], &text, &bad);
      } else if (encoding == Encoding::kUtf8) {
        ok = host_common::utf8_to_cp1251(raw[i], &text, &bad);
      } else {
        text.assign(raw[i]);
      }
      if (!ok) return complain("bad encoding: " + describe_bad_character(bad));
      if (i == 0 && !check_header(std::string(trim(text)), &encoding)) return false;
      lines->push_back(std::move(text));
    }
    return true;
  }

  // check_header - an 8-bit "Version 5.00" file is the UTF-8 form
  bool check_header(const std::string &header, Encoding *encoding) {
    if (header == kHeader5) {
      if (*encoding == Encoding::kCp1251) *encoding = Encoding::kUtf8;
      unicode_strings_ = true;
      return true;
    }
    if (header == kHeader4) {
      if (*encoding != Encoding::kCp1251) {
        return complain("a REGEDIT4 file is code page 1251; it cannot carry a byte order mark");
      }
      return true;
    }
    return complain("not a registry export file: the first line must be REGEDIT4 or " +
                    std::string(kHeader5));
  }

  static std::vector<std::string_view> split_lines(std::string_view bytes, bool utf16) {
    std::vector<std::string_view> out;
    const size_t unit = utf16 ? 2 : 1;
    size_t start = 0;
    for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
      bool lf = bytes[i] == '\n' && (!utf16 || bytes[i + 1] == '\0');
      if (!lf) continue;
      std::string_view line = bytes.substr(start, i - start);
      if (utf16 && line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\0') {
        line.remove_suffix(2);
      }
      out.push_back(line);
      start = i + unit;
    }
    if (start < bytes.size()) out.push_back(bytes.substr(start));
    return out;
  }

  void parse_line(std::string_view line) {
    if (line.empty() || line.front() == ';') return;
    if (line.front() == '[') {
      parse_section(line);
    } else if (line.front() == '"' || line.front() == '@') {
      parse_value(line);
    } else {
      complain("expected a [key], a \"name\"=value line or a ; comment");
    }
  }

  void parse_section(std::string_view line) {
    if (line.back() != ']') {
      complain("a key line must end with ]");
      return;
    }
    std::string_view name = trim(line.substr(1, line.size() - 2));
    if (!name.empty() && name.front() == '-') {
      complain("removing keys ([-...]) is not supported in a store file");
      return;
    }
    if (name.empty()) {
      complain("empty key name");
      return;
    }
    std::string id = normalise_key(name);
    auto [it, inserted] = store_->keys_.try_emplace(id);
    if (inserted) {
      it->second.name = std::string(name);
      store_->key_order_.push_back(it->second.name);
      if (store_->first_key_.empty()) store_->first_key_ = it->second.name;
    }
    current_ = &it->second;
  }

  void parse_value(std::string_view line) {
    if (current_ == nullptr) {
      complain("a value before the first [key]");
      return;
    }
    std::string name;
    size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!read_quoted(line, &pos, &name)) {
      return;
    }
    std::string_view rest = trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=') {
      complain("expected = after the value name");
      return;
    }
    std::optional<RegValue> value = parse_data(trim(rest.substr(1)));
    if (value) {
      const std::string id = upper(name);
      current_->values[id] = std::move(*value);
      current_->names[id] = name;
    }
  }

  // read_quoted - a "..." text with \\ and \" as its only escapes
  bool read_quoted(std::string_view line, size_t *pos, std::string *out) {
    size_t i = *pos + 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        out->push_back(line[i]);
        continue;
      }
      if (i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
        out->push_back(line[++i]);
        continue;
      }
      return complain("a lone \\ in a quoted text: write \\\\ for a backslash");
    }
    if (i >= line.size()) return complain("a quoted text without its closing \"");
    *pos = i + 1;
    return true;
  }

  std::optional<RegValue> parse_data(std::string_view data) {
    RegValue value;
    if (!data.empty() && data.front() == '"') {
      size_t pos = 0;
      if (!read_quoted(data, &pos, &value.text)) return std::nullopt;
      if (!trim(data.substr(pos)).empty()) {
        complain("text after the closing \" of a string");
        return std::nullopt;
      }
      return value;
    }
    if (data.substr(0, 6) == "dword:") return parse_dword(data.substr(6));
    if (data.substr(0, 3) == "hex") return parse_hex(data);
    if (data == "-") {
      complain("removing values (=-) is not supported in a store file");
    } else {
      complain("unknown value type: expected \"text\", dword:, hex: or hex(2):");
    }
    return std::nullopt;
  }

  std::optional<RegValue> parse_dword(std::string_view digits) {
    RegValue value;
    value.kind = RegValue::Kind::kDword;
    if (digits.empty() || digits.size() > 8) {
      complain("a dword needs 1 to 8 hexadecimal digits");
      return std::nullopt;
    }
    for (char c : digits) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        complain("a dword needs 1 to 8 hexadecimal digits");
        return std::nullopt;
      }
    }
    value.number = static_cast<uint32_t>(std::strtoul(std::string(digits).c_str(), nullptr, 16));
    return value;
  }

  std::optional<RegValue> parse_hex(std::string_view data) {
    int type = 3;  // plain "hex:" is binary
    size_t colon = data.find(':');
    if (colon == std::string_view::npos) {
      complain("a hex value needs a ':'");
      return std::nullopt;
    }
    std::string_view tag = data.substr(0, colon);
    if (tag != "hex") {
      if (tag.size() < 6 || tag.substr(0, 4) != "hex(" || tag.back() != ')') {
        complain("unknown value type: expected hex: or hex(N):");
        return std::nullopt;
      }
      char *end = nullptr;
      std::string number(tag.substr(4, tag.size() - 5));
      type = static_cast<int>(std::strtol(number.c_str(), &end, 16));
      if (*end != '\0') {
        complain("unknown value type in " + std::string(tag));
        return std::nullopt;
      }
    }
    std::string bytes;
    if (!parse_hex_bytes(data.substr(colon + 1), &bytes)) return std::nullopt;
    return hex_value(type, bytes);
  }

  bool parse_hex_bytes(std::string_view list, std::string *bytes) {
    size_t i = 0;
    while (i < list.size()) {
      while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
      if (i >= list.size()) break;
      if (i + 1 >= list.size() || !std::isxdigit(static_cast<unsigned char>(list[i])) ||
          !std::isxdigit(static_cast<unsigned char>(list[i + 1]))) {
        return complain("hex data must be two-digit bytes separated by commas");
      }
      bytes->push_back(
          static_cast<char>(std::strtoul(std::string(list.substr(i, 2)).c_str(), nullptr, 16)));
      i += 2;
      while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
      if (i < list.size() && list[i] != ',') {
        return complain("hex data must be two-digit bytes separated by commas");
      }
      ++i;
    }
    return true;
  }

  // hex_value - hex(1) and hex(2) are texts (UTF-16LE in version 5 files,
  // code page 1251 in REGEDIT4 files), hex(4) a dword, anything else binary.
  std::optional<RegValue> hex_value(int type, const std::string &bytes) {
    RegValue value;
    if (type == 4) {
      if (bytes.size() != 4) {
        complain("hex(4) needs exactly 4 bytes");
        return std::nullopt;
      }
      value.kind = RegValue::Kind::kDword;
      for (int k = 3; k >= 0; --k)
        value.number = (value.number << 8) | static_cast<uint8_t>(bytes[k]);
      return value;
    }
    if (type != 1 && type != 2) {
      value.kind = RegValue::Kind::kBinary;
      value.text = bytes;
      return value;
    }
    value.kind = type == 2 ? RegValue::Kind::kExpandString : RegValue::Kind::kString;
    std::string text = bytes;
    long bad = 0;
    if (unicode_strings_) {
      if (text.size() % 2 != 0 || !host_common::utf16le_to_cp1251(text, &value.text, &bad)) {
        complain("bad encoding in hex(" + std::to_string(type) +
                 ") data: " + describe_bad_character(bad));
        return std::nullopt;
      }
    } else {
      value.text = text;
    }
    while (!value.text.empty() && value.text.back() == '\0') value.text.pop_back();
    return value;
  }

  std::string file_;
  RegStore *store_;
  RegStore::Key *current_ = nullptr;
  bool unicode_strings_ = false;
  size_t line_ = 0;
  std::string problem_;
};

bool RegStore::parse(std::string_view bytes, const std::string &file_name, RegStore *out,
                     std::string *error) {
  static std::atomic<uint64_t> parses{0};
  RegStore store;
  store.generation_ = ++parses;
  RegParser parser(file_name, &store);
  if (!parser.run(bytes, error)) return false;
  *out = std::move(store);
  return true;
}

const RegValue *RegStore::find(std::string_view key, std::string_view name) const {
  // Readers keep what they were answered; the scratch text only spares an
  // allocation per value asked.
  thread_local std::string scratch;
  normalise_key_into(key, &scratch);
  auto k = keys_.find(scratch);
  if (k == keys_.end()) return nullptr;
  scratch.assign(name.data(), name.size());
  for (char &c : scratch) c = upper1251(c);
  auto v = k->second.values.find(scratch);
  return v == k->second.values.end() ? nullptr : &v->second;
}

std::vector<std::pair<std::string, RegValue>> RegStore::values(std::string_view key) const {
  std::vector<std::pair<std::string, RegValue>> out;
  auto k = keys_.find(normalise_key(key));
  if (k == keys_.end()) return out;
  for (const auto &[id, value] : k->second.values) out.emplace_back(k->second.names.at(id), value);
  return out;
}

void normalise_key_into(std::string_view key, std::string *out) {
  // Separators and blanks go together from the end: "A\\ " names the key "A".
  key = trim(key);
  out->assign(key.data(), key.size());
  for (char &c : *out) c = upper1251(c);
  while (!out->empty() && (out->back() == '\\' || out->back() == '/' || out->back() == ' ' ||
                           out->back() == '\t' || out->back() == '\r')) {
    out->pop_back();
  }
}

std::string normalise_key(std::string_view key) {
  std::string out;
  normalise_key_into(key, &out);
  return out;
}

std::string expand_environment(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string_view::npos;
    if (end == std::string_view::npos || end == i + 1) {
      out.push_back(text[i++]);
      continue;
    }
    std::string name(text.substr(i + 1, end - i - 1));
    const char *value = std::getenv(name.c_str());
    std::string converted;
    if (value != nullptr && host_common::utf8_to_cp1251(value, &converted)) {
      out += converted;
    } else {
      out += text.substr(i, end - i + 1);  // an unknown variable stays as written
    }
    i = end + 1;
  }
  return out;
}

}  // namespace zz::roriv
