// round_state.h - what the running service tells the outside after each
// round: when it started, when the last round began and how long it took,
// what it holds back, and its counters since start. It is a small JSON file
// beside the journal, replaced whole (written aside, then renamed), so a
// reader sees either the last round or the one before, never half of one.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace zz::gateway {

// Counters - what happened to messages since the service started
struct Counters {
  uint64_t sent = 0;              // outgoing messages handed to the transport and completed
  uint64_t put_back = 0;          // outgoing messages put back for a later round
  uint64_t failed = 0;            // outgoing messages failed for good
  uint64_t stored = 0;            // incoming messages stored (files or database)
  uint64_t refused = 0;           // incoming messages no rule took, or moved aside
  uint64_t receipts_sent = 0;     // receipts answered to received messages
  uint64_t receipts_matched = 0;  // receipts that closed a guaranteed delivery
};

// to_json - the counters as JSON, as the state file and `status --json` write them
void to_json(nlohmann::json &j, const Counters &c);

struct HeldBack {
  std::string path;  // the send directory or file, as this system writes paths
  std::string why;
};

struct RoundState {
  static constexpr int kVersion = 1;
  long long pid = 0;
  long long started = 0;        // Unix seconds
  long long round_started = 0;  // Unix seconds; 0 before the first round ends
  long long round_ms = 0;
  uint64_t rounds = 0;
  bool once = false;  // a single round (run --once), not a service
  std::vector<HeldBack> held_back;
  Counters totals;
  std::map<std::string, Counters> per_rule;  // by output rule directory
};

// state_file_path - where the service of this outbox keeps its state file
std::string state_file_path(const std::string &outbox);
// write_round_state - replaces the file whole; false with the reason
bool write_round_state(const std::string &path, const RoundState &state, std::string *error);
// read_round_state - false with the reason for a file that is missing,
// not JSON, cut short or of another version
bool read_round_state(const std::string &path, RoundState *state, std::string *error);

}  // namespace zz::gateway
