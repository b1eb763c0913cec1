// masks.cpp - masks, templates, date texts and separator cuts.
#include "text/masks.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/paths.h"
#include "platform/os.h"

namespace zz {
namespace {

constexpr size_t kMaxText = kNameSize - 1;

std::string bounded(const char *text) {
  return std::string(text, strnlen(text, kMaxText));
}

std::string upper(const char *text) {
  std::string out = bounded(text);
  os::upper_1251(out.data(), out.data(), out.size());
  return out;
}

// upper_into - an upper-cased copy, cut as `bounded` cuts; its length
size_t upper_into(const char *text, char *out) {
  const size_t n = strnlen(text, kMaxText);
  os::upper_1251(text, out, n);
  out[n] = '\0';
  return n;
}

void copy_out(char *out, const std::string &text) {
  size_t n = text.size() < kMaxText ? text.size() : kMaxText;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// Segment - a maximal run of a mask without "*".
struct Segment {
  std::string text;
  size_t start = 0;  // where its occurrence begins in the name
};

std::vector<Segment> split_segments(const std::string &mask) {
  std::vector<Segment> segments;
  size_t i = 0;
  while (i < mask.size()) {
    size_t star = mask.find('*', i);
    size_t end = star == std::string::npos ? mask.size() : star;
    if (end > i) segments.push_back(Segment{mask.substr(i, end - i), 0});
    i = end + 1;
  }
  return segments;
}

// find_from - start of the first match of `pattern` in `text` at or after `from`
bool find_from(const std::string &text, size_t from, const std::string &pattern, size_t *start) {
  if (from > text.size()) return false;
  size_t past = find_pattern(text.c_str() + from, pattern.c_str());
  if (past == 0) return false;
  *start = from + past - pattern.size();
  return true;
}

// find_ending_occurrence - a later occurrence that ends exactly at the end of the text
bool find_ending_occurrence(const std::string &text, const std::string &segment, size_t start,
                            size_t *found) {
  while (find_from(text, start + 1, segment, &start)) {
    if (start + segment.size() == text.size()) {
      *found = start;
      return true;
    }
  }
  return false;
}

// DateGroup - one "<...>" of a template: each token kind is replaced once.
class DateGroup {
 public:
  explicit DateGroup(const os::LocalTime &time) : time_(time) {}

  // expand - the token at `p`, or false to copy the character
  bool expand(const char *p, std::string *out, size_t *used) {
    struct Token {
      const char *text;
      int kind;
    };
    static const Token kTokens[] = {{"DD", 0}, {"MM", 1}, {"YYYY", 2}, {"YY", 3},
                                    {"SS", 4}, {"NN", 5}, {"HH", 6}};
    for (const Token &token : kTokens) {
      size_t n = std::strlen(token.text);
      if (!starts_with_ignoring_case(p, token.text, n)) continue;
      int slot = token.kind == 3 ? 2 : token.kind;  // "YYYY" and "YY" share one use
      if (done_[slot]) return false;
      done_[slot] = true;
      char value[16];
      std::snprintf(value, sizeof value, token.kind == 2 ? "%04d" : "%02d", value_of(token.kind));
      out->append(value);
      *used = n;
      return true;
    }
    return false;
  }

 private:
  static bool starts_with_ignoring_case(const char *p, const char *token, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      char c = p[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      if (c != token[i]) return false;
    }
    return true;
  }

  int value_of(int kind) const {
    switch (kind) {
      case 0:
        return time_.day;
      case 1:
        return time_.month;
      case 2:
        return time_.year;
      case 3:
        return time_.year % 100;
      case 4:
        return time_.second;
      case 5:
        return time_.minute;
      default:
        return time_.hour;
    }
  }

  os::LocalTime time_;
  bool done_[7] = {};
};

const char *date_format(char grouping) {
  switch (grouping) {
    case 'D':
      return "%04d%02d%02d";
    case 'M':
      return "%04d%02d";
    case 'Y':
      return "%04d";
    default:
      return nullptr;
  }
}

int append_date(char grouping, char *text, bool separator) {
  const char *format = date_format(grouping);
  if (format == nullptr) return 0;
  os::LocalTime now = os::current().local_time();
  char date[32];
  std::snprintf(date, sizeof date, format, now.year, now.month, now.day);
  std::string out = bounded(text);
  if (separator && !out.empty() && !is_separator(out.back())) out.push_back('\\');
  out.append(date);
  copy_out(text, out);
  return 1;
}

// find_separator - first (or last) exact occurrence; npos when none or empty
size_t find_separator(const std::string &text, const char *separator, bool last) {
  if (separator == nullptr || *separator == '\0') return std::string::npos;
  return last ? text.rfind(separator) : text.find(separator);
}

}  // namespace

void replace_invalid_chars(char *text) {
  for (; *text != '\0'; ++text) {
    if (std::strchr("\"*/:<>?\\|", *text) != nullptr) *text = '_';
  }
}

// is_mask - a plain loop: masks are short, and strpbrk's setup costs more
int is_mask(const char *text) {
  for (; *text != '\0'; ++text) {
    if (*text == '*' || *text == '?') return 1;
  }
  return 0;
}

int is_empty(const char *text) {
  return text == nullptr || *text == '\0' ? 1 : 0;
}

size_t find_pattern(const char *text, const char *pattern) {
  const size_t n = std::strlen(pattern);
  if (*text == '\0' || n == 0) return 0;
  const char first = pattern[0];
  for (const char *start = text; *start != '\0'; ++start) {
    if (first != '?' && *start != first) {
      // Straight to the next place the pattern can begin.
      start = std::strchr(start, first);
      if (start == nullptr) return 0;
    }
    size_t i = 0;
    while (i < n && start[i] != '\0' && (pattern[i] == '?' || pattern[i] == start[i])) ++i;
    if (i == n) return static_cast<size_t>(start - text) + n;
  }
  return 0;
}

// match_mask - every input rule tries it on every received name and address,
// so it works in place: upper-cased copies on the stack, the mask's "*"
// turned into ends of its segments.
int match_mask(const char *mask, const char *text) {
  if (is_empty(mask) || is_empty(text)) return 1;
  char m[kNameSize];
  char t[kNameSize];
  // "*" and a plain ending, the commonest mask ("*.txt", "*@bank.example"):
  // only as much of the text's end as the ending is long decides.
  if (mask[0] == '*' && mask[1] != '\0' && is_mask(mask + 1) == 0) {
    const size_t ending = strnlen(mask + 1, kMaxText - 1);
    const size_t length = strnlen(text, kMaxText);
    if (ending > length) return 1;
    // Most rules that pass a name over differ in its last character already;
    // ASCII upper-cases alike in every code page.
    const auto last_of_mask = static_cast<unsigned char>(mask[ending]);
    const auto last_of_text = static_cast<unsigned char>(text[length - 1]);
    auto ascii_upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    if (last_of_mask < 0x80 && last_of_text < 0x80 &&
        ascii_upper(last_of_mask) != ascii_upper(last_of_text)) {
      return 1;
    }
    os::upper_1251(mask + 1, m, ending);
    os::upper_1251(text + length - ending, t, ending);
    return std::memcmp(m, t, ending) == 0 ? 0 : 1;
  }
  const size_t mask_length = upper_into(mask, m);
  const size_t text_length = upper_into(text, t);
  const bool starts_star = m[0] == '*';
  const bool ends_star = m[mask_length - 1] == '*';
  size_t segments_end = 0;  // just past the last character of the last segment
  for (size_t i = 0; i < mask_length; ++i) {
    if (m[i] == '*') {
      m[i] = '\0';
    } else {
      segments_end = i + 1;
    }
  }
  // The first occurrence of `segment` in the text at or after `from`.
  auto find_from = [&](size_t from, const char *segment, size_t length, size_t *start) {
    if (from > text_length) return false;
    const size_t past = find_pattern(t + from, segment);
    if (past == 0) return false;
    *start = from + past - length;
    return true;
  };
  size_t cursor = 0;
  bool first = true;
  for (size_t at = 0; at < mask_length;) {
    const char *segment = m + at;
    const size_t length = std::strlen(segment);
    const size_t next = at + length + 1;
    if (length == 0) {
      at = next;
      continue;
    }
    size_t start = 0;
    if (!find_from(cursor, segment, length, &start)) return 1;
    if (first && !starts_star && start != cursor) return 1;
    first = false;
    if (at + length == segments_end && !ends_star && start + length != text_length) {
      // A later occurrence may end exactly at the end of the text.
      while (find_from(start + 1, segment, length, &start)) {
        if (start + length == text_length) return 0;
      }
      return 1;
    }
    cursor = start + length;
    at = next;
  }
  return 0;
}

int cmp_upper_str(const char *a, const char *b) {
  for (;; ++a, ++b) {
    auto x = static_cast<unsigned char>(os::upper_1251(*a));
    auto y = static_cast<unsigned char>(os::upper_1251(*b));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

int transform_name(const char *mask, const char *name, const char *pattern, char *result) {
  if (is_empty(mask) || is_empty(name) || is_empty(pattern)) return 1;
  const std::string m = upper(mask);
  const std::string upper_name = upper(name);
  const std::string original = bounded(name);
  std::vector<Segment> segments = split_segments(m);
  const bool starts_star = m.front() == '*';
  const bool ends_star = m.back() == '*';

  // The mask's wildcards capture runs of the name, in its own letter case.
  std::vector<std::string> captures;
  if (segments.empty()) captures.push_back(original);
  size_t cursor = 0;
  bool complete = false;
  for (size_t i = 0; i < segments.size() && !complete; ++i) {
    Segment &seg = segments[i];
    size_t start = 0;
    if (!find_from(upper_name, cursor, seg.text, &start)) return 1;
    seg.start = start;
    if (i == 0 && !starts_star && start != cursor) return 1;
    const size_t end = start + seg.text.size();
    if (i + 1 == segments.size() && !ends_star && end != upper_name.size()) {
      size_t tail = upper_name.size() - seg.text.size();
      captures.push_back(tail > cursor ? original.substr(cursor, tail - cursor) : std::string());
      size_t later = 0;
      if (!find_ending_occurrence(upper_name, seg.text, start, &later)) return 1;
      complete = true;
      continue;
    }
    if (!(i == 0 && !starts_star)) captures.push_back(original.substr(cursor, start - cursor));
    cursor = end;
  }
  if (!complete && ends_star && !segments.empty()) captures.push_back(original.substr(cursor));

  // The template puts the captures, "?" characters and the date together.
  const std::string p = bounded(pattern);
  std::string out;
  size_t next_capture = 0;
  size_t source = 0;    // the segment "?" characters come from
  size_t question = 0;  // where the next "?" of that segment is looked for
  bool first_star = true;
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (c == '*') {
      if (next_capture < captures.size()) out += captures[next_capture++];
      if (!(first_star && starts_star)) {
        ++source;
        question = 0;
      }
      first_star = false;
    } else if (c == '?') {
      if (source < segments.size()) {
        const Segment &seg = segments[source];
        size_t q = seg.text.find('?', question);
        if (q != std::string::npos) {
          out.push_back(upper_name[seg.start + q]);
          question = q + 1;
        }
      }
    } else if (c == '<') {
      DateGroup group(os::current().local_time());
      size_t j = i + 1;
      while (j < p.size() && p[j] != '>') {
        size_t used = 0;
        if (group.expand(p.c_str() + j, &out, &used)) {
          j += used;
        } else {
          out.push_back(p[j++]);
        }
      }
      if (j >= p.size()) break;  // the template ends inside the group
      i = j;
    } else {
      out.push_back(c);
    }
  }
  copy_out(result, out);
  return 0;
}

void split_name_ext(const char *path, char *base, char *ext) {
  const std::string text = bounded(path);
  const size_t dot = text.rfind('.');
  const size_t separator = text.find_last_of("\\/");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) {
    copy_out(base, text);
    ext[0] = '\0';
    return;
  }
  copy_out(base, text.substr(0, dot));
  copy_out(ext, text.substr(dot));
}

int add_date_subdir(char grouping, char *path) {
  return append_date(grouping, path, true);
}

int add_date_string(char grouping, char *text) {
  return append_date(grouping, text, false);
}

int get_string_after_mask(char *result, const char *text, const char *separator) {
  const std::string t = bounded(text);
  size_t at = find_separator(t, separator, false);
  if (t.empty() || at == std::string::npos) return 0;
  copy_out(result, t.substr(at + std::strlen(separator)));
  return 1;
}

int get_string_upto_mask(char *result, const char *text, const char *separator) {
  const std::string t = bounded(text);
  size_t at = find_separator(t, separator, false);
  if (t.empty() || at == std::string::npos) {
    copy_out(result, t);
    return 0;
  }
  copy_out(result, t.substr(0, at));
  return 1;
}

int get_string_after_last_mask(char *result, const char *text, const char *separator) {
  const std::string t = bounded(text);
  size_t at = find_separator(t, separator, true);
  if (t.empty() || at == std::string::npos) return 0;
  copy_out(result, t.substr(at + std::strlen(separator)));
  return 1;
}

int get_string_upto_last_mask(char *result, const char *text, const char *separator) {
  const std::string t = bounded(text);
  size_t at = find_separator(t, separator, true);
  if (t.empty() || at == std::string::npos) return 0;
  copy_out(result, t.substr(0, at));
  return 1;
}

}  // namespace zz
