// mime.h - RFC 5322/MIME messages for the module's outgoing and incoming
// records, built and parsed with GMime. Texts cross in code page 1251 on the
// module's side and in UTF-8 (RFC 2047 and RFC 2231 encoded) on the wire.
// Address types other than SMTP, the message flags and the message hash
// travel in X-Zozerez- headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zozerez.h"

namespace zz::gateway {

constexpr uint32_t kFlagReceipt = 4;

// Address - an address type ("SMTP", "EX", "NOTES") and an address, code page 1251.
struct Address {
  std::string type;
  std::string address;
};

struct Attachment {
  std::string name;  // code page 1251
  std::string data;
};

// DeliveryReport - what a delivery status notification (multipart/report)
// says of a message this gateway sent: the message by its hash and subject,
// and each recipient's action ("failed", "delayed", ...) and status ("5.1.1")
struct DeliveryReport {
  struct Recipient {
    std::string address, action, status, diagnostic;
  };
  std::string hash;     // empty when the report returns no X-Zozerez-Hash
  std::string subject;  // code page 1251
  std::vector<Recipient> recipients;
  // failed_for_good - a recipient the message will never reach
  bool failed_for_good() const;
};

// MailMessage - a message as the gateway handles it, texts in code page 1251.
struct MailMessage {
  Address from;
  std::vector<Address> to;
  std::string subject;
  std::string body;
  uint32_t flags = 0;
  std::string hash;  // the sender's hash of the message
  std::vector<Attachment> attachments;
  bool is_report = false;  // a delivery status notification: `report`, no attachments
  DeliveryReport report;
};

void mime_init();
// from_outgoing - what a module record says, as a message to send
MailMessage from_outgoing(const OutgoingMessage &msg, const Address &own, const std::string &hash);
// build_message - the RFC 5322 bytes; false (with `error`) for texts 1251 cannot hold
bool build_message(const MailMessage &message, std::string *bytes, std::string *error);
// parse_message - false with the reason for anything the gateway must not store
bool parse_message(const std::string &bytes, MailMessage *message, std::string *error);

}  // namespace zz::gateway
