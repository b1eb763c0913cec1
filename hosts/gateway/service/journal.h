// journal.h - the outgoing message in hand, written down the moment the
// module hands it out and cleared once the module has completed it. Every
// gateway process keeps its own journal file in the outbox, locked while the
// process lives: a journal nobody holds belongs to a process that died, and
// the next gateway to start completes its message (as sent when the outbox
// holds it, else put back for a later round).
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "zozerez.h"

namespace zz::gateway {

class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal &) = delete;
  Journal &operator=(const Journal &) = delete;

  // open - this process's journal in `dir`, created and locked; false with the reason
  bool open(const std::string &dir, std::string *error);
  // record - the record's paths and the delivery tag; `durable` waits for the disk.
  // Either way one write replaces the entry, so a killed process leaves the old
  // entry or the new one, never a mix.
  bool record(const OutgoingMessage &msg, const std::string &tag, bool durable);
  void clear();

 private:
  int fd_ = -1;
  bool holding_ = false;
  std::string path_;
};

// An entry left by a process that died; its file stays locked (and so
// nobody else's) until the entry is done with and the file removed.
class OrphanEntry {
 public:
  OrphanEntry(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~OrphanEntry();
  OrphanEntry(const OrphanEntry &) = delete;
  OrphanEntry &operator=(const OrphanEntry &) = delete;
  const std::string &path() const { return path_; }
  // message - the record (paths only, for OXT_delete_files) and the tag; false when empty
  bool message(OutgoingMessage *msg, std::string *tag) const;
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
