// journal.h - the outgoing message in hand, written down the moment the
// module hands it out and cleared once the module has completed it. Every
// gateway process keeps its own journal file in the outbox, locked while the
// process lives: a journal nobody holds belongs to a process that died, and
// the next gateway to start completes its message (as sent when the outbox
// holds it, else put back for a later round).
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "zozerez.h"

namespace zz::gateway {

// One message in hand: its record (paths only), its delivery tag, and for
// a message from the message database its GUID and claim token.
struct JournalEntry {
  OutgoingMessage msg{};
  std::string tag;
  std::string guid, claim;
};

class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal &) = delete;
  Journal &operator=(const Journal &) = delete;

  // open - this process's journal in `dir`, created and locked; false with the reason
  bool open(const std::string &dir, std::string *error);
  // record - message `id` with its record's paths and delivery tag, replacing
  // what was recorded for it; `durable` waits for the disk. One write replaces
  // the journal, so a killed process leaves the old one or the new one.
  bool record(unsigned id, const OutgoingMessage &msg, const std::string &tag, bool durable,
              const std::string &guid = {}, const std::string &claim = {});
  void clear(unsigned id);

 private:
  bool write(bool durable) const;

  int fd_ = -1;
  std::string path_;
  std::map<unsigned, std::string> entries_;
};

// A journal left by a process that died; its file stays locked (and so
// nobody else's) until its entries are done with and the file removed.
class OrphanEntry {
 public:
  OrphanEntry(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~OrphanEntry();
  OrphanEntry(const OrphanEntry &) = delete;
  OrphanEntry &operator=(const OrphanEntry &) = delete;
  const std::string &path() const { return path_; }
  // messages - every entry; the caller releases each record with OXT_free_files
  std::vector<JournalEntry> messages() const;
  // discard - removes the journal file
  void discard() const;

 private:
  int fd_;
  std::string path_;
};

// orphan_journals - the journals in `dir` that no living process holds
std::vector<std::unique_ptr<OrphanEntry>> orphan_journals(const std::string &dir);
// journaled_paths - every working path any journal in `dir` names
std::set<std::string> journaled_paths(const std::string &dir);

}  // namespace zz::gateway
