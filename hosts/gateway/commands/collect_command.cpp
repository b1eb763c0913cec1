// collect_command.cpp - one outgoing cycle as a mail host runs it: every
// message OXT_get_files hands out is printed, completed with the chosen
// outcome through OXT_delete_files and released with OXT_free_files.
#include "gateway/commands/collect_command.h"

#include <cstdio>
#include <iostream>
#include <set>

#include "gateway/base/console.h"
#include "gateway/base/event_capture.h"
#include "gateway/mail/message_hash.h"
#include "zozerez.h"

namespace zz::gateway {
namespace {

// Messages a cycle may take at most: a guard against a request that keeps coming back.
constexpr int kMostMessages = 100000;

const char *or_none(const char *text) {
  return text != nullptr ? text : "(none)";
}

}  // namespace

void print_message(int number, const OutgoingMessage &m, const std::string &hash,
                   const std::function<std::string(const std::string &)> &shown) {
  std::cout << "message " << number << "\n";
  std::cout << "  from:    " << utf8(or_none(m.SenderType)) << ":" << utf8(or_none(m.SenderAddress))
            << "\n";
  for (uint32_t i = 0; i < m.RecipientCount; ++i) {
    std::cout << "  to:      " << utf8(or_none(m.Recipients[i].Type)) << ":"
              << utf8(or_none(m.Recipients[i].Address)) << "\n";
  }
  std::cout << "  subject: " << utf8(or_none(m.Subject)) << "\n";
  for (uint32_t i = 0; i < m.NumberFile; ++i) {
    std::cout << "  file:    " << utf8(or_none(m.File[i].Name)) << " (" << m.File[i].Length
              << " bytes)\n";
  }
  if (m.Body != nullptr) {
    std::cout << "  body:    "
              << utf8(std::string(reinterpret_cast<const char *>(m.Body), m.BodyLength)) << "\n";
  }
  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%X", m.Flags);
  std::cout << "  flags:   " << flags << ((m.Flags & 1) ? " encrypt" : "")
            << ((m.Flags & 2) ? " sign" : "") << "\n";
  if (m.SendDirPath != nullptr) {
    std::cout << "  request: " << (shown ? shown(m.SendDirPath) : shown_path(m.SendDirPath))
              << "\n";
  }
  std::cout << "  hash:    " << hash << "\n";
}

void print_events(const EventCapture &events, size_t from) {
  for (size_t i = from; i < events.lines().size(); ++i) {
    std::cout << "  event: " << events.lines()[i] << "\n";
  }
}

int run_collect(const CommandLine &cl) {
  const CollectOptions &o = cl.collect;
  if (!open_store(cl.config, cl.key)) return 1;
  EventCapture events;
  GetFileCtx ctx{};
  if (OXT_init_get_files(&ctx) != 0) {
    std::cout << "the module could not start:\n";
    print_events(events, 0);
    return 1;
  }
  static const char *const kOutcome[] = {"sent", "not sent this time", "failed for good"};
  int count = 0;
  bool ok = true;
  std::set<std::string> handled;
  while (count < kMostMessages) {
    const size_t seen = events.lines().size();
    OutgoingMessage msg{};
    const uint32_t got = OXT_get_files(&ctx, nullptr, &msg);
    if (got == 1) break;
    const bool filled =
        msg.NumberFile != 0 || msg.InfoWorkPath != nullptr || msg.Subject != nullptr;
    if (got != 0 && !filled) {
      std::cout << "collection failed:\n";
      print_events(events, seen);
      ok = false;
      break;
    }
    ++count;
    const std::string hash = o.hash.empty() ? message_hash(msg) : o.hash;
    // A database message put back comes again at once: one pass over each.
    const bool from_database =
        msg.SendDirPath == nullptr && (msg.NumberFile == 0 || msg.File[0].PickupPath == nullptr);
    if (from_database && !handled.insert(hash).second) {
      OXT_delete_files(&ctx, &msg, 1, hash.c_str());
      OXT_free_files(&msg);
      break;
    }
    print_message(count, msg, hash);
    // A message handed out with a failure is not sent: it goes back for a later try.
    const uint32_t status = got == 0 ? o.status : 1;
    if (got != 0) {
      std::cout << "  refused by the module:\n";
      print_events(events, seen);
      ok = false;
    }
    const int32_t done = OXT_delete_files(&ctx, &msg, status, hash.c_str());
    std::cout << "  outcome: "
              << kOutcome[status == 2   ? 2
                          : status == 0 ? 0
                                        : 1]
              << (done == 0 ? "" : " (completion failed)") << "\n";
    if (done != 0) {
      print_events(events, seen);
      ok = false;
    }
    OXT_free_files(&msg);
  }
  std::cout << count << (count == 1 ? " message" : " messages") << "\n";
  OXT_deinit_get_files(&ctx);
  return ok ? 0 : 1;
}

int run_receipt(const CommandLine &cl) {
  const std::string &hash = cl.receipt_hash;
  if (!open_store(cl.config, cl.key)) return 1;
  EventCapture events;
  GetFileCtx ctx{};
  OXT_init_get_files(&ctx);  // fills the module's registry key, which the receipt reads
  const uint32_t result = OXT_ticket_hash(hash.c_str());
  OXT_deinit_get_files(&ctx);
  if (result == 0) {
    std::cout << "receipt " << hash << " handled\n";
    return 0;
  }
  std::cout << "receipt " << hash << " failed:\n";
  print_events(events, 0);
  return 1;
}

}  // namespace zz::gateway
