// test_host.h - the host as the module's tests see it: an in-memory
// configuration store, every event captured with its decoded arguments, and
// scripted answers of the message database and the crypto library. The test
// binary defines the host functions itself, so the module calls these.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "zozerez_host.h"

namespace zz::test {

struct Event {
  uint32_t level = 0;
  uint32_t code = 0;
  std::vector<std::string> args;  // texts as given, numbers in decimal
  bool operator==(const Event &o) const {
    return level == o.level && code == o.code && args == o.args;
  }
};
void PrintTo(const Event &event, std::ostream *os);
using Events = std::vector<Event>;

// summary - the level 1 pair member every failure ends with
Event summary(const std::string &step, const std::string &function);

class TestHost {
 public:
  static TestHost &get();
  void reset();

  // Configuration: keys and names compared without regard to ASCII case.
  void set_registry_key(const std::string &key) {
    registry_key_ = key;
    key_fails_ = false;
  }
  void fail_registry_key() { key_fails_ = true; }
  void set_dword(const std::string &key, const std::string &name, uint32_t value);
  void set_string(const std::string &key, const std::string &name, const std::string &text);
  const std::string &registry_key() const { return registry_key_; }

  Events events;
  uint32_t failure_signals = 0;

  // Message database: results to give, and the calls made ("BdInit", ...).
  std::vector<std::string> db_calls;
  uint32_t bd_init_result = 0;
  BD_HANDLE bd_handle = 0x5EED;
  BdInitParams last_init{};
  std::string last_init_dsn;
  uint32_t bd_ping_result = 0;
  std::vector<uint8_t> activity_directions;

  // BdReadMsg answers read_result and copies read_message into OutMsg;
  // BdFreeMsg answers free_results in turn (then 0) and records its calls.
  uint32_t read_result = 1;
  BdMsg read_message{};
  std::vector<uint32_t> free_results;
  // BdWriteMsg answers write_results in turn (then 0) and keeps what it was given.
  std::vector<uint32_t> write_results;
  struct WrittenMessage {
    std::string guid, subject, body, sender, digest, dir;
    uint32_t flags = 0;
    uint64_t part6 = 0, part7 = 0;
    std::vector<std::string> recipients;  // "type:address"
    std::vector<std::string>
        attachments;  // "name|path|signs" with signs "name,type,address,file,path;"
  };
  std::vector<WrittenMessage> written;
  struct FreeCall {
    uint32_t sent;
    std::string text;
  };
  std::vector<FreeCall> free_calls;

  // Crypto library: the handles it was given and its random bytes. Digests
  // are fake_digest of the data; a signature's own bytes choose its verdict:
  // "OK" valid, "NOTCORRECT", "NOKEY", "OTHER", "NOSERIAL", "NOCERT", "CHECKFAIL".
  std::vector<CCA_CONTEXT> crypto_handles;
  uint32_t random_result = 0;
  bool hash_fails = false;
  int crypto_objects = 0;  // serials, certificates and digests not yet released

  // lookup - what OLM_Conf* find (nullptr when absent)
  const std::string *find_string(const std::string &key, const std::string &name) const;
  const uint32_t *find_dword(const std::string &key, const std::string &name) const;
  bool key_fails() const { return key_fails_; }

 private:
  static std::string id(const std::string &key, const std::string &name);
  std::string registry_key_ = "HKLM\\SOFTWARE\\Zozerez";
  bool key_fails_ = false;
  std::map<std::string, uint32_t> dwords_;
  std::map<std::string, std::string> strings_;
};

inline TestHost &host() {
  return TestHost::get();
}

// fake_digest - the 4-byte digest the test host's CCA_hash_mem gives
std::string fake_digest(const std::string &data);
// fake_digest_text - the same as the signature list writes it ("0A 1B 2C 3D")
std::string fake_digest_text(const std::string &data);

}  // namespace zz::test
