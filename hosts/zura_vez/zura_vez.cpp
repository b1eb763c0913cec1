// zura_vez.cpp - the message database over ODBC: SQLite through its ODBC
// driver by default, PostgreSQL for several gateways on one database. Texts
// are kept in UTF-8 and given to the module in code page 1251. Outgoing
// messages are claimed by one UPDATE that only a queued (or abandoned) row
// matches, so two gateways never claim the same message; a claim older than
// the lease is taken for abandoned.
#include "zura_vez/zura_vez.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "zura_vez/odbc.h"

#define ZURA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using zz::zura::Connection;
using zz::zura::Row;
using zz::zura::Value;

constexpr uint32_t kOk = 0, kNone = 1, kFailed = 2;
constexpr int64_t kSchemaVersion = 2;
constexpr int64_t kIncoming = 1, kOutgoing = 2;

thread_local std::string t_reason;
thread_local std::string t_claim;  // the calling thread's last claim token

struct Config {
  std::mutex mutex;
  std::string host;
  int64_t lease = 600;
  int64_t attempts = 0;  // 0: a message put back is queued again however often
};
Config &config() {
  static Config c;
  return c;
}

std::string host_name() {
  Config &c = config();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.host.empty()) {
    char name[256] = "localhost";
    gethostname(name, sizeof name - 1);
    c.host = name;
  }
  return c.host;
}

int64_t lease() {
  Config &c = config();
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.lease;
}

int64_t most_attempts() {
  Config &c = config();
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.attempts;
}

int64_t now() {
  return static_cast<int64_t>(std::time(nullptr));
}

uint32_t fail(const std::string &why) {
  t_reason = why;
  return kFailed;
}

// Database - what a handle stands for: the connection, and when it may be
// made again after it was lost (not more often than every `delay` seconds)
struct Database {
  Connection db;
  int64_t delay = 0;
  int64_t next_try = 0;
  // The claim token of each message read and not yet released: a release
  // changes only the claim it belongs to, never one a later claimer holds.
  std::map<std::string, std::string> claims;
  int64_t next_sweep = 0;  // when claims past the lease are next looked for
};

Database *database(BD_HANDLE handle) {
  return reinterpret_cast<Database *>(static_cast<uintptr_t>(handle));
}

// usable - the handle's connection, made again first when it was lost;
// null (with the reason) while the database cannot be reached
Connection *usable(BD_HANDLE handle) {
  Database *d = database(handle);
  if (d == nullptr) {
    fail("no database");
    return nullptr;
  }
  if (!d->db.lost()) return &d->db;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (now < d->next_try) {
    fail("the connection to the database was lost; it is tried again in " +
         std::to_string(d->next_try - now) + " s");
    return nullptr;
  }
  std::string error;
  if (!d->db.reopen(&error)) {
    d->next_try = now + d->delay;
    fail("the connection to the database was lost and cannot be made again: " + error);
    return nullptr;
  }
  return &d->db;
}

// attempt - `work` on the handle's connection; when the connection dies
// under it, once more on a new one (a statement that never reached the
// database is simply made again)
template <class Work>
uint32_t attempt(BD_HANDLE handle, Work work) {
  Connection *db = usable(handle);
  if (db == nullptr) return kFailed;
  const uint32_t result = work(*db);
  if (result != kFailed || !db->lost()) return result;
  db = usable(handle);
  return db == nullptr ? kFailed : work(*db);
}

// text - a module text (code page 1251) as stored; false when it cannot be
bool text(const char *cp1251, Value *out) {
  if (cp1251 == nullptr) {
    *out = Value{};
    return true;
  }
  *out = Value::text_of(zz::host_common::cp1251_to_utf8(cp1251));
  return true;
}

Value bytes(const uint8_t *data, uint32_t length) {
  return data == nullptr
             ? Value{}
             : Value::bytes_of(std::string(reinterpret_cast<const char *>(data), length));
}

// owned - a stored text as the module's code page 1251, in a malloc'd block
char *owned(const std::optional<std::string> &utf8) {
  if (!utf8) return nullptr;
  // Another program may have stored what 1251 cannot write: "?" stands in.
  const std::string cp1251 = zz::host_common::utf8_to_cp1251_lossy(*utf8);
  char *block = static_cast<char *>(std::malloc(cp1251.size() + 8));
  if (block != nullptr) std::memcpy(block, cp1251.c_str(), cp1251.size() + 1);
  return block;
}

uint8_t *owned_bytes(const std::optional<std::string> &data, uint32_t *length) {
  *length = 0;
  if (!data) return nullptr;
  auto *block = static_cast<uint8_t *>(std::malloc(data->size() + 8));
  if (block == nullptr) return nullptr;
  std::memcpy(block, data->data(), data->size());
  *length = static_cast<uint32_t>(data->size());
  return block;
}

int64_t number(const std::optional<std::string> &v) {
  return v ? std::strtoll(v->c_str(), nullptr, 10) : 0;
}

// claim_token - 128 random bits; the generator is seeded once per thread
// (after a fork the child seeds its own, as its thread is new to it)
std::string claim_token() {
  thread_local pid_t seeded_in = 0;
  thread_local std::mt19937_64 random;
  if (seeded_in != getpid()) {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    random.seed(seed);
    seeded_in = getpid();
  }
  char token[33];
  std::snprintf(token, sizeof token, "%016llx%016llx", static_cast<unsigned long long>(random()),
                static_cast<unsigned long long>(random()));
  return token;
}

// create_schema - the tables when the database has none, the steps from an
// older version to this one, all in one transaction; a newer version is refused
bool create_schema(Connection &db, std::string *error) {
  const std::string blob = db.dbms().find("PostgreSQL") != std::string::npos ? "BYTEA" : "BLOB";
  std::vector<Row> rows;
  // SQLite: a write-ahead log lets the admin's commands read while a gateway
  // writes, and a commit costs one append instead of a journal file made and
  // removed. The mode stays with the database file.
  if (db.dbms().find("SQLite") != std::string::npos &&
      !db.run("PRAGMA journal_mode=WAL", {}, &rows, error)) {
    return false;
  }
  rows.clear();
  // Read first: a database that takes no writes opens as long as its
  // schema is current (for `db list` on a standby, say).
  std::string absent;
  if (!db.run("SELECT version FROM zz_schema", {}, &rows, &absent) &&
      (!db.run("CREATE TABLE IF NOT EXISTS zz_schema (version BIGINT NOT NULL)", {}, nullptr,
               error) ||
       !db.run("SELECT version FROM zz_schema", {}, &rows, error))) {
    return false;
  }
  const int64_t version = rows.empty() ? 0 : number(rows[0][0]);
  if (version > kSchemaVersion) {
    *error = "the database holds schema version " + std::to_string(version) +
             "; this zura_vez knows version " + std::to_string(kSchemaVersion);
    return false;
  }
  if (version == kSchemaVersion) return true;
  // steps[v] makes version v + 1 of version v.
  const std::vector<std::string> steps[kSchemaVersion] = {
      {"CREATE TABLE zz_message (guid VARCHAR(64) PRIMARY KEY, direction BIGINT NOT NULL, "
       "state VARCHAR(16) NOT NULL, flags BIGINT, subject TEXT, body " +
           blob + ", sender_type TEXT, sender_address TEXT, digest " + blob +
           ", part6 BIGINT, part7 BIGINT, msg_dir TEXT, created BIGINT NOT NULL, "
           "claimed_at BIGINT, finished_at BIGINT, claimed_by TEXT, claim_token VARCHAR(40), "
           "attempts BIGINT NOT NULL DEFAULT 0, hash TEXT)",
       "CREATE INDEX zz_message_queue ON zz_message (direction, state, created)",
       "CREATE TABLE zz_recipient (guid VARCHAR(64) NOT NULL, position BIGINT NOT NULL, "
       "type TEXT, address TEXT)",
       "CREATE TABLE zz_attachment (guid VARCHAR(64) NOT NULL, position BIGINT NOT NULL, "
       "att_guid TEXT, name TEXT, path TEXT)",
       "CREATE TABLE zz_signature (guid VARCHAR(64) NOT NULL, att_position BIGINT NOT NULL, "
       "position BIGINT NOT NULL, signer_name TEXT, signer_type TEXT, signer_address TEXT, "
       "file_name TEXT, file_path TEXT)",
       "CREATE TABLE zz_activity (host VARCHAR(255) NOT NULL, direction BIGINT NOT NULL, "
       "last_signal BIGINT, PRIMARY KEY (host, direction))"},
      // 2: a message's parts are found by its GUID without reading every part.
      {"CREATE INDEX IF NOT EXISTS zz_recipient_guid ON zz_recipient (guid)",
       "CREATE INDEX IF NOT EXISTS zz_attachment_guid ON zz_attachment (guid)",
       "CREATE INDEX IF NOT EXISTS zz_signature_guid ON zz_signature (guid)",
       // and the oldest queued message is first in its index, ties included
       "DROP INDEX zz_message_queue",
       "CREATE INDEX zz_message_queue ON zz_message (direction, state, created, guid)"},
  };
  if (!db.begin(error)) return false;
  for (int64_t v = version; v < kSchemaVersion; ++v) {
    for (const std::string &sql : steps[v]) {
      if (!db.run(sql, {}, nullptr, error)) {
        db.rollback();
        *error = "making schema version " + std::to_string(v + 1) + ": " + *error;
        return false;
      }
    }
  }
  const Value to = Value::number_of(kSchemaVersion);
  if (!db.run(version == 0 ? "INSERT INTO zz_schema (version) VALUES (?)"
                           : "UPDATE zz_schema SET version = ?",
              {to}, nullptr, error)) {
    db.rollback();
    return false;
  }
  return db.commit(error);
}

// insert - one message with its parts, in one transaction
uint32_t insert(Connection *db, const BdMsg *msg, int64_t direction, const char *state) {
  if (msg == nullptr || msg->MsgGuid == nullptr) return fail("no message");
  std::string error;
  Value subject, sender_type, sender_address, dir, guid;
  text(msg->MsgGuid, &guid);
  text(msg->Subject, &subject);
  text(msg->SenderType, &sender_type);
  text(msg->SenderAddress, &sender_address);
  text(msg->MsgDir, &dir);
  if (!db->begin(&error)) return fail(error);
  bool done = db->run(
      "INSERT INTO zz_message (guid, direction, state, flags, subject, body, sender_type, "
      "sender_address, digest, part6, part7, msg_dir, created) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {guid, Value::number_of(direction), Value::text_of(state), Value::number_of(msg->Flags),
       subject, bytes(msg->Body, msg->BodyLength), sender_type, sender_address,
       bytes(msg->Digest, msg->DigestLength),
       Value::number_of(static_cast<int64_t>(msg->Part6Value)),
       Value::number_of(static_cast<int64_t>(msg->Part7Value)), dir,
       Value::number_of(static_cast<int64_t>(std::time(nullptr)))},
      nullptr, &error);
  for (uint32_t i = 0; done && i < msg->RecipientCount; ++i) {
    Value type, address;
    text(msg->Recipients[i].Type, &type);
    text(msg->Recipients[i].Address, &address);
    done = db->run("INSERT INTO zz_recipient (guid, position, type, address) VALUES (?, ?, ?, ?)",
                   {guid, Value::number_of(i), type, address}, nullptr, &error);
  }
  for (uint32_t i = 0; done && i < msg->AttachmentCount; ++i) {
    const BdAttachment &a = msg->Attachments[i];
    Value att_guid, name, path;
    text(a.Guid, &att_guid);
    text(a.Name, &name);
    text(a.FilePath, &path);
    done = db->run(
        "INSERT INTO zz_attachment (guid, position, att_guid, name, path) VALUES (?, ?, ?, ?, ?)",
        {guid, Value::number_of(i), att_guid, name, path}, nullptr, &error);
    for (uint32_t j = 0; done && j < a.SignCount; ++j) {
      const BdSign &s = a.Signs[j];
      Value fields[5];
      text(s.SignerName, &fields[0]);
      text(s.SignerType, &fields[1]);
      text(s.SignerAddress, &fields[2]);
      text(s.SignFileName, &fields[3]);
      text(s.SignFilePath, &fields[4]);
      done = db->run(
          "INSERT INTO zz_signature (guid, att_position, position, signer_name, signer_type, "
          "signer_address, file_name, file_path) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
          {guid, Value::number_of(i), Value::number_of(j), fields[0], fields[1], fields[2],
           fields[3], fields[4]},
          nullptr, &error);
    }
  }
  if (!done) {
    db->rollback();
    return fail(error);
  }
  return db->commit(&error) ? kOk : fail(error);
}

void free_message(BdMsg *msg) {
  std::free(msg->MsgGuid);
  std::free(msg->Subject);
  std::free(msg->Body);
  std::free(msg->SenderType);
  std::free(msg->SenderAddress);
  std::free(msg->Digest);
  for (uint32_t i = 0; i < msg->RecipientCount && msg->Recipients != nullptr; ++i) {
    std::free(msg->Recipients[i].Type);
    std::free(msg->Recipients[i].Address);
  }
  std::free(msg->Recipients);
  for (uint32_t i = 0; i < msg->AttachmentCount && msg->Attachments != nullptr; ++i) {
    BdAttachment &a = msg->Attachments[i];
    std::free(a.Guid);
    std::free(a.Name);
    std::free(a.FilePath);
    for (uint32_t j = 0; j < a.SignCount && a.Signs != nullptr; ++j) {
      for (char *t : {a.Signs[j].SignerName, a.Signs[j].SignerType, a.Signs[j].SignerAddress,
                      a.Signs[j].SignFileName, a.Signs[j].SignFilePath}) {
        std::free(t);
      }
    }
    std::free(a.Signs);
  }
  std::free(msg->Attachments);
  std::free(msg->MsgDir);
  *msg = BdMsg{};
}

// The parts of a message as rows of kind (0 recipient, 1 attachment, 2
// signature), the attachment's position, the part's own position, then up to
// five texts; `guid` is the condition on the message's GUID. Ordered by the
// first three columns, they come in order.
std::string parts_query(const std::string &guid) {
  return "SELECT 0, 0, position, type, address, NULL, NULL, NULL FROM zz_recipient WHERE guid " +
         guid +
         " UNION ALL SELECT 1, position, 0, att_guid, name, path, NULL, NULL FROM zz_attachment "
         "WHERE guid " +
         guid +
         " UNION ALL SELECT 2, att_position, position, signer_name, signer_type, "
         "signer_address, file_name, file_path FROM zz_signature WHERE guid " +
         guid;
}

// The message's own columns, in the order fill_message reads them.
constexpr char kMessageFields[] =
    "guid, subject, flags, body, sender_type, sender_address, digest, part6, part7, msg_dir";

// fill_message - the record's own members from a row of kMessageFields
void fill_message(const Row &m, BdMsg *msg) {
  msg->MsgGuid = owned(m[0]);
  msg->Subject = owned(m[1]);
  msg->Flags = static_cast<uint32_t>(number(m[2]));
  msg->Body = owned_bytes(m[3], &msg->BodyLength);
  msg->SenderType = owned(m[4]);
  msg->SenderAddress = owned(m[5]);
  msg->Digest = owned_bytes(m[6], &msg->DigestLength);
  msg->Part6Value = static_cast<uint64_t>(number(m[7]));
  msg->Part7Value = static_cast<uint64_t>(number(m[8]));
  msg->MsgDir = owned(m[9]);
}

// fill_parts - recipients, attachments and their signatures from rows of
// parts_query
void fill_parts(const std::vector<Row> &parts, BdMsg *msg) {
  auto kind = [](const Row &p) { return number(p[0]); };
  size_t counts[3] = {0, 0, 0};
  for (const Row &p : parts) {
    if (kind(p) >= 0 && kind(p) <= 2) ++counts[kind(p)];
  }
  msg->Recipients = static_cast<AddressEntry *>(std::calloc(counts[0] + 1, sizeof(AddressEntry)));
  msg->Attachments = static_cast<BdAttachment *>(std::calloc(counts[1] + 1, sizeof(BdAttachment)));
  for (const Row &p : parts) {
    if (kind(p) == 0) {
      msg->Recipients[msg->RecipientCount++] = AddressEntry{owned(p[3]), owned(p[4])};
    } else if (kind(p) == 1) {
      BdAttachment &a = msg->Attachments[msg->AttachmentCount++];
      a.Guid = owned(p[3]);
      a.Name = owned(p[4]);
      a.FilePath = owned(p[5]);
    }
  }
  // Each attachment's signatures follow in order; count them first.
  std::vector<uint32_t> signs(msg->AttachmentCount, 0);
  auto owner = [&](const Row &p) {
    const int64_t at = number(p[1]);
    return kind(p) == 2 && at >= 0 && at < static_cast<int64_t>(signs.size()) ? at : -1;
  };
  for (const Row &p : parts) {
    if (owner(p) >= 0) ++signs[owner(p)];
  }
  for (uint32_t i = 0; i < msg->AttachmentCount; ++i) {
    msg->Attachments[i].Signs = static_cast<BdSign *>(std::calloc(signs[i] + 1, sizeof(BdSign)));
  }
  for (const Row &p : parts) {
    if (owner(p) < 0) continue;
    BdAttachment &a = msg->Attachments[owner(p)];
    a.Signs[a.SignCount++] =
        BdSign{owned(p[3]), owned(p[4]), owned(p[5]), owned(p[6]), owned(p[7])};
  }
}

// release - a claim ended: sent with its hash, or queued again with the
// attempt counted (failed after too many); only while `token` still holds it
uint32_t release(Connection &db, const std::string &guid, const std::string &token, bool sent,
                 const char *text) {
  std::string error;
  const Value at = Value::number_of(now());
  // No limit is a limit never reached.
  const int64_t most = most_attempts();
  const Value limit = Value::number_of(most > 0 ? most : INT64_MAX);
  const std::string held = token.empty() ? " AND state = 'claimed'" : " AND claim_token = ?";
  std::vector<Value> params = sent ? std::vector<Value>{Value::text_of(text != nullptr ? text : ""),
                                                        at, Value::text_of(guid)}
                                   : std::vector<Value>{limit, limit, at, Value::text_of(guid)};
  if (!token.empty()) params.push_back(Value::text_of(token));
  const bool done = sent ? db.run(
                               "UPDATE zz_message SET state = 'sent', hash = ?, finished_at = ?, "
                               "claim_token = NULL WHERE guid = ?" +
                                   held,
                               params, nullptr, &error)
                         : db.run(
                               "UPDATE zz_message SET attempts = attempts + 1, state = CASE WHEN "
                               "attempts + 1 >= CAST(? AS BIGINT) THEN 'failed' ELSE 'queued' END, "
                               "finished_at = CASE WHEN attempts + 1 >= CAST(? AS BIGINT) "
                               "THEN CAST(? AS BIGINT) ELSE NULL END, claim_token = NULL, "
                               "claimed_by = NULL, claimed_at = NULL WHERE guid = ?" +
                                   held,
                               params, nullptr, &error);
  return done ? kOk : fail(error);
}

}  // namespace

ZURA_EXPORT void zura_vez_last_claim(char *out, uint32_t size) {
  if (out != nullptr && size != 0) std::snprintf(out, size, "%s", t_claim.c_str());
}

ZURA_EXPORT uint32_t zura_vez_release(BD_HANDLE handle, const char *guid, const char *claim,
                                      uint32_t sent, const char *text) {
  if (guid == nullptr || claim == nullptr || *claim == '\0') return fail("no message or claim");
  return attempt(handle, [&](Connection &db) { return release(db, guid, claim, sent != 0, text); });
}

ZURA_EXPORT void zura_vez_configure(const char *host, uint32_t lease_seconds,
                                    uint32_t most_attempts) {
  Config &c = config();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.host = host != nullptr ? host : "";
  c.lease = lease_seconds != 0 ? lease_seconds : 600;
  c.attempts = most_attempts;
}

ZURA_EXPORT void zura_vez_last_reason(char *out, uint32_t size) {
  if (out != nullptr && size != 0) std::snprintf(out, size, "%s", t_reason.c_str());
}

ZURA_EXPORT uint32_t zura_vez_enqueue(BD_HANDLE handle, const BdMsg *msg) {
  return attempt(handle, [&](Connection &db) { return insert(&db, msg, kOutgoing, "queued"); });
}

ZURA_EXPORT uint32_t zura_vez_each_state(BD_HANDLE handle, zura_vez_state_visitor visit,
                                         void *user) {
  std::vector<Row> rows;
  const uint32_t result = attempt(handle, [&](Connection &db) {
    std::string error;
    rows.clear();
    return db.run(
               "SELECT direction, state, COUNT(*) FROM zz_message GROUP BY direction, state "
               "ORDER BY direction, state",
               {}, &rows, &error)
               ? kOk
               : fail(error);
  });
  for (const Row &r : rows) {
    if (visit != nullptr && r[1]) {
      visit(user, static_cast<uint32_t>(number(r[0])), r[1]->c_str(),
            static_cast<uint64_t>(number(r[2])));
    }
  }
  return result;
}

ZURA_EXPORT uint32_t zura_vez_each_message(BD_HANDLE handle, const char *state, uint32_t most,
                                           zura_vez_message_visitor visit, void *user) {
  std::vector<Row> rows;
  const uint32_t result = attempt(handle, [&](Connection &db) {
    std::string error;
    rows.clear();
    const std::string where = state != nullptr
                                  ? "state = ?"
                                  : "direction = 2 AND state IN ('queued', 'claimed', 'failed')";
    std::vector<Value> params;
    if (state != nullptr) params.push_back(Value::text_of(state));
    params.push_back(Value::number_of(most != 0 ? most : 100));
    return db.run(
               "SELECT guid, direction, state, attempts, created, claimed_at, claimed_by, "
               "subject FROM zz_message WHERE " +
                   where + " ORDER BY created, guid LIMIT ?",
               params, &rows, &error)
               ? kOk
               : fail(error);
  });
  for (const Row &r : rows) {
    const zura_vez_summary m{r[0] ? r[0]->c_str() : "",
                             static_cast<uint32_t>(number(r[1])),
                             r[2] ? r[2]->c_str() : "",
                             static_cast<uint32_t>(number(r[3])),
                             number(r[4]),
                             number(r[5]),
                             r[6] ? r[6]->c_str() : "",
                             r[7] ? r[7]->c_str() : ""};
    if (visit != nullptr) visit(user, &m);
  }
  return result;
}

ZURA_EXPORT uint32_t zura_vez_show(BD_HANDLE handle, const char *guid, zura_vez_field_visitor visit,
                                   void *user) {
  if (guid == nullptr) return fail("no message named");
  const char *names[] = {"guid",     "direction", "state",      "flags",      "subject",
                         "sender",   "created",   "claimed at", "claimed by", "finished at",
                         "attempts", "hash",      "directory"};
  std::vector<Row> rows, parts;
  const uint32_t result = attempt(handle, [&](Connection &db) {
    std::string error;
    rows.clear();
    parts.clear();
    const Value id = Value::text_of(guid);
    if (!db.run("SELECT guid, direction, state, flags, subject, "
                "COALESCE(sender_type, '') || ':' || COALESCE(sender_address, ''), created, "
                "claimed_at, claimed_by, finished_at, attempts, hash, msg_dir "
                "FROM zz_message WHERE guid = ?",
                {id}, &rows, &error) ||
        !db.run("SELECT 'recipient', COALESCE(type, '') || ':' || COALESCE(address, ''), 0, "
                "position, 0 FROM zz_recipient WHERE guid = ? UNION ALL "
                "SELECT 'attachment', COALESCE(name, '') || ' ' || COALESCE(path, ''), position, "
                "0, 1 FROM zz_attachment WHERE guid = ? UNION ALL "
                "SELECT 'signature', COALESCE(signer_name, '') || ' ' || COALESCE(file_path, ''), "
                "att_position, position, 2 FROM zz_signature WHERE guid = ? ORDER BY 5, 3, 4",
                {id, id, id}, &parts, &error)) {
      return fail(error);
    }
    return rows.empty() ? kNone : kOk;
  });
  if (result != kOk || visit == nullptr) return result;
  for (size_t i = 0; i < rows[0].size() && i < std::size(names); ++i) {
    if (rows[0][i]) visit(user, names[i], rows[0][i]->c_str());
  }
  for (const Row &p : parts) visit(user, p[0]->c_str(), p[1] ? p[1]->c_str() : "");
  return kOk;
}

ZURA_EXPORT uint32_t zura_vez_requeue(BD_HANDLE handle, const char *guid, uint64_t *count) {
  int64_t changed = 0;
  const uint32_t result = attempt(handle, [&](Connection &db) {
    std::string error;
    // Only what no gateway works on: failed messages, and claims past the lease.
    std::string sql =
        "UPDATE zz_message SET state = 'queued', attempts = 0, claim_token = NULL, "
        "claimed_by = NULL, claimed_at = NULL WHERE direction = 2 AND (state = 'failed' OR "
        "(state = 'claimed' AND claimed_at < ?))";
    std::vector<Value> params = {Value::number_of(now() - lease())};
    if (guid != nullptr) {
      sql += " AND guid = ?";
      params.push_back(Value::text_of(guid));
    }
    return db.run(sql, params, nullptr, &error, &changed) ? kOk : fail(error);
  });
  if (count != nullptr) *count = static_cast<uint64_t>(changed);
  return result;
}

ZURA_EXPORT uint32_t BdInit(BD_HANDLE *handle, const BdInitParams *params) {
  if (handle == nullptr || params == nullptr || params->Dsn == nullptr) return fail("no DSN");
  *handle = 0;
  auto d = std::make_unique<Database>();
  d->delay = params->Delay;
  std::string error;
  if (!d->db.open(params->Dsn, params->Timeout, &error) || !create_schema(d->db, &error)) {
    return fail(error);
  }
  *handle = static_cast<BD_HANDLE>(reinterpret_cast<uintptr_t>(d.release()));
  return kOk;
}

ZURA_EXPORT uint32_t BdClose(BD_HANDLE handle) {
  delete database(handle);
  return kOk;
}

ZURA_EXPORT uint32_t BdReadMsg(BD_HANDLE handle, BdMsg *msg) {
  if (msg == nullptr) return fail("no record");
  return attempt(handle, [&](Connection &db) {
    *msg = BdMsg{};
    Database *d = database(handle);
    const int64_t at = now();
    const std::string token = claim_token();
    const std::vector<Value> claimed = {Value::text_of(token), Value::text_of(host_name()),
                                        Value::number_of(at)};
    const bool postgres = db.dbms().find("PostgreSQL") != std::string::npos;
    const std::string oldest =
        "SELECT guid FROM zz_message WHERE direction = 2 AND state = 'queued' "
        "ORDER BY created, guid LIMIT 1";
    std::string error;
    std::vector<Row> rows, parts;  // the message, then its parts
    // PostgreSQL: one UPDATE claims the oldest queued row (rows another
    // gateway is claiming right now are passed over) and gives the message
    // back; only a row still queued when the update reaches it is claimed.
    // SQLite: the write lock is taken first, so the oldest queued message is
    // read and claimed with no other writer in between. Its parts follow.
    auto claim = [&]() {
      rows.clear();
      parts.clear();
      bool done = false;
      if (postgres) {
        done = db.run(
            "UPDATE zz_message SET state = 'claimed', claim_token = ?, claimed_by = ?, "
            "claimed_at = ? WHERE guid = (" +
                oldest + " FOR UPDATE SKIP LOCKED) AND state = 'queued' RETURNING " +
                kMessageFields,
            claimed, &rows, &error);
      } else if (db.run("BEGIN IMMEDIATE", {}, nullptr, &error)) {
        std::vector<Value> by_guid = claimed;
        done = db.run(std::string("SELECT ") + kMessageFields + " FROM zz_message WHERE guid = (" +
                          oldest + ")",
                      {}, &rows, &error) &&
               (rows.empty() || (by_guid.push_back(Value::text_of(*rows.front()[0])),
                                 db.run("UPDATE zz_message SET state = 'claimed', claim_token = ?, "
                                        "claimed_by = ?, claimed_at = ? WHERE guid = ?",
                                        by_guid, nullptr, &error))) &&
               db.run("COMMIT", {}, nullptr, &error);
        if (!done) {
          std::string ignored;
          db.run("ROLLBACK", {}, nullptr, &ignored);
          rows.clear();
        }
      }
      return done && (rows.empty() ||
                      db.run(parts_query("= ?") + " ORDER BY 1, 2, 3",
                             std::vector<Value>(3, Value::text_of(*rows[0][0])), &parts, &error));
    };
    // Claims older than the lease are queued again: now and then, and
    // whenever nothing queued is left.
    bool swept = false;
    auto sweep = [&]() {
      swept = true;
      d->next_sweep = at + 30;
      int64_t changed = 0;
      return db.run(
                 "UPDATE zz_message SET state = 'queued', claim_token = NULL, "
                 "claimed_by = NULL, claimed_at = NULL WHERE direction = 2 AND "
                 "state = 'claimed' AND claimed_at < ?",
                 {Value::number_of(at - lease())}, nullptr, &error, &changed) &&
             changed > 0;
    };
    if (at >= d->next_sweep) sweep();
    if (!claim()) return fail(error);
    if (rows.empty() && !swept && sweep() && !claim()) return fail(error);
    if (!error.empty()) return fail(error);
    if (rows.empty()) return kNone;
    t_claim = token;
    fill_message(rows[0], msg);
    fill_parts(parts, msg);
    d->claims[msg->MsgGuid] = token;
    return kOk;
  });
}

ZURA_EXPORT uint32_t BdWriteMsg(BD_HANDLE handle, BdMsg *msg) {
  return attempt(handle, [&](Connection &db) { return insert(&db, msg, kIncoming, "stored"); });
}

ZURA_EXPORT uint32_t BdFreeMsg(BD_HANDLE handle, BdMsg *msg, uint32_t sent, const char *text) {
  if (msg == nullptr) return fail("no record");
  Database *d = database(handle);
  std::string guid, token;
  if (msg->MsgGuid != nullptr && d != nullptr) {
    guid = msg->MsgGuid;
    const auto held = d->claims.find(guid);
    if (held != d->claims.end()) token = held->second;
  }
  const uint32_t result = attempt(handle, [&](Connection &db) {
    return guid.empty() ? kOk : release(db, guid, token, sent != 0, text);
  });
  if (result != kOk) return result;  // the record stays for another try
  if (!guid.empty()) d->claims.erase(guid);
  free_message(msg);
  return kOk;
}

ZURA_EXPORT uint32_t BdPing(BD_HANDLE handle) {
  return attempt(handle, [&](Connection &db) {
    std::string error;
    std::vector<Row> rows;
    return db.run("SELECT 1", {}, &rows, &error) ? kOk : fail(error);
  });
}

ZURA_EXPORT uint32_t BdActivityIndicator(BD_HANDLE handle, uint8_t direction) {
  return attempt(handle, [&](Connection &db) {
    std::string error;
    int64_t changed = 0;
    const Value host = Value::text_of(host_name()), dir = Value::number_of(direction),
                at = Value::number_of(now());
    if (!db.run("UPDATE zz_activity SET last_signal = ? WHERE host = ? AND direction = ?",
                {at, host, dir}, nullptr, &error, &changed)) {
      return fail(error);
    }
    if (changed == 0 &&
        !db.run("INSERT INTO zz_activity (host, direction, last_signal) VALUES (?, ?, ?)",
                {host, dir, at}, nullptr, &error)) {
      return fail(error);
    }
    return kOk;
  });
}
