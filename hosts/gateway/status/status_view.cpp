// status_view.cpp - the status table and its JSON form (nlohmann::json).
#include "gateway/status/status_view.h"

#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>

namespace zz::gateway {
namespace {

using nlohmann::json;

std::string plural(unsigned long long n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string due_text(const Repeat &r, long long now) {
  if (r.next_due == 0) return "due now (not sent yet)";
  if (r.next_due <= now) return "due since " + age_text(now - r.next_due);
  return "next due in " + age_text(r.next_due - now);
}

std::string counters_line(const Counters &c) {
  std::ostringstream out;
  out << "sent " << c.sent << ", put back " << c.put_back << ", failed " << c.failed << ", stored "
      << c.stored << ", refused " << c.refused << ", receipts sent " << c.receipts_sent
      << ", receipts matched " << c.receipts_matched;
  return out.str();
}

json item_json(const Item &item, long long now) {
  return json{{"path", item.path}, {"time", item.time}, {"age", now - item.time}};
}

json directory_json(const DirectoryCount &d, long long now) {
  json j{{"configured", d.configured}, {"directory", d.directory}, {"files", d.files}};
  j["oldest"] = d.oldest ? item_json(*d.oldest, now) : json(nullptr);
  if (!d.problem.empty()) j["problem"] = d.problem;
  return j;
}

}  // namespace

std::string utc_text(long long t) {
  const std::time_t time = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

std::string age_text(long long seconds) {
  if (seconds < 0) seconds = 0;
  const long long d = seconds / 86400, h = seconds / 3600 % 24, m = seconds / 60 % 60,
                  s = seconds % 60;
  if (d != 0) return std::to_string(d) + "d " + std::to_string(h) + "h";
  if (h != 0) return std::to_string(h) + "h " + std::to_string(m) + "m";
  if (m != 0) return std::to_string(m) + "m " + std::to_string(s) + "s";
  return std::to_string(s) + "s";
}

std::vector<std::string> attention(const TreeStatus &s) {
  std::vector<std::string> out;
  for (const OutputRuleStatus &r : s.outputs) {
    for (const Item &i : r.in_hand) {
      if (s.now - i.time >= kStuckSeconds) {
        out.push_back("stuck: " + i.path + " under a working name for " + age_text(s.now - i.time));
      }
    }
  }
  if (s.bad_files.files != 0) {
    out.push_back("failed: " + plural(s.bad_files.files, "file", "files") +
                  " in the bad-files directory " + s.bad_files.directory);
  }
  if (s.incoming_errors.files != 0) {
    out.push_back("failed: " + plural(s.incoming_errors.files, "file", "files") +
                  " in the incoming error directory " + s.incoming_errors.directory);
  }
  for (const OpenDelivery &d : s.deliveries) {
    if (!d.descriptor_present) {
      out.push_back("lost: the guaranteed delivery " + d.hash + " names " + d.descriptor +
                    ", which is not there");
    }
  }
  if (s.service && !s.service_running && !s.service->once) {
    out.push_back("not running: the service (pid " + std::to_string(s.service->pid) +
                  ") is gone; its last round was " + age_text(s.now - s.service->round_started) +
                  " ago");
  }
  if (s.service && !s.service->held_back.empty()) {
    out.push_back("held back by the service: " +
                  plural(s.service->held_back.size(), "message", "messages"));
  }
  for (const OutputRuleStatus &r : s.outputs) {
    if (r.oldest) {
      out.push_back("oldest waiting: " + r.oldest->path + " for " +
                    age_text(s.now - r.oldest->time));
      break;
    }
  }
  return out;
}

std::string status_table(const TreeStatus &s) {
  std::ostringstream out;
  out << "zozerez-gateway status at " << utc_text(s.now);
  if (!s.key.empty()) out << " (key " << s.key << ")";
  out << "\n";
  const std::vector<std::string> first = attention(s);
  if (!first.empty()) {
    out << "\nneeds attention\n";
    for (const std::string &line : first) out << "  " << line << "\n";
  }
  out << "\nservice\n";
  if (s.service) {
    const RoundState &st = *s.service;
    out << "  "
        << (st.once             ? "one round (run --once)"
            : s.service_running ? "running"
                                : "NOT RUNNING")
        << ": pid " << st.pid << ", started " << utc_text(st.started) << " ("
        << age_text(s.now - st.started) << " ago)\n";
    if (st.rounds == 0) {
      out << "  no round finished yet\n";
    } else {
      out << "  last round " << age_text(s.now - st.round_started) << " ago, took " << st.round_ms
          << " ms; " << plural(st.rounds, "round", "rounds") << "\n";
    }
    for (const HeldBack &h : st.held_back)
      out << "  holds back " << h.path << ": " << h.why << "\n";
    out << "  since start: " << counters_line(st.totals) << "\n";
  } else {
    out << "  no round finished" << (s.state_file.empty() ? "" : " (no " + s.state_file + ")")
        << "\n";
  }

  out << "\noutput rules\n";
  for (const OutputRuleStatus &r : s.outputs) {
    out << "  " << r.index << "  " << (r.directory.empty() ? "?" : r.directory);
    if (!r.in_use) out << "  (switched off)";
    out << "\n";
    if (!r.problem.empty()) {
      out << "     cannot be read: " << r.problem << "\n";
      continue;
    }
    out << "     waiting: " << plural(r.files, "file", "files") << ", "
        << plural(r.send_dirs, "send directory", "send directories");
    if (r.oldest) out << "; oldest " << age_text(s.now - r.oldest->time);
    out << "\n";
    for (const Repeat &rep : r.repeats) {
      out << "     repeat " << rep.send_dir << ": " << plural(rep.left, "send", "sends")
          << " left, every " << rep.minutes << " min, " << due_text(rep, s.now) << "\n";
    }
    for (const Item &i : r.in_hand) {
      out << "     in hand " << i.path << " for " << age_text(s.now - i.time) << "\n";
    }
  }
  if (s.outputs.empty()) out << "  none\n";

  out << "\ninput rules\n";
  for (const InputRuleStatus &r : s.inputs) {
    out << "  " << r.index << "  " << (r.directory.empty() ? "?" : r.directory) << "  "
        << (r.exists ? "present" : "MISSING") << "\n";
  }
  if (s.inputs.empty()) out << "  none\n";

  auto directory = [&](const char *title, const DirectoryCount &d) {
    out << "\n" << title << ": ";
    if (!d.configured) {
      out << "not configured\n";
    } else if (!d.problem.empty()) {
      out << d.directory << " cannot be read: " << d.problem << "\n";
    } else {
      out << d.directory << ", " << plural(d.files, "file", "files");
      if (d.oldest) out << ", oldest " << age_text(s.now - d.oldest->time);
      out << "\n";
    }
  };
  directory("bad files", s.bad_files);
  directory("incoming errors", s.incoming_errors);

  out << "\nguaranteed deliveries waiting for a receipt: " << s.deliveries.size() << " ("
      << s.hash_store << ")\n";
  for (const OpenDelivery &d : s.deliveries) {
    out << "  " << d.hash << "  ";
    if (d.descriptor_present) {
      out << "for " << age_text(s.now - d.since) << "  " << d.descriptor << "\n";
    } else {
      out << d.descriptor << " (not there)\n";
    }
  }
  if (s.malformed_hash_lines != 0) {
    out << "  " << plural(s.malformed_hash_lines, "line", "lines") << " not understood\n";
  }
  if (s.database_mode) {
    out << "\nmessage database\n";
    for (const auto &[state, n] : s.database_queue) out << "  " << state << ": " << n << "\n";
    if (s.database_queue.empty()) out << "  no messages\n";
  }
  if (!s.events_file.empty()) {
    out << "\nlast events (" << s.events_file << ")\n";
    for (const std::string &line : s.last_events) out << "  " << line << "\n";
  }
  if (!s.problems.empty()) {
    out << "\ncould not read\n";
    for (const std::string &p : s.problems) out << "  " << p << "\n";
  }
  return out.str();
}

std::string status_json(const TreeStatus &s) {
  json j;
  j["now"] = s.now;
  j["key"] = s.key;
  j["attention"] = attention(s);
  json outputs = json::array();
  for (const OutputRuleStatus &r : s.outputs) {
    json o{{"index", r.index},        {"directory", r.directory},
           {"in_use", r.in_use},      {"guaranteed_delivery", r.guaranteed},
           {"file_mask", r.mask},     {"files", r.files},
           {"send_dirs", r.send_dirs}};
    o["oldest"] = r.oldest ? item_json(*r.oldest, s.now) : json(nullptr);
    json repeats = json::array();
    for (const Repeat &rep : r.repeats) {
      repeats.push_back({{"send_dir", rep.send_dir},
                         {"left", rep.left},
                         {"every_minutes", rep.minutes},
                         {"last_sent", rep.last_sent},
                         {"next_due", rep.next_due},
                         {"due", rep.next_due <= s.now}});
    }
    o["repeats"] = repeats;
    json in_hand = json::array();
    for (const Item &i : r.in_hand) in_hand.push_back(item_json(i, s.now));
    o["in_hand"] = in_hand;
    if (!r.problem.empty()) o["problem"] = r.problem;
    outputs.push_back(o);
  }
  j["output_rules"] = outputs;
  json inputs = json::array();
  for (const InputRuleStatus &r : s.inputs) {
    inputs.push_back({{"index", r.index}, {"directory", r.directory}, {"exists", r.exists}});
  }
  j["input_rules"] = inputs;
  j["bad_files"] = directory_json(s.bad_files, s.now);
  j["incoming_errors"] = directory_json(s.incoming_errors, s.now);
  json deliveries = json::array();
  for (const OpenDelivery &d : s.deliveries) {
    deliveries.push_back({{"hash", d.hash},
                          {"descriptor", d.descriptor},
                          {"descriptor_present", d.descriptor_present},
                          {"since", d.since},
                          {"age", d.descriptor_present ? s.now - d.since : 0}});
  }
  j["guaranteed_deliveries"] = {{"hash_store", s.hash_store},
                                {"open", deliveries},
                                {"malformed_lines", s.malformed_hash_lines}};
  j["database"] = {{"mode", s.database_mode}, {"queue", s.database_queue}};
  if (s.service) {
    const RoundState &st = *s.service;
    json held = json::array();
    for (const HeldBack &h : st.held_back) held.push_back({{"path", h.path}, {"why", h.why}});
    json rules = json::object();
    for (const auto &[dir, c] : st.per_rule) rules[dir] = c;
    j["service"] = {{"pid", st.pid},
                    {"running", s.service_running},
                    {"once", st.once},
                    {"started", st.started},
                    {"last_round", st.round_started},
                    {"last_round_age", st.rounds == 0 ? 0 : s.now - st.round_started},
                    {"round_ms", st.round_ms},
                    {"rounds", st.rounds},
                    {"held_back", held},
                    {"totals", json(st.totals)},
                    {"per_rule", rules}};
  } else {
    j["service"] = nullptr;
  }
  j["state_file"] = s.state_file;
  j["events_file"] = s.events_file;
  j["last_events"] = s.last_events;
  j["problems"] = s.problems;
  return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace zz::gateway
