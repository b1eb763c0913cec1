// outgoing.h - how a built message leaves the gateway: into the outbox
// Maildir (tests and loopback), to an SMTP server, or through a
// sendmail-compatible program. Every transport answers with the status the
// module's completion takes: sent, put back for a later round, or failed for
// good.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gateway/transport/maildir.h"

namespace zz::gateway {

// Handover - what a transport made of one message
struct Handover {
  enum Status : uint32_t { kSent = 0, kPutBack = 1, kFailed = 2 };
  uint32_t status = kPutBack;
  std::string where;                 // sent: where it went ("queued as 4Xk2 by ...")
  std::string why;                   // not sent: the reason, as the server or program said it
  std::vector<std::string> refused;  // recipients refused, each "address: answer"
};

// OutgoingSettings - <key>\Gateway's transport settings
struct OutgoingSettings {
  std::string transport = "maildir";            // "maildir", "smtp" or "sendmail"
  std::string server;                           // SmtpServer
  uint32_t port = 0;                            // SmtpPort; 0: 25, or 465 for "tls"
  std::string tls = "starttls-optional";        // SmtpTls: none, starttls, starttls-optional, tls
  std::string ca_file;                          // SmtpCAFile: CAs for the server's certificate
  std::string user, password_file;              // SmtpUser, SmtpPasswordFile
  uint32_t timeout = 60;                        // SmtpTimeout, seconds
  std::string sendmail = "/usr/sbin/sendmail";  // SendmailPath
};

class Outgoing {
 public:
  virtual ~Outgoing() = default;
  // send - `bytes` from `sender` to every address of `recipients` (SMTP
  // addresses); `tag` names it where the transport keeps its own copy
  virtual Handover send(const std::string &sender, const std::vector<std::string> &recipients,
                        const std::string &bytes, const std::string &tag) = 0;
  // delivered - whether a message with `tag` is known to have gone (after a
  // crash); transports that cannot tell answer false, so it goes again
  virtual bool delivered(const std::string &tag) const = 0;
  // name - for the log ("SMTP to mail.example.org:25")
  virtual std::string name() const = 0;
};

// read_outgoing_settings - from <key>\Gateway; false, with the reason, when
// they cannot be used (an unknown transport, a password file others can read)
bool read_outgoing_settings(const std::string &gateway_key, OutgoingSettings *s,
                            std::string *error);

// make_outgoing - the chosen transport; null, with the reason, when it
// cannot be set up
std::unique_ptr<Outgoing> make_outgoing(const OutgoingSettings &s, const Maildir &outbox,
                                        std::string *error);

// Each transport on its own (outgoing.cpp, smtp.cpp, sendmail.cpp).
std::unique_ptr<Outgoing> maildir_outgoing(const Maildir &outbox);
std::unique_ptr<Outgoing> smtp_outgoing(const OutgoingSettings &s, std::string *error);
std::unique_ptr<Outgoing> sendmail_outgoing(const OutgoingSettings &s);

// sendmail_status - the status an exit code of a sendmail program means:
// 0 sent; the "try again" codes and anything unknown put back; the codes of a
// message that can never go (a bad address, bad data, no such user or host)
// failed for good
uint32_t sendmail_status(int exit_code);

}  // namespace zz::gateway
