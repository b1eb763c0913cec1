// run_command.cpp - the service loop. Each round hands every outgoing
// message to the Maildir outbox and completes it, then stores every message
// waiting in the inbox by the input rules, answering with receipts and
// closing guaranteed deliveries by the receipts that arrive. SIGTERM and
// SIGINT end the loop after the message in hand. A journal (outgoing) and a
// progress note (incoming) let the next start finish what a crash cut off.
#include "gateway/commands/run_command.h"

#include <signal.h>
#include <systemd/sd-daemon.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <list>
#include <set>

#include "gateway/base/console.h"
#include "gateway/base/event_capture.h"
#include "gateway/base/module_files.h"
#include "gateway/base/stored_files.h"
#include "gateway/mail/message_hash.h"
#include "gateway/mail/mime.h"
#include "gateway/mail/smime_envelope.h"
#include "gateway/service/crash_points.h"
#include "gateway/service/journal.h"
#include "gateway/service/recovery.h"
#include "gateway/service/round_state.h"
#include "gateway/service/service_log.h"
#include "gateway/service/tree_check.h"
#include "gateway/status/status_server.h"
#include "gateway/transport/maildir.h"
#include "gateway/transport/outgoing.h"
#include "vudo/vudo.h"
#include "zozerez.h"
#include "zozerez_host.h"
#include "zura_vez/zura_vez.h"

namespace zz::gateway {
namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_reload = 0;

void on_reload(int) {
  g_reload = 1;
}

// watchdog_ping - "alive" to systemd, at most once a second: between
// messages and while waiting, never from inside a message's work, so a hang
// there lets the watchdog act
void watchdog_ping() {
  static std::chrono::steady_clock::time_point last;
  const auto now = std::chrono::steady_clock::now();
  if (now - last < std::chrono::seconds(1)) return;
  last = now;
  sd_notify(0, "WATCHDOG=1");
}

void on_signal(int) {
  g_stop = 1;
}

constexpr const char kNotice[] = "OLMNOTIF.TXT";
// "Хэш-функция сообщения:" in code page 1251
constexpr const char kDigestRu[] =
    "\xD5\xFD\xF8-\xF4\xF3\xED\xEA\xF6\xE8\xFF \xF1\xEE\xEE\xE1\xF9\xE5\xED\xE8\xFF:";
constexpr const char kDigestEn[] = "Message digest:";

struct Settings {
  std::string outbox, inbox;
  uint32_t poll_seconds = 10;
  size_t most_bytes = 256u << 20;  // a received message larger than this is moved aside
  bool send_receipts = false;
  Address own{"SMTP", "zozerez@localhost"};
  std::string own_key, own_certificate;  // empty: the gateway neither signs nor decrypts
  OutgoingSettings out;
  StatusServerSettings status;
};

constexpr uint32_t kFlagEncrypt = 1;
constexpr uint32_t kFlagSign = 2;

std::string vudo_reason() {
  char text[512];
  vudo_last_reason(text, sizeof text);
  return text;
}

void log(const std::string &line, std::initializer_list<LogField> fields = {}) {
  log_line(kLogInfo, line, fields);
}

bool read_settings(Settings *s) {
  char key[2048];
  if (NR_GetRegistryKeyString(key) != 0) {
    log("the host's key cannot be had from the store");
    return false;
  }
  const std::string gw = std::string(key) + "\\Gateway";
  char text[2048];
  if (OLM_ConfGetPath(gw.c_str(), "Outbox", text, "", 0) != 0) {
    log("setting \"Outbox\" is missing under " + utf8(gw));
    return false;
  }
  s->outbox = text;
  if (OLM_ConfGetPath(gw.c_str(), "Inbox", text, "", 0) != 0) {
    log("setting \"Inbox\" is missing under " + utf8(gw));
    return false;
  }
  s->inbox = text;
  uint32_t poll = 0;
  if (OLM_ConfGetDWORD(gw.c_str(), "PollSeconds", &poll, 0) == 0 && poll != 0) {
    s->poll_seconds = poll;
  }
  uint32_t most = 0;
  if (OLM_ConfGetDWORD(gw.c_str(), "MaxMessageBytes", &most, 0) == 0 && most != 0) {
    s->most_bytes = most;
  }
  s->send_receipts = OLM_ConfGetString(gw.c_str(), "SendReceipts", text, sizeof text, 0) == 0 &&
                     std::strcmp(text, "+") == 0;
  if (OLM_ConfGetString(gw.c_str(), "OwnAddress", text, sizeof text, 0) == 0 && *text != '\0') {
    s->own.address = text;
  }
  if (OLM_ConfGetPath(gw.c_str(), "OwnKey", text, "", 0) == 0) s->own_key = text;
  if (OLM_ConfGetPath(gw.c_str(), "OwnCertificate", text, "", 0) == 0) s->own_certificate = text;
  if (s->own_key.empty() != s->own_certificate.empty()) {
    log("settings \"OwnKey\" and \"OwnCertificate\" under " + utf8(gw) + " go together");
    return false;
  }
  uint32_t port = 0;
  if (OLM_ConfGetDWORD(gw.c_str(), "StatusPort", &port, 0) == 0) {
    if (port > 65535) {
      log("setting \"StatusPort\" under " + utf8(gw) + " is " + std::to_string(port) +
          ", not a port");
      return false;
    }
    s->status.port = port;
  }
  if (OLM_ConfGetString(gw.c_str(), "StatusAddress", text, sizeof text, 0) == 0 && *text != '\0') {
    s->status.address = text;
  }
  if (OLM_ConfGetPath(gw.c_str(), "StatusPasswordFile", text, "", 0) == 0) {
    s->status.password_file = text;
  }
  std::string error;
  if (!read_outgoing_settings(gw, &s->out, &error)) {
    log(error);
    return false;
  }
  return true;
}

std::string who(const std::vector<Address> &to) {
  std::string out;
  for (const Address &a : to) out += (out.empty() ? "" : ", ") + utf8(a.type + ":" + a.address);
  return out.empty() ? "(nobody)" : out;
}

// rule_directory - the output rule directory of a picked-up file or send
// directory (a path as shown): the one it lies in
std::string rule_directory(const std::string &picked_up) {
  const size_t slash = picked_up.rfind('/');
  return slash == std::string::npos ? std::string() : picked_up.substr(0, slash);
}

// digest_in_notice - the hash an "OLMNOTIF.TXT" receipt names
std::string digest_in_notice(const std::string &text) {
  std::string found;
  for (const char *label : {kDigestEn, kDigestRu}) {
    size_t at = 0;
    while ((at = text.find(label, at)) != std::string::npos) {
      if (at == 0 || text[at - 1] == '\n') break;
      ++at;
    }
    if (at == std::string::npos) continue;
    size_t start = at + std::strlen(label);
    size_t end = text.find('\n', start);
    std::string value =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const char *trim = " \t:\r";
    value.erase(0, value.find_first_not_of(trim));
    value.erase(value.find_last_not_of(trim) + 1);
    if (!value.empty()) found = value;  // the Russian line wins when both are there
  }
  return found;
}

// from_database - a message the module read from the message database
bool from_database(const OutgoingMessage &msg) {
  return msg.SendDirPath == nullptr && (msg.NumberFile == 0 || msg.File[0].PickupPath == nullptr);
}

// picked_up_at - the send directory, or the loose file, a message came from
std::string picked_up_at(const OutgoingMessage &msg) {
  if (msg.SendDirPath != nullptr) return msg.SendDirPath;
  if (msg.NumberFile != 0 && msg.File[0].PickupPath != nullptr) return msg.File[0].PickupPath;
  return "the message database";
}

// What a received S/MIME message was found to be: encrypted (1), signed (2), by whom.
struct Received {
  uint32_t flags = 0;
  std::string signer, signature;
};

class Gateway {
 public:
  Gateway(Settings settings, bool verbose)
      : s_(std::move(settings)),
        verbose_(verbose),
        outbox_(s_.outbox),
        inbox_(s_.inbox),
        progress_(s_.inbox + "/.zozerez-progress"),
        tree_(s_.outbox + "/.zozerez-passed-over") {
    state_.pid = getpid();
    state_.started = static_cast<long long>(std::time(nullptr));
  }

  // start - the Maildirs, the journal and the gateway's own key; false (said)
  // when one cannot be used
  bool start() {
    std::string error;
    if (!outbox_.create(&error) || !inbox_.create(&error)) {
      log("cannot use the Maildir " + error);
      return false;
    }
    if (!journal_.open(s_.outbox, &error)) {
      log("cannot keep the journal " + error);
      return false;
    }
    outgoing_ = make_outgoing(s_.out, outbox_, &error);
    if (outgoing_ == nullptr) {
      log("cannot send mail: " + error);
      return false;
    }
    if (!s_.own_key.empty()) {
      own_ = vudo_signer_open(s_.own_key.c_str(), s_.own_certificate.c_str());
      if (own_ == nullptr) {
        log("cannot use the gateway's own key: " + vudo_reason());
        return false;
      }
    }
    return true;
  }

  // open_module - the module's context, then recovery; false while the module
  // cannot start (in database mode: while the database cannot be reached),
  // said the first time only
  bool open_module() {
    const size_t seen = events_.lines().size();
    if (OXT_init_get_files(&ctx_) != 0) {
      if (!start_failed_) {
        char reason[512] = "";
        zura_vez_last_reason(reason, sizeof reason);
        log(std::string("the module could not start") +
            (*reason != '\0' ? std::string(" (") + reason + ")" : std::string()));
        show_events(seen, true);
      }
      start_failed_ = true;
      return false;
    }
    if (start_failed_) log("the module started");
    recover();
    return true;
  }

  // reconfigure - settings read again: the transport, the own key, receipts
  // and limits change at once; the Maildirs only with a restart. False (said)
  // when the new settings cannot be used: the old ones stay.
  bool reconfigure(Settings fresh) {
    if (fresh.outbox != s_.outbox || fresh.inbox != s_.inbox) {
      log("\"Outbox\" and \"Inbox\" change only with a restart; " + s_.outbox + " and " + s_.inbox +
          " are kept");
      fresh.outbox = s_.outbox;
      fresh.inbox = s_.inbox;
    }
    std::string error;
    std::unique_ptr<Outgoing> outgoing = make_outgoing(fresh.out, outbox_, &error);
    if (outgoing == nullptr) {
      log("the settings read again are not taken: cannot send mail: " + error);
      return false;
    }
    vudo_signer *own = nullptr;
    if (!fresh.own_key.empty()) {
      own = vudo_signer_open(fresh.own_key.c_str(), fresh.own_certificate.c_str());
      if (own == nullptr) {
        log("the settings read again are not taken: cannot use the gateway's own key: " +
            vudo_reason());
        return false;
      }
    }
    vudo_signer_close(own_);
    own_ = own;
    outgoing_ = std::move(outgoing);
    s_ = std::move(fresh);
    return true;
  }

  // stop - a message still waiting for its completion stays in the journal
  void stop() {
    for (Pending &p : pending_) OXT_free_files(&p.msg);
    OXT_deinit_get_files(&ctx_);
    vudo_signer_close(own_);
    own_ = nullptr;
  }

  // round - one pass over outgoing and incoming messages; true when anything moved
  bool round() {
    const auto began = std::chrono::steady_clock::now();
    state_.round_started = static_cast<long long>(std::time(nullptr));
    state_.held_back.clear();
    const bool busy = round_body();
    state_.round_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - began)
                          .count();
    ++state_.rounds;
    for (const Pending &p : pending_) {
      state_.held_back.push_back(
          {shown_path(picked_up_at(p.msg)), "its completion failed; tried again every round"});
    }
    std::string error;
    if (!write_round_state(state_file_path(s_.outbox), state_, &error)) {
      if (!state_failed_) log("cannot write the state file " + error);
      state_failed_ = true;
    } else {
      state_failed_ = false;
    }
    return busy;
  }

  // single_round - the state file says this is no service (run --once)
  void single_round() { state_.once = true; }

  // summary - the state in one line, for systemctl status
  std::string summary() const {
    const Counters &c = state_.totals;
    return "round " + std::to_string(state_.rounds) + " took " + std::to_string(state_.round_ms) +
           " ms; sent " + std::to_string(c.sent) + ", put back " + std::to_string(c.put_back) +
           ", failed " + std::to_string(c.failed) + ", stored " + std::to_string(c.stored) +
           ", refused " + std::to_string(c.refused);
  }

 private:
  bool round_body() {
    bool busy = false;
    tree_.round([](const std::string &line) { log(line); });
    OXT_output_life_signal(&ctx_);
    if (OXT_is_bd(&ctx_) != 0) check_database();
    complete_pending();
    while (!g_stop) {
      watchdog_ping();
      const int sent = send_one();
      if (sent < 0) break;
      busy = true;
    }
    OXT_free_get_files(&ctx_);  // what was held back is offered again next round
    put_back_.clear();
    OXT_input_life_signal(&ctx_);
    for (const std::string &name : inbox_.waiting()) {
      if (g_stop) break;
      watchdog_ping();
      receive(name);
      busy = true;
    }
    return busy;
  }

  // count - the outcome of one outgoing message, in the totals and its rule's
  void count(const OutgoingMessage &msg, uint32_t status) {
    const std::string rule = rule_directory(shown_path(picked_up_at(msg)));
    for (Counters *c : {&state_.totals, &state_.per_rule[rule]}) {
      (status == 0 ? c->sent : status == 1 ? c->put_back : c->failed)++;
    }
    if (status == 1) {
      state_.held_back.push_back({shown_path(picked_up_at(msg)), "put back for a later round"});
    }
  }

  void show_events(size_t from, bool always = false) {
    if (!verbose_ && !always) return;
    for (size_t i = from; i < events_.lines().size(); ++i) log("  event " + events_.lines()[i]);
  }

  // check_database - says once when the message database goes away and once
  // when it is back; meanwhile files and mail go on and its messages wait
  void check_database() {
    const size_t seen = events_.lines().size();
    const bool up = OXT_store_bd_ping(&ctx_) == 0;
    if (up != database_up_) {
      char reason[512] = "";
      zura_vez_last_reason(reason, sizeof reason);
      log(up ? std::string("the message database is reachable again")
             : "the message database cannot be reached (" + std::string(reason) +
                   "); its messages wait, files and mail go on");
      show_events(seen);
    }
    database_up_ = up;
  }

  // recover - completes or puts back what stopped gateways had claimed
  void recover() {
    const size_t seen = events_.lines().size();
    const RecoveryCounts c = recover_claims(
        &ctx_, outbox_, [this](const std::string &tag) { return outgoing_->delivered(tag); },
        [](const std::string &l) { log(l); });
    show_events(seen);
    const unsigned total = c.completed_sent + c.put_back + c.already_done + c.descriptors_restored +
                           c.set_aside + c.groups_undone;
    if (total == 0) return;
    log("recovered after a stop: " + std::to_string(c.completed_sent) + " completed as sent, " +
        std::to_string(c.put_back + c.descriptors_restored) + " offered again, " +
        std::to_string(c.already_done) + " already completed, " + std::to_string(c.set_aside) +
        " set aside, " + std::to_string(c.groups_undone) + " unfinished send directories undone");
  }

  // send_one - 1 a message went, 0 one was put back, -1 nothing more this round
  int send_one() {
    const size_t seen = events_.lines().size();
    OutgoingMessage msg{};
    const uint32_t got = OXT_get_files(&ctx_, nullptr, &msg);
    if (got == 1) return -1;
    crash_point("claimed");
    // A database message is known by its GUID and claim, kept so that a
    // restart after a crash can end exactly this claim.
    guid_.clear();
    claim_.clear();
    if (got == 0 && from_database(msg) && ctx_.OutMsgHeld != 0 && ctx_.OutMsg.MsgGuid != nullptr) {
      char claim[64] = "";
      zura_vez_last_claim(claim, sizeof claim);
      guid_ = ctx_.OutMsg.MsgGuid;
      claim_ = claim;
    }
    const bool filled = msg.NumberFile != 0 || msg.InfoWorkPath != nullptr || !guid_.empty();
    // Written down at once, before any slow work: until then only the
    // working name (or the database's claim) tells that the claim exists.
    const unsigned id = ++sent_;
    const std::string serial = std::to_string(getpid()) + "x" + std::to_string(id);
    if (filled) journal_.record(id, msg, "-" + serial, false, guid_, claim_);
    if (got != 0 && !filled) {
      // With the database away this is said once, by check_database.
      if (database_up_) {
        log("collecting outgoing messages failed");
        show_events(seen, true);
      }
      OXT_free_files(&msg);
      return -1;
    }
    const std::string hash = message_hash(msg);
    const std::string tag = hash + "-" + serial;
    uint32_t status = 1;
    // A database message put back is offered again at once (files are held
    // back by the module, database messages are not): once per round is enough.
    const bool again = from_database(msg) && put_back_.count(hash) != 0;
    if (again) {
      journal_.clear(id);
      OXT_delete_files(&ctx_, &msg, 1, hash.c_str());
      OXT_free_files(&msg);
      return -1;
    }
    if (got != 0) {
      log("a message from " + shown_path(msg.SendDirPath != nullptr ? msg.SendDirPath : "?") +
          " was refused by the module; put back");
      show_events(seen, true);
    } else {
      status = deliver(id, msg, hash, tag);
    }
    crash_point("delivered");
    count(msg, status);
    const int32_t done = OXT_delete_files(&ctx_, &msg, status, hash.c_str());
    crash_point("completed");
    show_events(seen, done != 0);
    if (done != 0 || claims_left(msg)) {
      // Kept, with its journal entry, and completed again every round until
      // that succeeds, so that no claim is left behind.
      log("could not complete the message from " + shown_path(picked_up_at(msg)) +
          "; tried again every round");
      pending_.push_back({id, msg, status, hash});
      return 0;
    }
    if (status != 0 && from_database(msg)) put_back_.insert(hash);
    journal_.clear(id);
    OXT_free_files(&msg);
    return status == 0 ? 1 : 0;
  }

  // complete_pending - one more completion of each message that failed its own
  void complete_pending() {
    for (auto p = pending_.begin(); p != pending_.end();) {
      const size_t seen = events_.lines().size();
      const int32_t done = OXT_delete_files(&ctx_, &p->msg, p->status, p->hash.c_str());
      show_events(seen);
      if (done != 0 || claims_left(p->msg)) {
        ++p;
        continue;
      }
      log("completed the message from " + shown_path(picked_up_at(p->msg)) + " at last");
      journal_.clear(p->id);
      OXT_free_files(&p->msg);
      p = pending_.erase(p);
    }
  }

  uint32_t deliver(unsigned id, const OutgoingMessage &msg, const std::string &hash,
                   const std::string &tag) {
    const MailMessage m = from_outgoing(msg, s_.own, hash);
    std::string bytes, error;
    if (!build_message(m, &bytes, &error)) {
      log("cannot build the message \"" + utf8(m.subject) + "\": " + error + "; failed for good");
      return 2;
    }
    const uint32_t protection = protect(msg.Flags, m, &bytes);
    if (protection != 0) return protection;
    if (!journal_.record(id, msg, tag, true, guid_, claim_)) {
      log("cannot write the journal; \"" + utf8(m.subject) + "\" kept for a later round");
      return 1;
    }
    crash_point("journaled");
    const std::string subject = "\"" + utf8(m.subject) + "\"";
    const std::string from = shown_path(picked_up_at(msg));
    const std::string rule = rule_directory(from);
    const std::initializer_list<LogField> fields = {
        {"ZOZEREZ_MESSAGE_HASH", hash}, {"ZOZEREZ_PATH", from}, {"ZOZEREZ_RULE", rule}};
    const Handover h = hand_over(m, bytes, tag);
    for (const std::string &r : h.refused) log(subject + ": recipient refused: " + utf8(r));
    if (h.status == Handover::kPutBack) {
      log("cannot send " + subject + " through " + outgoing_->name() + ": " + h.why +
              "; kept for a later round",
          fields);
      return 1;
    }
    if (h.status == Handover::kFailed) {
      log(subject + " refused by " + outgoing_->name() + ": " + h.why + "; failed for good",
          fields);
      return 2;
    }
    std::string files;
    for (const Attachment &a : m.attachments) files += (files.empty() ? "" : ", ") + utf8(a.name);
    log("sent " + subject + " [" + files + "] from " + utf8(m.from.type) + ":" +
            utf8(m.from.address) + " to " + who(m.to) + " " + h.where + " (picked up at " + from +
            ")",
        fields);
    return 0;
  }

  // hand_over - the message to the transport: from the sender of the
  // record (else the gateway's own address) to each recipient. A transport
  // that speaks to a mail server takes SMTP addresses only; others are
  // refused by name, and a message left with none fails for good.
  Handover hand_over(const MailMessage &m, const std::string &bytes, const std::string &tag) {
    const bool mail_server = s_.out.transport != "maildir";
    auto smtp = [](const Address &a) { return a.type.empty() || a.type == "SMTP"; };
    // An address goes into a protocol command or a program's arguments only
    // when it is plain ASCII without spaces, brackets, quotes or line ends.
    auto plain = [](const std::string &address) {
      if (address.empty() || address[0] == '-') return false;
      for (unsigned char c : address) {
        if (c <= ' ' || c >= 0x7F || std::strchr("<>()[],;:\\\"", c) != nullptr) return false;
      }
      return true;
    };
    const std::string sender =
        smtp(m.from) && plain(m.from.address) ? m.from.address : s_.own.address;
    std::vector<std::string> to;
    Handover refused;
    for (const Address &a : m.to) {
      if (!mail_server || (smtp(a) && plain(a.address))) {
        to.push_back(a.address);
      } else {
        refused.refused.push_back(
            a.type + ":" + a.address +
            (smtp(a) ? ": not a plain SMTP address" : ": not an SMTP address"));
      }
    }
    if (to.empty()) {
      refused.status = Handover::kFailed;
      refused.why = "no SMTP recipient";
      return refused;
    }
    Handover h = outgoing_->send(sender, to, bytes, tag);
    h.refused.insert(h.refused.begin(), refused.refused.begin(), refused.refused.end());
    return h;
  }

  // protect - the message signed and/or encrypted as its record asks; 0 done,
  // 1 kept for a later round (no own key to sign with), 2 failed for good (a
  // recipient without a certificate): it is never sent in plain text
  uint32_t protect(uint32_t flags, const MailMessage &m, std::string *bytes) {
    if ((flags & (kFlagEncrypt | kFlagSign)) == 0) return 0;
    std::string headers, entity;
    if (!split_entity(*bytes, &headers, &entity)) return 2;
    if ((flags & kFlagSign) != 0) {
      if (own_ == nullptr) {
        log("\"" + utf8(m.subject) + "\" asks to be signed and no \"OwnKey\" is set; kept");
        return 1;
      }
      if (!smime(vudo_smime_sign(own_, &view(entity), &out_), &entity)) {
        log("cannot sign \"" + utf8(m.subject) + "\": " + vudo_reason() + "; kept");
        return 1;
      }
    }
    if ((flags & kFlagEncrypt) != 0) {
      std::vector<const char *> addresses;
      for (const Address &a : m.to) addresses.push_back(a.address.c_str());
      if (addresses.empty() ||
          !smime(vudo_smime_encrypt(addresses.data(), static_cast<uint32_t>(addresses.size()),
                                    &view(entity), &out_),
                 &entity)) {
        log("cannot encrypt \"" + utf8(m.subject) + "\": " + vudo_reason() +
            "; not sent in plain text: failed for good");
        return 2;
      }
    }
    *bytes = join_entity(headers, entity);
    return 0;
  }

  // smime - takes vudo's result into `entity`; false when vudo failed
  bool smime(uint32_t result, std::string *entity) {
    if (result != 0) return false;
    entity->assign(reinterpret_cast<const char *>(out_.Data), out_.Length);
    CCA_free(nullptr, out_.Data);
    out_ = CCA_BUFFER{};
    return true;
  }

  CCA_BUFFER &view(const std::string &bytes) {
    in_ = CCA_BUFFER{reinterpret_cast<uint8_t *>(const_cast<char *>(bytes.data())),
                     static_cast<uint32_t>(bytes.size())};
    return in_;
  }

  // open_smime - a received S/MIME message opened in place: decrypted and
  // verified; false with the reason when it cannot be
  bool open_smime(std::string *bytes, Received *r, std::string *reason) {
    std::string headers, entity;
    if (!split_entity(*bytes, &headers, &entity)) {
      *reason = "no header/body boundary";
      return false;
    }
    CCA_BUFFER inner{}, signature{};
    char signer[256];
    if (vudo_smime_open(own_, &view(entity), &r->flags, &inner, &signature, signer,
                        sizeof signer) != 0) {
      *reason = vudo_reason();
      return false;
    }
    *bytes = join_entity(headers, std::string(reinterpret_cast<char *>(inner.Data), inner.Length));
    r->signature.assign(reinterpret_cast<const char *>(signature.Data), signature.Length);
    CCA_free(nullptr, inner.Data);
    CCA_free(nullptr, signature.Data);
    if (!cp1251(signer, &r->signer) || r->signer.empty()) r->signer = "signer";
    return true;
  }

  // Progress of the message being stored: its name, the next attachment, and
  // for an attachment begun but not known to be done, the files that already
  // looked like it, so a restart can tell whether the store happened.
  struct Progress {
    size_t next = 0;
    bool begun = false;
    std::set<std::string> alike;
  };

  Progress read_progress(const std::string &name) {
    std::ifstream in(progress_);
    std::string stored, state;
    Progress p;
    if (!std::getline(in, stored) || stored != name || !(in >> p.next >> state)) return {};
    p.begun = state == "begun";
    in.ignore();
    for (std::string path; std::getline(in, path);) p.alike.insert(path);
    return p;
  }

  void note_progress(const std::string &name, size_t next, const Snapshot *before = nullptr,
                     const std::string *data = nullptr) {
    const std::string tmp = progress_ + ".new";
    {
      std::ofstream out(tmp, std::ios::trunc);
      out << name << "\n" << next << (before != nullptr ? " begun\n" : " done\n");
      if (before != nullptr) {
        for (const auto &[path, stamp] : *before) {
          if (stamp.size == data->size()) out << path << "\n";
        }
      }
    }
    std::rename(tmp.c_str(), progress_.c_str());
  }

  // stored_before_stop - a file with the attachment's bytes that was not
  // there when the store began
  static bool stored_before_stop(const std::string &data, const Progress &p,
                                 const std::vector<std::string> &dirs) {
    for (const auto &[path, stamp] : snapshot(dirs)) {
      if (stamp.size != data.size() || p.alike.count(path) != 0) continue;
      std::ifstream in(path, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes == data) return true;
    }
    return false;
  }

  // set_aside - a received message that is not taken, with the reason
  void set_aside(const std::string &name, const std::string &why) {
    log("moved aside " + name + ": " + why, {{"ZOZEREZ_PATH", name}});
    inbox_.finish(name, false);
    ++state_.totals.refused;
  }

  void receive(const std::string &name) {
    std::string bytes, error;
    MailMessage m;
    const Maildir::Read read = inbox_.read(name, &bytes, s_.most_bytes);
    if (read != Maildir::Read::kDone) {
      set_aside(name, read == Maildir::Read::kTooLarge
                          ? "it is larger than " + std::to_string(s_.most_bytes) +
                                " bytes (\"MaxMessageBytes\")"
                          : std::string("it cannot be read"));
      return;
    }
    Received secure;
    if (is_smime(bytes) && !open_smime(&bytes, &secure, &error)) {
      set_aside(name, error);
      return;
    }
    if (!parse_message(bytes, &m, &error)) {
      set_aside(name, error);
      return;
    }
    if (m.is_report) {
      report_delivery(m.report);
      inbox_.finish(name, true);
      return;
    }
    const bool receipt = (m.flags & kFlagReceipt) != 0;
    if (receipt) close_by_receipt(m);
    const bool stored = OXT_is_bd(&ctx_) != 0 ? store_in_database(name, m, secure)
                                              : store_attachments(name, m, secure);
    if (stored && !receipt && s_.send_receipts && !m.hash.empty()) answer_with_receipt(m);
    inbox_.finish(name, stored);
    ++(stored ? state_.totals.stored : state_.totals.refused);
    crash_point("finished");
    std::remove(progress_.c_str());
    if (!stored) log("moved aside " + name + ": an attachment could not be stored");
  }

  // report_delivery - a mail server's report on a message sent from here:
  // logged recipient by recipient; a guaranteed delivery that can never
  // arrive is also reported to the administrator
  void report_delivery(const DeliveryReport &r) {
    const std::string what =
        (r.hash.empty() ? std::string("a message") : r.hash) + " \"" + utf8(r.subject) + "\"";
    for (const DeliveryReport::Recipient &to : r.recipients) {
      log("delivery report on " + what + ": " + (to.action.empty() ? "?" : to.action) + " for " +
          to.address + (to.status.empty() ? "" : " (" + to.status + ")") +
          (to.diagnostic.empty() ? "" : ": " + to.diagnostic));
    }
    if (!r.failed_for_good() || r.hash.empty() || !guaranteed_delivery_open(r.hash)) return;
    char key[2048], admin[2048] = "";
    uint32_t kind = 0;
    if (NR_GetRegistryKeyString(key) != 0 ||
        OLM_ConfGetString(key, "AdminEmail", admin, sizeof admin, 0) != 0 || *admin == '\0') {
      log("the guaranteed delivery " + what + " can never arrive; no \"AdminEmail\" to tell");
      return;
    }
    OLM_ConfGetDWORD(key, "admin_etype", &kind, 0);
    MailMessage n;
    n.from = s_.own;
    n.to = {{kind == 1 ? "EX" : "SMTP", admin}};
    n.subject = "Delivery failed: " + r.subject;
    n.body = "The guaranteed delivery " + r.hash + " cannot reach:\r\n";
    for (const DeliveryReport::Recipient &to : r.recipients) {
      n.body += to.address + " " + to.action + " " + to.status + " " + to.diagnostic + "\r\n";
    }
    std::string bytes, error;
    const bool built = build_message(n, &bytes, &error);
    const Handover h = built ? hand_over(n, bytes, "") : Handover{};
    log("the guaranteed delivery " + what + " can never arrive; " +
        (h.status == Handover::kSent
             ? "the administrator " + utf8(admin) + " was told"
             : "the administrator could not be told: " + (built ? h.why : error)));
  }

  // guaranteed_delivery_open - whether the module's hash store holds `hash`
  static bool guaranteed_delivery_open(const std::string &hash) {
    std::vector<HashStoreLine> lines;
    unsigned malformed = 0;
    read_hash_store(&lines, &malformed);
    for (const HashStoreLine &line : lines) {
      if (strcasecmp(line.hash.c_str(), hash.c_str()) == 0) return true;
    }
    return false;
  }

  // close_by_receipt - the guaranteed deliveries a receipt names, in its
  // "OLMNOTIF.TXT" attachment or in its text
  void close_by_receipt(const MailMessage &m) {
    std::vector<std::string> texts = {m.body};
    for (const Attachment &a : m.attachments) {
      if (strcasecmp(a.name.c_str(), kNotice) == 0) texts.push_back(a.data);
    }
    std::set<std::string> closed;
    for (const std::string &text : texts) {
      const std::string hash = digest_in_notice(text);
      if (hash.empty() || !closed.insert(hash).second) continue;
      const size_t seen = events_.lines().size();
      if (guaranteed_delivery_open(hash)) ++state_.totals.receipts_matched;
      if (OXT_ticket_hash(hash.c_str()) == 0) {
        log("receipt for " + hash + " handled: its guaranteed delivery, if open here, is closed",
            {{"ZOZEREZ_MESSAGE_HASH", hash}});
      } else {
        log("receipt for " + hash + " could not close everything");
        show_events(seen, true);
      }
    }
  }

  // store_in_database - the message part by part into the message database,
  // which also files its attachments by the input rules; one transaction, so
  // a stop before it leaves nothing and the message is taken again
  bool store_in_database(const std::string &name, const MailMessage &m, const Received &secure) {
    const size_t seen = events_.lines().size();
    const uint32_t flags = (m.flags & kFlagReceipt) | secure.flags;
    std::vector<BdPart> parts;
    std::vector<std::string> datas;
    datas.reserve(m.attachments.size());
    BdPart p{};
    p.PartType = 1;
    p.Flags = flags;
    parts.push_back(p);
    p = BdPart{};
    p.PartType = 2;
    p.Subject = m.subject.c_str();
    parts.push_back(p);
    if (!m.body.empty()) {
      p = BdPart{};
      p.PartType = 3;
      p.Body = reinterpret_cast<const uint8_t *>(m.body.data());
      p.BodyLength = static_cast<uint32_t>(m.body.size());
      parts.push_back(p);
    }
    p = BdPart{};
    p.PartType = 4;
    p.SenderType = m.from.type.c_str();
    p.SenderAddress = m.from.address.c_str();
    parts.push_back(p);
    if (!m.hash.empty()) {
      p = BdPart{};
      p.PartType = 5;
      p.Flags = flags;
      p.Digest = reinterpret_cast<const uint8_t *>(m.hash.data());
      p.DigestLength = static_cast<uint32_t>(m.hash.size());
      parts.push_back(p);
    }
    for (const Address &a : m.to) {
      p = BdPart{};
      p.PartType = 8;
      p.RecipientType = a.type.c_str();
      p.RecipientAddress = a.address.c_str();
      parts.push_back(p);
    }
    for (const Attachment &a : m.attachments) {
      datas.push_back(
          secure.flags == 0
              ? a.data
              : signed_file_container(a.data, secure.signature.empty()
                                                  ? Signatures{}
                                                  : Signatures{{secure.signer, secure.signature}}));
      p = BdPart{};
      p.PartType = 9;
      p.Flags = flags;
      p.Data = reinterpret_cast<const uint8_t *>(datas.back().data());
      p.DataLength = static_cast<uint32_t>(datas.back().size());
      p.Name = a.name.c_str();
      parts.push_back(p);
    }
    bool ok = OXT_store_bd_init(&ctx_, nullptr) == 0;
    for (const BdPart &part : parts) ok = ok && OXT_store_bd_add(&ctx_, nullptr, &part) == 0;
    ok = ok && OXT_store_bd_flush(&ctx_) == 0;
    if (ok) {
      log("stored " + name + " from " + utf8(m.from.address) + " in the message database");
      show_events(seen);
    } else {
      log("could not store " + name + " from " + utf8(m.from.address) + " in the message database");
      show_events(seen, true);
    }
    return ok;
  }

  bool store_attachments(const std::string &name, const MailMessage &m, const Received &secure) {
    std::vector<AddressEntry> recipients;
    for (const Address &a : m.to) {
      recipients.push_back(
          {const_cast<char *>(a.type.c_str()), const_cast<char *>(a.address.c_str())});
    }
    const std::vector<std::string> dirs = storage_directories();
    bool all = true;
    const Progress progress = read_progress(name);
    for (size_t i = progress.next; i < m.attachments.size() && !g_stop; ++i) {
      const Attachment &a = m.attachments[i];
      if (i == progress.next && progress.begun && stored_before_stop(a.data, progress, dirs)) {
        log("stored " + utf8(a.name) + " from " + utf8(m.from.address) +
            " before the last stop; not stored again");
        note_progress(name, i + 1);
        continue;
      }
      IncomingMessage in{};
      // A signed or encrypted file travels to the module in the signed-file
      // container, with the message's signature as its signature.
      const std::string data =
          secure.flags == 0
              ? a.data
              : signed_file_container(a.data, secure.signature.empty()
                                                  ? Signatures{}
                                                  : Signatures{{secure.signer, secure.signature}});
      in.Data = reinterpret_cast<const uint8_t *>(data.data());
      in.DataLength = static_cast<uint32_t>(data.size());
      in.FileName = a.name.c_str();
      in.SenderType = m.from.type.c_str();
      in.SenderAddress = m.from.address.c_str();
      // What the sender's headers claim is not taken: the receipt mark, and
      // the protection the message was found to have.
      in.Flags = (m.flags & kFlagReceipt) | secure.flags;
      in.Recipients = recipients.empty() ? nullptr : recipients.data();
      in.RecipientCount = static_cast<uint32_t>(recipients.size());
      const size_t seen = events_.lines().size();
      const Snapshot before = snapshot(dirs);
      note_progress(name, i, &before, &a.data);
      const int32_t result = OXT_store_file_ext(&in);
      crash_point("stored");
      note_progress(name, i + 1);
      crash_point("noted");
      std::string where;
      for (const std::string &path : new_files(before, snapshot(dirs))) {
        where += (where.empty() ? "" : ", ") + shown_path(path);
      }
      if (result == 0) {
        log("stored " + utf8(a.name) + " from " + utf8(m.from.address) + " as " + where,
            {{"ZOZEREZ_PATH", where}, {"ZOZEREZ_MESSAGE_HASH", m.hash}});
        show_events(seen);
      } else {
        all = false;
        log("could not store " + utf8(a.name) + " from " + utf8(m.from.address) +
            (where.empty() ? "" : "; kept as " + where));
        show_events(seen, true);
      }
    }
    return all;
  }

  void answer_with_receipt(const MailMessage &received) {
    MailMessage r;
    r.from = s_.own;
    r.to = {received.from};
    r.subject = "Receipt";
    r.flags = kFlagReceipt;
    r.attachments.push_back({kNotice, std::string(kDigestEn) + " " + received.hash + "\r\n"});
    std::string bytes, error;
    const bool built = build_message(r, &bytes, &error);
    if (built && own_ != nullptr && protect(kFlagSign, r, &bytes) != 0) error = vudo_reason();
    if (built && error.empty()) {
      const Handover h = hand_over(r, bytes, "");
      error = h.status == Handover::kSent ? "" : h.why;
    }
    if (!built || !error.empty()) {
      log("cannot send a receipt for " + received.hash + ": " + error);
      return;
    }
    crash_point("receipt");
    ++state_.totals.receipts_sent;
    log("receipt for " + received.hash + " sent to " + who(r.to),
        {{"ZOZEREZ_MESSAGE_HASH", received.hash}});
  }

  Settings s_;
  bool verbose_;
  vudo_signer *own_ = nullptr;
  CCA_BUFFER in_{}, out_{};
  Maildir outbox_;
  Maildir inbox_;
  std::unique_ptr<Outgoing> outgoing_;
  Journal journal_;
  struct Pending {
    unsigned id;
    OutgoingMessage msg;
    uint32_t status;
    std::string hash;
  };
  std::list<Pending> pending_;
  std::set<std::string> put_back_;  // hashes of messages put back this round
  RoundState state_;
  bool state_failed_ = false;  // said once until a write succeeds again
  bool database_up_ = true;
  bool start_failed_ = false;
  std::string guid_, claim_;  // the database message in hand, if it is one
  std::string progress_;
  TreeCheck tree_;
  GetFileCtx ctx_{};
  EventCapture events_;
  unsigned sent_ = 0;
};

// wait_for_next_round - the poll interval, cut short by a stop
void wait_for_next_round(uint32_t seconds) {
  for (uint32_t i = 0; i < seconds * 10 && !g_stop && !g_reload; ++i) {
    watchdog_ping();
    struct timespec tenth = {0, 100000000L};
    nanosleep(&tenth, nullptr);
  }
}

}  // namespace

int run_run(const CommandLine &cl) {
  const RunOptions &o = cl.run;
  if (!open_store(cl.config, cl.key)) return 1;
  Settings settings;
  if (!read_settings(&settings)) return 1;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  struct sigaction reload {};
  reload.sa_handler = on_reload;
  sigaction(SIGHUP, &reload, nullptr);
  g_stop = 0;
  g_reload = 0;
  mime_init();
  Gateway gateway(settings, o.verbose);
  if (!gateway.start()) return 1;
  if (o.once) gateway.single_round();
  StatusServer server;
  bool server_failed = false;
  // serve_status - the status page and metrics; a failure is said once and
  // the listen is tried again before every round
  auto serve_status = [&] {
    if (settings.status.port == 0 || o.once || server.running()) return;
    std::string error;
    const std::string &a = settings.status.address;
    if (server.start(settings.status, &error)) {
      log("status page at http://" + (a.find(':') != std::string::npos ? "[" + a + "]" : a) + ":" +
          std::to_string(settings.status.port) + "/ and metrics at /metrics");
      server_failed = false;
    } else if (!server_failed) {
      log("cannot serve the status page: " + error + "; tried again every round");
      server_failed = true;
    }
  };
  // reread - SIGHUP: the host program's settings read again (the module's
  // own are read by it at every operation)
  auto reread = [&] {
    g_reload = 0;
    sd_notify(0, "RELOADING=1");
    Settings fresh;
    if (read_settings(&fresh) && gateway.reconfigure(fresh)) {
      const bool status_changed = fresh.status.port != settings.status.port ||
                                  fresh.status.address != settings.status.address ||
                                  fresh.status.password_file != settings.status.password_file;
      settings = fresh;
      if (status_changed) server.stop();
      log("settings read again");
    }
    sd_notify(0, "READY=1");
  };
  // A service started while its database is away waits for it.
  sd_notify(0, "STATUS=starting the module");
  while (!gateway.open_module()) {
    sd_notify(0, "STATUS=waiting for the module to start (see the log)");
    if (!o.once) wait_for_next_round(settings.poll_seconds);
    if (g_reload) reread();
    if (o.once || g_stop) {
      sd_notify(0, "STOPPING=1");
      gateway.stop();
      return o.once ? 1 : 0;
    }
  }
  sd_notify(0, "READY=1\nSTATUS=running");
  do {
    if (g_reload) reread();
    serve_status();
    gateway.round();
    sd_notify(0, ("WATCHDOG=1\nSTATUS=" + gateway.summary()).c_str());
    if (o.once || g_stop) break;
    wait_for_next_round(settings.poll_seconds);
  } while (!g_stop);
  sd_notify(0, "STOPPING=1");
  server.stop();
  gateway.stop();
  return 0;
}

}  // namespace zz::gateway
