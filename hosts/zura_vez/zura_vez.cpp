// zura_vez.cpp - the message database over ODBC: SQLite through its ODBC
// driver by default, PostgreSQL for several gateways on one database. Texts
// are kept in UTF-8 and given to the module in code page 1251. Outgoing
// messages are claimed by one UPDATE that only a queued (or abandoned) row
// matches, so two gateways never claim the same message; a claim older than
// the lease is taken for abandoned.
#include "zura_vez/zura_vez.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
constexpr int64_t kSchemaVersion = 1;
constexpr int64_t kIncoming = 1, kOutgoing = 2;

thread_local std::string t_reason;

struct Config {
  std::mutex mutex;
  std::string host;
  int64_t lease = 600;
};
Config &config() {
  static Config c;
  return c;
}

std::string host_name() {
  Config &c = config();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (!c.host.empty()) return c.host;
  char name[256] = "localhost";
  gethostname(name, sizeof name - 1);
  return name;
}

int64_t lease() {
  Config &c = config();
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.lease;
}

uint32_t fail(const std::string &why) {
  t_reason = why;
  return kFailed;
}

Connection *connection(BD_HANDLE handle) {
  return reinterpret_cast<Connection *>(static_cast<uintptr_t>(handle));
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
  std::string cp1251;
  if (!zz::host_common::utf8_to_cp1251(*utf8, &cp1251)) cp1251 = *utf8;
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

std::string claim_token() {
  std::random_device random;
  char token[33];
  std::snprintf(token, sizeof token, "%08x%08x%08x%08x", random(), random(), random(), random());
  return token;
}

// create_schema - the tables, when the database has none; refuses a newer schema
bool create_schema(Connection &db, std::string *error) {
  const std::string blob = db.dbms().find("PostgreSQL") != std::string::npos ? "BYTEA" : "BLOB";
  std::vector<Row> rows;
  if (!db.run("CREATE TABLE IF NOT EXISTS zz_schema (version BIGINT NOT NULL)", {}, nullptr,
              error) ||
      !db.run("SELECT version FROM zz_schema", {}, &rows, error)) {
    return false;
  }
  if (!rows.empty()) {
    const int64_t version = number(rows[0][0]);
    if (version > kSchemaVersion) {
      *error = "the database holds schema version " + std::to_string(version) +
               "; this zura_vez knows version " + std::to_string(kSchemaVersion);
      return false;
    }
    return true;
  }
  const std::string tables[] = {
      "CREATE TABLE zz_message (guid VARCHAR(64) PRIMARY KEY, direction BIGINT NOT NULL, "
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
      "last_signal BIGINT, PRIMARY KEY (host, direction))",
      "INSERT INTO zz_schema (version) VALUES (1)",
  };
  if (!db.begin(error)) return false;
  for (const std::string &sql : tables) {
    if (!db.run(sql, {}, nullptr, error)) {
      db.rollback();
      return false;
    }
  }
  return db.commit(error);
}

// insert - one message with its parts, in one transaction
uint32_t insert(BD_HANDLE handle, const BdMsg *msg, int64_t direction, const char *state) {
  Connection *db = connection(handle);
  if (db == nullptr || msg == nullptr || msg->MsgGuid == nullptr)
    return fail("no database or message");
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

// fill - the claimed message's record from its rows
bool fill(Connection &db, const Row &m, BdMsg *msg, std::string *error) {
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
  const Value guid = Value::text_of(*m[0]);
  std::vector<Row> rows, atts, signs;
  if (!db.run("SELECT type, address FROM zz_recipient WHERE guid = ? ORDER BY position", {guid},
              &rows, error) ||
      !db.run("SELECT att_guid, name, path FROM zz_attachment WHERE guid = ? ORDER BY position",
              {guid}, &atts, error) ||
      !db.run("SELECT att_position, signer_name, signer_type, signer_address, file_name, "
              "file_path FROM zz_signature WHERE guid = ? ORDER BY att_position, position",
              {guid}, &signs, error)) {
    return false;
  }
  msg->Recipients = static_cast<AddressEntry *>(std::calloc(rows.size() + 1, sizeof(AddressEntry)));
  msg->RecipientCount = static_cast<uint32_t>(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    msg->Recipients[i].Type = owned(rows[i][0]);
    msg->Recipients[i].Address = owned(rows[i][1]);
  }
  msg->Attachments =
      static_cast<BdAttachment *>(std::calloc(atts.size() + 1, sizeof(BdAttachment)));
  msg->AttachmentCount = static_cast<uint32_t>(atts.size());
  for (size_t i = 0; i < atts.size(); ++i) {
    BdAttachment &a = msg->Attachments[i];
    a.Guid = owned(atts[i][0]);
    a.Name = owned(atts[i][1]);
    a.FilePath = owned(atts[i][2]);
    std::vector<const Row *> own;
    for (const Row &s : signs) {
      if (number(s[0]) == static_cast<int64_t>(i)) own.push_back(&s);
    }
    a.Signs = static_cast<BdSign *>(std::calloc(own.size() + 1, sizeof(BdSign)));
    a.SignCount = static_cast<uint32_t>(own.size());
    for (size_t j = 0; j < own.size(); ++j) {
      const Row &s = *own[j];
      a.Signs[j] = BdSign{owned(s[1]), owned(s[2]), owned(s[3]), owned(s[4]), owned(s[5])};
    }
  }
  return true;
}

}  // namespace

ZURA_EXPORT void zura_vez_configure(const char *host, uint32_t lease_seconds) {
  Config &c = config();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.host = host != nullptr ? host : "";
  c.lease = lease_seconds != 0 ? lease_seconds : 600;
}

ZURA_EXPORT void zura_vez_last_reason(char *out, uint32_t size) {
  if (out != nullptr && size != 0) std::snprintf(out, size, "%s", t_reason.c_str());
}

ZURA_EXPORT uint32_t zura_vez_enqueue(BD_HANDLE handle, const BdMsg *msg) {
  return insert(handle, msg, kOutgoing, "queued");
}

ZURA_EXPORT uint32_t zura_vez_each_state(BD_HANDLE handle, zura_vez_state_visitor visit,
                                         void *user) {
  Connection *db = connection(handle);
  if (db == nullptr) return fail("no database");
  std::string error;
  std::vector<Row> rows;
  if (!db->run("SELECT direction, state, COUNT(*) FROM zz_message GROUP BY direction, state "
               "ORDER BY direction, state",
               {}, &rows, &error)) {
    return fail(error);
  }
  for (const Row &r : rows) {
    if (visit != nullptr && r[1]) {
      visit(user, static_cast<uint32_t>(number(r[0])), r[1]->c_str(),
            static_cast<uint64_t>(number(r[2])));
    }
  }
  return kOk;
}

ZURA_EXPORT uint32_t BdInit(BD_HANDLE *handle, const BdInitParams *params) {
  if (handle == nullptr || params == nullptr || params->Dsn == nullptr) return fail("no DSN");
  *handle = 0;
  auto db = std::make_unique<Connection>();
  std::string error;
  if (!db->open(params->Dsn, params->Timeout, &error) || !create_schema(*db, &error)) {
    return fail(error);
  }
  *handle = static_cast<BD_HANDLE>(reinterpret_cast<uintptr_t>(db.release()));
  return kOk;
}

ZURA_EXPORT uint32_t BdClose(BD_HANDLE handle) {
  delete connection(handle);
  return kOk;
}

ZURA_EXPORT uint32_t BdReadMsg(BD_HANDLE handle, BdMsg *msg) {
  Connection *db = connection(handle);
  if (db == nullptr || msg == nullptr) return fail("no database or record");
  *msg = BdMsg{};
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const Value stale = Value::number_of(now - lease());
  const std::string token = claim_token();
  std::string error;
  int64_t claimed = 0;
  // Only a row still queued (or abandoned) when the update reaches it is
  // claimed; a gateway that loses the race claims nothing this time.
  const std::string waiting =
      "direction = 2 AND (state = 'queued' OR (state = 'claimed' AND claimed_at < ?))";
  // PostgreSQL: rows another gateway is claiming right now are passed over,
  // so concurrent gateways claim different messages instead of waiting.
  const std::string skip =
      db->dbms().find("PostgreSQL") != std::string::npos ? " FOR UPDATE SKIP LOCKED" : "";
  if (!db->run(
          "UPDATE zz_message SET state = 'claimed', claim_token = ?, claimed_by = ?, "
          "claimed_at = ? WHERE guid = (SELECT guid FROM zz_message WHERE " +
              waiting + " ORDER BY created, guid LIMIT 1" + skip + ") AND " + waiting,
          {Value::text_of(token), Value::text_of(host_name()), Value::number_of(now), stale, stale},
          nullptr, &error, &claimed)) {
    return fail(error);
  }
  if (claimed == 0) return kNone;
  std::vector<Row> rows;
  if (!db->run("SELECT guid, subject, flags, body, sender_type, sender_address, digest, part6, "
               "part7, msg_dir FROM zz_message WHERE claim_token = ?",
               {Value::text_of(token)}, &rows, &error) ||
      rows.size() != 1 || !fill(*db, rows[0], msg, &error)) {
    free_message(msg);
    return fail(error.empty() ? "the claimed message cannot be read back" : error);
  }
  return kOk;
}

ZURA_EXPORT uint32_t BdWriteMsg(BD_HANDLE handle, BdMsg *msg) {
  return insert(handle, msg, kIncoming, "stored");
}

ZURA_EXPORT uint32_t BdFreeMsg(BD_HANDLE handle, BdMsg *msg, uint32_t sent, const char *text) {
  Connection *db = connection(handle);
  if (db == nullptr || msg == nullptr) return fail("no database or record");
  std::string error;
  bool done = true;
  if (msg->MsgGuid != nullptr) {
    Value guid;
    ::text(msg->MsgGuid, &guid);
    const Value now = Value::number_of(static_cast<int64_t>(std::time(nullptr)));
    done = sent != 0
               ? db->run(
                     "UPDATE zz_message SET state = 'sent', hash = ?, finished_at = ?, "
                     "claim_token = NULL WHERE guid = ? AND state = 'claimed'",
                     {Value::text_of(text != nullptr ? text : ""), now, guid}, nullptr, &error)
               : db->run(
                     "UPDATE zz_message SET state = 'queued', attempts = attempts + 1, "
                     "claim_token = NULL, claimed_by = NULL, claimed_at = NULL "
                     "WHERE guid = ? AND state = 'claimed'",
                     {guid}, nullptr, &error);
  }
  if (!done) return fail(error);  // the record stays for another try
  free_message(msg);
  return kOk;
}

ZURA_EXPORT uint32_t BdPing(BD_HANDLE handle) {
  Connection *db = connection(handle);
  std::string error;
  std::vector<Row> rows;
  if (db == nullptr || !db->run("SELECT 1", {}, &rows, &error)) return fail(error);
  return kOk;
}

ZURA_EXPORT uint32_t BdActivityIndicator(BD_HANDLE handle, uint8_t direction) {
  Connection *db = connection(handle);
  if (db == nullptr) return fail("no database");
  std::string error;
  int64_t changed = 0;
  const Value host = Value::text_of(host_name()), dir = Value::number_of(direction),
              now = Value::number_of(static_cast<int64_t>(std::time(nullptr)));
  if (!db->run("UPDATE zz_activity SET last_signal = ? WHERE host = ? AND direction = ?",
               {now, host, dir}, nullptr, &error, &changed)) {
    return fail(error);
  }
  if (changed == 0 &&
      !db->run("INSERT INTO zz_activity (host, direction, last_signal) VALUES (?, ?, ?)",
               {host, dir, now}, nullptr, &error)) {
    return fail(error);
  }
  return kOk;
}
