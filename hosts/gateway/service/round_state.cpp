// round_state.cpp - the service's state file in JSON (nlohmann::json).
// Written to a temporary name in the same directory, flushed, then renamed
// over the old one: readers never see a half-written file from this writer.
#include "gateway/service/round_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace zz::gateway {
namespace {

using nlohmann::json;

Counters counters_from_json(const json &j) {
  Counters c;
  c.sent = j.value("sent", uint64_t{0});
  c.put_back = j.value("put_back", uint64_t{0});
  c.failed = j.value("failed", uint64_t{0});
  c.stored = j.value("stored", uint64_t{0});
  c.refused = j.value("refused", uint64_t{0});
  c.receipts_sent = j.value("receipts_sent", uint64_t{0});
  c.receipts_matched = j.value("receipts_matched", uint64_t{0});
  return c;
}

json to_json(const RoundState &s) {
  json held = json::array();
  for (const HeldBack &h : s.held_back) held.push_back({{"path", h.path}, {"why", h.why}});
  json rules = json::object();
  for (const auto &[dir, c] : s.per_rule) rules[dir] = c;
  return json{{"version", RoundState::kVersion},
              {"pid", s.pid},
              {"started", s.started},
              {"round_started", s.round_started},
              {"round_ms", s.round_ms},
              {"rounds", s.rounds},
              {"once", s.once},
              {"held_back", held},
              {"totals", json(s.totals)},
              {"per_rule", rules}};
}

}  // namespace

void to_json(json &j, const Counters &c) {
  j = json{{"sent", c.sent},
           {"put_back", c.put_back},
           {"failed", c.failed},
           {"stored", c.stored},
           {"refused", c.refused},
           {"receipts_sent", c.receipts_sent},
           {"receipts_matched", c.receipts_matched}};
}

std::string state_file_path(const std::string &outbox) {
  return outbox + "/.zozerez-state.json";
}

bool write_round_state(const std::string &path, const RoundState &state, std::string *error) {
  const std::string text =
      to_json(state).dump(1, ' ', false, json::error_handler_t::replace) + "\n";
  const std::string aside = path + ".new";
  const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = aside + ": " + std::strerror(errno);
    return false;
  }
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int saved = errno;
  ::close(fd);
  if (!written || ::rename(aside.c_str(), path.c_str()) != 0) {
    *error = (written ? path : aside) + ": " + std::strerror(written ? errno : saved);
    ::unlink(aside.c_str());
    return false;
  }
  return true;
}

bool read_round_state(const std::string &path, RoundState *state, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  const json j = json::parse(text.str(), nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    *error = path + ": not a state file (cut short or not JSON)";
    return false;
  }
  const int version = j.value("version", 0);
  if (version != RoundState::kVersion) {
    *error = path + ": state file version " + std::to_string(version) + ", this program reads " +
             std::to_string(RoundState::kVersion);
    return false;
  }
  try {
    RoundState s;
    s.pid = j.value("pid", 0LL);
    s.started = j.value("started", 0LL);
    s.round_started = j.value("round_started", 0LL);
    s.round_ms = j.value("round_ms", 0LL);
    s.rounds = j.value("rounds", uint64_t{0});
    s.once = j.value("once", false);
    if (j.contains("held_back")) {
      const json &held = j.at("held_back");
      for (size_t i = 0; i < held.size(); ++i) {
        s.held_back.push_back({held.at(i).value("path", ""), held.at(i).value("why", "")});
      }
    }
    if (j.contains("totals")) s.totals = counters_from_json(j.at("totals"));
    if (j.contains("per_rule")) {
      const json &rules = j.at("per_rule");
      for (auto it = rules.cbegin(); it != rules.cend(); ++it) {
        s.per_rule[it.key()] = counters_from_json(it.value());
      }
    }
    *state = std::move(s);
    return true;
  } catch (const json::exception &e) {
    *error = path + ": a value of the wrong kind (" + e.what() + ")";
    return false;
  }
}

}  // namespace zz::gateway
