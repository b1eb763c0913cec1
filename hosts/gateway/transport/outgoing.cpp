// outgoing.cpp - the transport settings, the choice among the transports,
// and the Maildir transport. A password is never kept in the configuration
// store: it is read from a file that only the service's user may read.
#include "gateway/transport/outgoing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "gateway/base/console.h"
#include "zozerez_host.h"

namespace zz::gateway {
namespace {

class MaildirOutgoing : public Outgoing {
 public:
  explicit MaildirOutgoing(const Maildir &outbox) : outbox_(outbox) {}
  Handover send(const std::string &, const std::vector<std::string> &, const std::string &bytes,
                const std::string &tag) override {
    Handover h;
    std::string name, error;
    if (!outbox_.deliver(bytes, tag, &name, &error)) {
      h.why = error;
      return h;
    }
    h.status = Handover::kSent;
    h.where = "as " + name;
    return h;
  }
  bool delivered(const std::string &tag) const override { return outbox_.holds(tag); }
  std::string name() const override { return "the Maildir " + outbox_.root(); }

 private:
  const Maildir &outbox_;
};

}  // namespace

std::unique_ptr<Outgoing> maildir_outgoing(const Maildir &outbox) {
  return std::make_unique<MaildirOutgoing>(outbox);
}

bool read_outgoing_settings(const std::string &gw, OutgoingSettings *s, std::string *error) {
  char text[2048];
  auto string = [&](const char *name, std::string *out) {
    if (OLM_ConfGetString(gw.c_str(), name, text, sizeof text, 0) == 0 && *text != '\0') {
      *out = text;
    }
  };
  auto path = [&](const char *name, std::string *out) {
    if (OLM_ConfGetPath(gw.c_str(), name, text, "", 0) == 0 && *text != '\0') {
      *out = native_path(text);
    }
  };
  auto number = [&](const char *name, uint32_t *out) {
    uint32_t value = 0;
    if (OLM_ConfGetDWORD(gw.c_str(), name, &value, 0) == 0) *out = value;
  };
  string("Transport", &s->transport);
  string("SmtpServer", &s->server);
  number("SmtpPort", &s->port);
  string("SmtpTls", &s->tls);
  path("SmtpCAFile", &s->ca_file);
  string("SmtpUser", &s->user);
  path("SmtpPasswordFile", &s->password_file);
  number("SmtpTimeout", &s->timeout);
  path("SendmailPath", &s->sendmail);
  const std::string where = " under " + utf8(gw);
  if (s->transport != "maildir" && s->transport != "smtp" && s->transport != "sendmail") {
    *error = "setting \"Transport\"" + where + " is \"" + utf8(s->transport) +
             "\"; it must be maildir, smtp or sendmail";
    return false;
  }
  if (s->tls != "none" && s->tls != "starttls" && s->tls != "starttls-optional" &&
      s->tls != "tls") {
    *error = "setting \"SmtpTls\"" + where + " is \"" + utf8(s->tls) +
             "\"; it must be none, starttls, starttls-optional or tls";
    return false;
  }
  if (s->transport == "smtp" && s->server.empty()) {
    *error = "setting \"SmtpServer\"" + where + " is needed with \"Transport\" smtp";
    return false;
  }
  if (s->user.empty() != s->password_file.empty()) {
    *error = "settings \"SmtpUser\" and \"SmtpPasswordFile\"" + where + " go together";
    return false;
  }
  if (!s->password_file.empty()) {
    // Readable by the service's user alone, or the password is not secret.
    struct stat st {};
    if (::stat(s->password_file.c_str(), &st) != 0) {
      *error = "the SMTP password file " + s->password_file + " (setting \"SmtpPasswordFile\"" +
               where + ") cannot be read: " + std::strerror(errno);
      return false;
    }
    if ((st.st_mode & 077) != 0 || st.st_uid != ::geteuid()) {
      *error = "the SMTP password file " + s->password_file +
               " must belong to the service's user and be readable by it alone (mode 0600)";
      return false;
    }
  }
  if (s->timeout == 0) s->timeout = 60;
  return true;
}

std::unique_ptr<Outgoing> make_outgoing(const OutgoingSettings &s, const Maildir &outbox,
                                        std::string *error) {
  if (s.transport == "smtp") return smtp_outgoing(s, error);
  if (s.transport == "sendmail") return sendmail_outgoing(s);
  return maildir_outgoing(outbox);
}

}  // namespace zz::gateway
