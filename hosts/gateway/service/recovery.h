// recovery.h - what a gateway that died left claimed, brought back when the
// next one starts: the messages its journal holds are completed, descriptors
// under a working name are renamed back, and loose files whose pickup name
// was never written down are set aside for the administrator. Only claims of
// threads that no longer live are touched, so gateways beside us keep theirs.
#pragma once

#include <functional>
#include <string>

#include "gateway/transport/maildir.h"
#include "zozerez.h"

namespace zz::gateway {

struct RecoveryCounts {
  unsigned completed_sent = 0, put_back = 0, already_done = 0;
  unsigned descriptors_restored = 0, set_aside = 0, groups_undone = 0;
};

using LogLine = std::function<void(const std::string &)>;

// recover_claims - completes orphaned journals in the outbox, then sweeps every
// output rule directory for claims of dead threads
// `delivered` tells whether a message with a journal tag went before the stop
// (a transport that cannot tell answers false, and the message goes again).
RecoveryCounts recover_claims(GetFileCtx *ctx, const Maildir &outbox,
                              const std::function<bool(const std::string &)> &delivered,
                              const LogLine &log);

// claims_left - whether a file or descriptor of the record is still under its working name
bool claims_left(const OutgoingMessage &msg);
// claimer_alive - whether the thread that made working name `name` still runs;
// false also for names not made by the module
bool claimer_alive(const std::string &name);
// parse_work_name - the time and thread of a working name as the module writes it
bool parse_work_name(const std::string &name, long *time, unsigned long *thread);

}  // namespace zz::gateway
