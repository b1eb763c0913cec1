// status_page.cpp - the page is built from the same figures and the same
// attention list as `zozerez-gateway status`; every text is HTML-escaped.
#include "gateway/status/status_page.h"

#include <sstream>

#include "gateway/status/status_view.h"

namespace zz::gateway {
namespace {

std::string html(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

constexpr const char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "h1{font-size:1.3em}h2{font-size:1.1em;margin-top:1.5em}"
    "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.2em .6em;"
    "text-align:left;vertical-align:top}th{background:#eee}td.n{text-align:right}"
    "#attention{background:#fdecea;border:1px solid #d93025;padding:.5em 1em}"
    "#attention li{margin:.2em 0}.ok{color:#1e7e34}.bad{color:#d93025;font-weight:bold}"
    "pre{background:#f6f6f6;padding:.5em;overflow-x:auto}";

}  // namespace

std::string status_page(const TreeStatus &s, int refresh) {
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      << "<meta http-equiv=\"refresh\" content=\"" << refresh << "\">"
      << "<title>zozerez gateway status</title><style>" << kStyle << "</style></head><body>\n"
      << "<h1>zozerez gateway status</h1>\n<p>At " << utc_text(s.now) << " for the key "
      << html(s.key) << "; this page refreshes itself every " << refresh << " s.</p>\n";
  const std::vector<std::string> first = attention(s);
  if (!first.empty()) {
    out << "<section id=\"attention\"><h2>Needs attention</h2><ul>\n";
    for (const std::string &line : first) out << "<li>" << html(line) << "</li>\n";
    out << "</ul></section>\n";
  } else {
    out << "<p id=\"attention\" class=\"ok\">Nothing needs attention.</p>\n";
  }

  out << "<h2>Service</h2>\n";
  if (s.service) {
    const RoundState &st = *s.service;
    out << "<p>"
        << (st.once             ? "One round (run --once)"
            : s.service_running ? "Running"
                                : "<span class=\"bad\">NOT RUNNING</span>")
        << ": process " << st.pid << ", started " << utc_text(st.started) << " ("
        << age_text(s.now - st.started) << " ago). Last round " << utc_text(st.round_started)
        << " (" << age_text(s.now - st.round_started) << " ago), took " << st.round_ms << " ms; "
        << st.rounds << " rounds.</p>\n";
    const Counters &c = st.totals;
    out << "<table id=\"counters\"><tr><th>sent</th><th>put back</th><th>failed</th>"
        << "<th>stored</th><th>refused</th><th>receipts sent</th><th>receipts matched</th></tr>"
        << "<tr><td class=\"n\">" << c.sent << "</td><td class=\"n\">" << c.put_back
        << "</td><td class=\"n\">" << c.failed << "</td><td class=\"n\">" << c.stored
        << "</td><td class=\"n\">" << c.refused << "</td><td class=\"n\">" << c.receipts_sent
        << "</td><td class=\"n\">" << c.receipts_matched << "</td></tr></table>\n";
    if (!st.held_back.empty()) {
      out << "<p>Held back:</p><ul>";
      for (const HeldBack &h : st.held_back) {
        out << "<li>" << html(h.path) << ": " << html(h.why) << "</li>";
      }
      out << "</ul>\n";
    }
  } else {
    out << "<p>No round finished (no state file).</p>\n";
  }

  out << "<h2>Output rules</h2>\n<table id=\"outputs\"><tr><th>#</th><th>directory</th>"
      << "<th>files</th><th>send dirs</th><th>oldest waiting</th><th>repeats</th>"
      << "<th>in hand</th></tr>\n";
  for (const OutputRuleStatus &r : s.outputs) {
    out << "<tr><td class=\"n\">" << r.index << "</td><td>" << html(r.directory)
        << (r.in_use ? "" : " (switched off)");
    if (!r.problem.empty()) out << "<br><span class=\"bad\">" << html(r.problem) << "</span>";
    out << "</td><td class=\"n\">" << r.files << "</td><td class=\"n\">" << r.send_dirs
        << "</td><td>" << (r.oldest ? age_text(s.now - r.oldest->time) : "") << "</td><td>";
    for (const Repeat &rep : r.repeats) {
      out << html(rep.send_dir) << ": " << rep.left << " left, "
          << (rep.next_due <= s.now ? "due" : "in " + age_text(rep.next_due - s.now)) << "<br>";
    }
    out << "</td><td>";
    for (const Item &i : r.in_hand) {
      const bool stuck = s.now - i.time >= kStuckSeconds;
      out << (stuck ? "<span class=\"bad\">" : "<span>") << html(i.path) << " for "
          << age_text(s.now - i.time) << "</span><br>";
    }
    out << "</td></tr>\n";
  }
  out << "</table>\n<h2>Input rules</h2>\n<table id=\"inputs\"><tr><th>#</th><th>directory</th>"
      << "<th>present</th></tr>\n";
  for (const InputRuleStatus &r : s.inputs) {
    out << "<tr><td class=\"n\">" << r.index << "</td><td>" << html(r.directory) << "</td><td>"
        << (r.exists ? "<span class=\"ok\">yes</span>" : "<span class=\"bad\">MISSING</span>")
        << "</td></tr>\n";
  }
  out << "</table>\n<h2>Error directories</h2>\n<table id=\"errors\">";
  auto directory = [&](const char *title, const DirectoryCount &d) {
    out << "<tr><th>" << title << "</th><td>"
        << (d.configured ? html(d.directory) : std::string("not configured")) << "</td><td>"
        << (d.configured ? std::to_string(d.files) + " files" : std::string()) << "</td></tr>\n";
  };
  directory("bad files", s.bad_files);
  directory("incoming errors", s.incoming_errors);
  out << "</table>\n<h2>Guaranteed deliveries waiting for a receipt</h2>\n"
      << "<table id=\"deliveries\"><tr><th>hash</th><th>since last send</th>"
      << "<th>descriptor</th></tr>\n";
  for (const OpenDelivery &d : s.deliveries) {
    out << "<tr><td>" << html(d.hash) << "</td><td>"
        << (d.descriptor_present ? age_text(s.now - d.since) : "") << "</td><td>"
        << html(d.descriptor)
        << (d.descriptor_present ? "" : " <span class=\"bad\">(not there)</span>")
        << "</td></tr>\n";
  }
  out << "</table>\n";
  if (s.database_mode) {
    out << "<h2>Message database</h2>\n<table id=\"database\">";
    for (const auto &[state, n] : s.database_queue) {
      out << "<tr><th>" << html(state) << "</th><td class=\"n\">" << n << "</td></tr>";
    }
    out << "</table>\n";
  }
  if (!s.last_events.empty()) {
    out << "<h2>Last events</h2>\n<pre>";
    for (const std::string &line : s.last_events) out << html(line) << "\n";
    out << "</pre>\n";
  }
  if (!s.problems.empty()) {
    out << "<h2>Could not read</h2>\n<ul>";
    for (const std::string &p : s.problems) out << "<li class=\"bad\">" << html(p) << "</li>";
    out << "</ul>\n";
  }
  out << "</body></html>\n";
  return out.str();
}

}  // namespace zz::gateway
