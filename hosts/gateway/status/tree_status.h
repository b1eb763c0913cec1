// tree_status.h - what waits, what is in hand, what failed: gathered from
// the configuration store, the rule directories, the hash store and the
// service's state file. Gathering only reads: it never moves, claims, locks
// or writes a file, so it runs safely beside the service. Whatever cannot be
// read is named in `problems` and the rest is still gathered.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gateway/service/round_state.h"

namespace zz::gateway {

struct Item {
  std::string path;    // as this system writes paths
  long long time = 0;  // Unix seconds: its last change
};

// Repeat - a send request with guaranteed delivery that has sends left
struct Repeat {
  std::string send_dir;
  uint32_t left = 0;        // "RepeatNumber"
  uint32_t minutes = 0;     // "RepeatTimeout"
  long long last_sent = 0;  // "CurrentTime"; 0: not sent yet
  long long next_due = 0;   // Unix seconds; 0: due now
};

struct OutputRuleStatus {
  unsigned index = 0;
  std::string directory;  // empty when the rule could not be read
  bool in_use = true;
  bool guaranteed = false;
  std::string mask;
  std::string problem;  // why the directory could not be listed
  unsigned files = 0;
  unsigned send_dirs = 0;
  std::optional<Item> oldest;  // the oldest waiting file or send directory
  std::vector<Repeat> repeats;
  std::vector<Item> in_hand;  // under working names: claimed by a running collection
};

struct InputRuleStatus {
  unsigned index = 0;
  std::string directory;
  bool exists = false;
};

// DirectoryCount - an error directory: configured or not, and what it holds
struct DirectoryCount {
  bool configured = false;
  std::string directory;
  unsigned files = 0;
  std::optional<Item> oldest;
  std::string problem;
};

struct OpenDelivery {
  std::string hash;
  std::string descriptor;
  long long since = 0;  // the last send ("CurrentTime"), else the descriptor's change
  bool descriptor_present = false;
};

struct TreeStatus {
  long long now = 0;
  std::string key;  // the gateway's key in the store
  std::vector<OutputRuleStatus> outputs;
  std::vector<InputRuleStatus> inputs;
  DirectoryCount bad_files;        // outgoing files that could not be sent
  DirectoryCount incoming_errors;  // incoming files that could not be stored
  std::string hash_store;
  std::vector<OpenDelivery> deliveries;
  unsigned malformed_hash_lines = 0;
  bool database_mode = false;
  std::map<std::string, uint64_t> database_queue;  // "outgoing queued" -> count
  std::optional<RoundState> service;
  bool service_running = false;  // its process is there
  std::string state_file;
  std::vector<std::string> last_events;
  std::string events_file;  // empty: events go to the system log only
  std::vector<std::string> problems;
};

// gather_status - everything above, at `now`; the store must be open
TreeStatus gather_status(long long now, size_t last_events);

}  // namespace zz::gateway
