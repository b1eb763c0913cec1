// test_host.cpp - roriv, zura_vez and vudo as the module's tests define them.
#include "support/test_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/event_table.h"

namespace zz::test {

void PrintTo(const Event &event, std::ostream *os) {
  char code[16];
  snprintf(code, sizeof code, "%08X", event.code);
  *os << "{level " << event.level << ", " << code;
  for (const std::string &arg : event.args) *os << ", \"" << arg << "\"";
  *os << "}";
}

Event summary(const std::string &step, const std::string &function) {
  return Event{OXT_LEVEL_SUMMARY, OXT_EV_SUMMARY, {step, function}};
}

TestHost &TestHost::get() {
  static TestHost host;
  return host;
}

void TestHost::reset() {
  *this = TestHost();
}

std::string TestHost::id(const std::string &key, const std::string &name) {
  std::string out = key + "|" + name;
  for (char &c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

void TestHost::set_dword(const std::string &key, const std::string &name, uint32_t value) {
  dwords_[id(key, name)] = value;
}

void TestHost::set_string(const std::string &key, const std::string &name,
                          const std::string &text) {
  strings_[id(key, name)] = text;
}

const std::string *TestHost::find_string(const std::string &key, const std::string &name) const {
  auto it = strings_.find(id(key, name));
  return it == strings_.end() ? nullptr : &it->second;
}

const uint32_t *TestHost::find_dword(const std::string &key, const std::string &name) const {
  auto it = dwords_.find(id(key, name));
  return it == dwords_.end() ? nullptr : &it->second;
}

std::string fake_digest(const std::string &data) {
  uint32_t h = 2166136261u;
  for (unsigned char c : data) h = (h ^ c) * 16777619u;
  return std::string{static_cast<char>(h >> 24), static_cast<char>(h >> 16),
                     static_cast<char>(h >> 8), static_cast<char>(h)};
}

std::string fake_digest_text(const std::string &data) {
  std::string digest = fake_digest(data);
  std::string text;
  char hex[4];
  for (unsigned char c : digest) {
    std::snprintf(hex, sizeof hex, "%02X ", c);
    text += hex;
  }
  text.pop_back();
  return text;
}

}  // namespace zz::test

using zz::test::host;

namespace {
std::string text_of(const char *s) {
  return s != nullptr ? s : "";
}

uint32_t copy_text(const std::string &text, char *buffer, uint32_t size) {
  if (text.size() + 1 > size) return 1;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}
}  // namespace

extern "C" {

uint32_t NR_GetRegistryKeyString(char *key) {
  if (host().key_fails()) return 1;
  return copy_text(host().registry_key(), key, 2048);
}

uint32_t OLM_ConfGetDWORD(const char *key, const char *name, uint32_t *value, uint32_t) {
  const uint32_t *found = host().find_dword(text_of(key), text_of(name));
  if (found == nullptr) return 1;
  *value = *found;
  return 0;
}

uint32_t OLM_ConfGetDWORDEx(const char *key, const char *name, uint32_t *value, uint32_t,
                            uint32_t) {
  return OLM_ConfGetDWORD(key, name, value, 0);
}

uint32_t OLM_ConfGetString(const char *key, const char *name, char *buffer, uint32_t size,
                           uint32_t) {
  const std::string *found = host().find_string(text_of(key), text_of(name));
  if (found == nullptr) return 1;
  return copy_text(*found, buffer, size);
}

uint32_t OLM_ConfGetPath(const char *key, const char *name, char *buffer, const char *default_text,
                         uint32_t) {
  const std::string *found = host().find_string(text_of(key), text_of(name));
  if (found != nullptr) return copy_text(*found, buffer, 2048);
  if (default_text == nullptr || *default_text == '\0') return 1;
  return copy_text(default_text, buffer, 2048);
}

void OLM_ReportEvent(uint32_t level, uint32_t code, ...) {
  zz::test::Event event{level, code, {}};
  const zz::host_common::EventInfo *info = zz::host_common::find_event(code);
  va_list list;
  va_start(list, code);
  for (const char *kind = info != nullptr ? info->kinds : ""; *kind != '\0'; ++kind) {
    if (*kind == 'n') {
      event.args.push_back(std::to_string(va_arg(list, unsigned int)));
    } else {
      event.args.push_back(text_of(va_arg(list, const char *)));
    }
  }
  va_end(list);
  host().events.push_back(std::move(event));
}

void OLM_SignalFailure(uint32_t, uint32_t) {
  ++host().failure_signals;
}

uint32_t BdInit(BD_HANDLE *handle, const BdInitParams *params) {
  host().db_calls.push_back("BdInit");
  host().last_init = *params;
  host().last_init_dsn = text_of(params->Dsn);
  if (host().bd_init_result != 0) return host().bd_init_result;
  *handle = host().bd_handle;
  return 0;
}

uint32_t BdClose(BD_HANDLE) {
  host().db_calls.push_back("BdClose");
  return 0;
}

uint32_t BdReadMsg(BD_HANDLE, BdMsg *msg) {
  host().db_calls.push_back("BdReadMsg");
  if (host().read_result == 0) *msg = host().read_message;
  return host().read_result;
}

uint32_t BdWriteMsg(BD_HANDLE, BdMsg *msg) {
  host().db_calls.push_back("BdWriteMsg");
  if (!host().write_results.empty()) {
    uint32_t result = host().write_results.front();
    host().write_results.erase(host().write_results.begin());
    if (result != 0) return result;
  }
  zz::test::TestHost::WrittenMessage w;
  auto bytes = [](const uint8_t *data, uint32_t length) {
    return data == nullptr ? std::string()
                           : std::string(reinterpret_cast<const char *>(data), length);
  };
  w.guid = text_of(msg->MsgGuid);
  w.subject = text_of(msg->Subject);
  w.body = bytes(msg->Body, msg->BodyLength);
  w.sender = text_of(msg->SenderType) + ":" + text_of(msg->SenderAddress);
  w.digest = bytes(msg->Digest, msg->DigestLength);
  w.dir = text_of(msg->MsgDir);
  w.flags = msg->Flags;
  w.part6 = msg->Part6Value;
  w.part7 = msg->Part7Value;
  for (uint32_t i = 0; i < msg->RecipientCount; ++i) {
    w.recipients.push_back(text_of(msg->Recipients[i].Type) + ":" +
                           text_of(msg->Recipients[i].Address));
  }
  for (uint32_t i = 0; i < msg->AttachmentCount; ++i) {
    const BdAttachment &a = msg->Attachments[i];
    std::string entry = text_of(a.Name) + "|" + text_of(a.FilePath) + "|";
    for (uint32_t s = 0; s < a.SignCount; ++s) {
      const BdSign &g = a.Signs[s];
      entry += text_of(g.SignerName) + "," + text_of(g.SignerType) + "," +
               text_of(g.SignerAddress) + "," + text_of(g.SignFileName) + "," +
               text_of(g.SignFilePath) + ";";
    }
    w.attachments.push_back(entry);
  }
  host().written.push_back(w);
  return 0;
}

uint32_t BdFreeMsg(BD_HANDLE, BdMsg *, uint32_t sent, const char *text) {
  host().db_calls.push_back("BdFreeMsg");
  host().free_calls.push_back({sent, text_of(text)});
  if (host().free_results.empty()) return 0;
  uint32_t result = host().free_results.front();
  host().free_results.erase(host().free_results.begin());
  return result;
}

uint32_t BdPing(BD_HANDLE) {
  host().db_calls.push_back("BdPing");
  return host().bd_ping_result;
}

uint32_t BdActivityIndicator(BD_HANDLE, uint8_t direction) {
  host().db_calls.push_back("BdActivityIndicator");
  host().activity_directions.push_back(direction);
  return 0;
}

uint32_t CCA_hash_mem(CCA_CONTEXT ctx, const CCA_BUFFER *data, CCA_BUFFER *digest) {
  host().crypto_handles.push_back(ctx);
  if (host().hash_fails) return 1;
  std::string d =
      zz::test::fake_digest(std::string(reinterpret_cast<const char *>(data->Data), data->Length));
  digest->Data = static_cast<uint8_t *>(std::malloc(d.size()));
  std::memcpy(digest->Data, d.data(), d.size());
  digest->Length = static_cast<uint32_t>(d.size());
  ++host().crypto_objects;
  return 0;
}
void CCA_free(CCA_CONTEXT, void *block) {
  if (block != nullptr) --host().crypto_objects;
  std::free(block);
}
uint32_t CCA_sender_signed_data(CCA_CONTEXT ctx, const CCA_BUFFER *sign, void **serial,
                                uint32_t *signer_count) {
  host().crypto_handles.push_back(ctx);
  std::string verdict(reinterpret_cast<const char *>(sign->Data), sign->Length);
  if (verdict == "NOSERIAL") return 1;
  *serial = new std::string(verdict);
  *signer_count = 1;
  ++host().crypto_objects;
  return 0;
}
void CCA_serial_free(CCA_CONTEXT, void *serial) {
  --host().crypto_objects;
  delete static_cast<std::string *>(serial);
}
uint32_t CCA_find_cert_by_serial(CCA_CONTEXT ctx, uint32_t, void *serial, void **cert, uint32_t,
                                 const char *) {
  host().crypto_handles.push_back(ctx);
  const std::string &verdict = *static_cast<std::string *>(serial);
  if (verdict == "NOCERT") return 1;
  *cert = new std::string(verdict);
  ++host().crypto_objects;
  return 0;
}
void CCA_cert_free(CCA_CONTEXT, void *cert) {
  if (cert == nullptr) return;
  --host().crypto_objects;
  delete static_cast<std::string *>(cert);
}
uint32_t CCA_check_mem_sep(CCA_CONTEXT ctx, const CCA_BUFFER *, const CCA_BUFFER *, void *cert,
                           CCA_CHECK *check) {
  host().crypto_handles.push_back(ctx);
  const std::string &verdict = *static_cast<std::string *>(cert);
  if (verdict == "CHECKFAIL") return 1;
  check->Status = verdict == "OK" ? 0 : verdict == "NOTCORRECT" ? 1 : verdict == "NOKEY" ? 2 : 7;
  check->Cert = new std::string("second");
  ++host().crypto_objects;
  return 0;
}
uint32_t CCA_get_random(CCA_CONTEXT ctx, uint32_t length, uint8_t *out) {
  host().crypto_handles.push_back(ctx);
  if (host().random_result != 0) return host().random_result;
  for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(0xA0 + i);
  return 0;
}

}  // extern "C"
