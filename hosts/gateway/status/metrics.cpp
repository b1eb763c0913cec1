// metrics.cpp - gauges from what the tree holds now, counters from the
// service's state file (what it did since it started). Label values are
// escaped as the format asks (backslash, double quote, line feed).
#include "gateway/status/metrics.h"

#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

namespace zz::gateway {
namespace {

using Labels = std::vector<std::pair<std::string, std::string>>;
using Samples = std::vector<std::pair<Labels, double>>;

std::string escaped(const std::string &value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

class Exposition {
 public:
  void family(const char *name, const char *type, const char *help, const Samples &samples) {
    out_ << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
    for (const auto &[labels, value] : samples) {
      out_ << name;
      const char *separator = "{";
      for (const auto &[label, text] : labels) {
        out_ << separator << label << "=\"" << escaped(text) << "\"";
        separator = ",";
      }
      if (!labels.empty()) out_ << "}";
      char number[32];
      std::snprintf(number, sizeof number, "%.17g", value);
      out_ << " " << number << "\n";
    }
  }
  // one - a family of a single unlabelled sample
  void one(const char *name, const char *type, const char *help, double value) {
    family(name, type, help, {{{}, value}});
  }
  std::string text() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

Labels rule_labels(const OutputRuleStatus &r) {
  return {{"rule", std::to_string(r.index)}, {"directory", r.directory}};
}

template <typename F>
Samples per_output_rule(const TreeStatus &s, F value) {
  Samples samples;
  for (const OutputRuleStatus &r : s.outputs) samples.push_back({rule_labels(r), value(r)});
  return samples;
}

// counter_family - one counter of the service, per output rule when `per_rule`
template <typename F>
void counter_family(Exposition &e, const TreeStatus &s, const char *name, const char *help,
                    bool per_rule, F pick) {
  Samples samples;
  if (s.service) {
    if (per_rule) {
      for (const auto &[dir, c] : s.service->per_rule) {
        samples.push_back({{{"directory", dir}}, static_cast<double>(pick(c))});
      }
    } else {
      samples.push_back({{}, static_cast<double>(pick(s.service->totals))});
    }
  }
  e.family(name, "counter", help, samples);
}

}  // namespace

std::string metrics_text(const TreeStatus &s) {
  Exposition e;
  e.family("zozerez_output_files_waiting", "gauge",
           "Loose files waiting in an output rule's directory.",
           per_output_rule(s, [](const OutputRuleStatus &r) { return r.files; }));
  e.family("zozerez_output_send_dirs_waiting", "gauge",
           "Send directories (olminfo.txt) waiting in an output rule's directory.",
           per_output_rule(s, [](const OutputRuleStatus &r) { return r.send_dirs; }));
  e.family("zozerez_output_oldest_waiting_seconds", "gauge",
           "Age of the oldest file or due send directory waiting; 0 when none waits.",
           per_output_rule(s, [&](const OutputRuleStatus &r) {
             return r.oldest ? static_cast<double>(s.now - r.oldest->time) : 0.0;
           }));
  e.family("zozerez_output_repeats", "gauge",
           "Send requests with guaranteed delivery that have sends left.",
           per_output_rule(s, [](const OutputRuleStatus &r) { return r.repeats.size(); }));
  e.family("zozerez_output_repeats_due", "gauge",
           "Send requests with guaranteed delivery whose next send is due.",
           per_output_rule(s, [&](const OutputRuleStatus &r) {
             size_t due = 0;
             for (const Repeat &rep : r.repeats) due += rep.next_due <= s.now ? 1 : 0;
             return due;
           }));
  e.family("zozerez_output_in_hand", "gauge",
           "Files and send directories under working names (claimed by a collection).",
           per_output_rule(s, [](const OutputRuleStatus &r) { return r.in_hand.size(); }));
  e.family("zozerez_output_in_hand_oldest_seconds", "gauge",
           "How long the oldest claim has been held; 0 when none.",
           per_output_rule(s, [&](const OutputRuleStatus &r) {
             long long oldest = 0;
             for (const Item &i : r.in_hand) oldest = std::max(oldest, s.now - i.time);
             return static_cast<double>(oldest);
           }));
  e.family("zozerez_output_directory_readable", "gauge",
           "1 when the output rule's directory could be listed.",
           per_output_rule(s, [](const OutputRuleStatus &r) { return r.problem.empty() ? 1 : 0; }));
  Samples inputs;
  for (const InputRuleStatus &r : s.inputs) {
    inputs.push_back(
        {{{"rule", std::to_string(r.index)}, {"directory", r.directory}}, r.exists ? 1.0 : 0.0});
  }
  e.family("zozerez_input_directory_present", "gauge", "1 when the input rule's directory exists.",
           inputs);
  e.one("zozerez_bad_files", "gauge", "Files in the bad-files directory (outgoing failures).",
        s.bad_files.files);
  e.one("zozerez_incoming_error_files", "gauge",
        "Files in the incoming error directory (incoming failures).", s.incoming_errors.files);
  long long oldest_delivery = 0;
  for (const OpenDelivery &d : s.deliveries) {
    if (d.descriptor_present) oldest_delivery = std::max(oldest_delivery, s.now - d.since);
  }
  e.one("zozerez_guaranteed_deliveries_open", "gauge",
        "Guaranteed deliveries in the hash store still waiting for a receipt.",
        static_cast<double>(s.deliveries.size()));
  e.one("zozerez_guaranteed_delivery_oldest_seconds", "gauge",
        "Since when the oldest open guaranteed delivery was last sent; 0 when none.",
        static_cast<double>(oldest_delivery));
  e.one("zozerez_hash_store_malformed_lines", "gauge",
        "Lines of the hash store that name no descriptor and hash.", s.malformed_hash_lines);
  Samples queue;
  for (const auto &[state, n] : s.database_queue) {
    const size_t space = state.find(' ');
    queue.push_back({{{"direction", state.substr(0, space)}, {"state", state.substr(space + 1)}},
                     static_cast<double>(n)});
  }
  e.family("zozerez_database_messages", "gauge",
           "Messages in the message database by direction and state.", queue);
  e.one("zozerez_service_up", "gauge", "1 when the service that wrote the state file runs.",
        s.service && s.service_running ? 1 : 0);
  if (s.service) {
    e.one("zozerez_service_start_time_seconds", "gauge", "When the service started (Unix time).",
          static_cast<double>(s.service->started));
    e.one("zozerez_last_round_time_seconds", "gauge", "When the last round began (Unix time).",
          static_cast<double>(s.service->round_started));
    e.one("zozerez_last_round_duration_seconds", "gauge", "How long the last round took.",
          static_cast<double>(s.service->round_ms) / 1000);
    e.one("zozerez_rounds_total", "counter", "Rounds finished since the service started.",
          static_cast<double>(s.service->rounds));
    e.one("zozerez_held_back", "gauge",
          "Messages the service holds back (put back this round, completions to retry).",
          static_cast<double>(s.service->held_back.size()));
  }
  counter_family(e, s, "zozerez_messages_sent_total",
                 "Outgoing messages sent and completed, per output rule directory.", true,
                 [](const Counters &c) { return c.sent; });
  counter_family(e, s, "zozerez_messages_put_back_total",
                 "Outgoing messages put back for a later round, per output rule directory.", true,
                 [](const Counters &c) { return c.put_back; });
  counter_family(e, s, "zozerez_messages_failed_total",
                 "Outgoing messages failed for good, per output rule directory.", true,
                 [](const Counters &c) { return c.failed; });
  counter_family(e, s, "zozerez_messages_stored_total", "Incoming messages stored.", false,
                 [](const Counters &c) { return c.stored; });
  counter_family(e, s, "zozerez_messages_refused_total",
                 "Incoming messages moved aside (not mail, too large, nothing stored).", false,
                 [](const Counters &c) { return c.refused; });
  counter_family(e, s, "zozerez_receipts_sent_total", "Receipts sent for received messages.", false,
                 [](const Counters &c) { return c.receipts_sent; });
  counter_family(e, s, "zozerez_receipts_matched_total",
                 "Receipts received that closed an open guaranteed delivery.", false,
                 [](const Counters &c) { return c.receipts_matched; });
  e.one("zozerez_status_problems", "gauge",
        "Things the status could not read (each is named by zozerez-gateway status).",
        static_cast<double>(s.problems.size()));
  return e.text();
}

}  // namespace zz::gateway
