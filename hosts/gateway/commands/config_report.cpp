// config_report.cpp - the settings listing. It reads through the same roriv
// functions the module calls, so what it shows is what the module will see.
#include "gateway/commands/config_report.h"

#include <cstdint>
#include <string>

#include "gateway/base/console.h"
#include "zozerez_host.h"

namespace zz::gateway {
namespace {

enum class Kind { kNumber, kString, kPath };
enum class Need { kOptional, kRequired };

class Report {
 public:
  explicit Report(std::ostream &out) : out_(out) {}

  bool complete() const { return complete_; }

  void section(const std::string &title, const std::string &key) {
    out_ << "\n[" << title << "] " << utf8(key) << "\n";
  }

  // number - the value, or nothing when absent (printed either way)
  bool number(const std::string &key, const char *name, Need need, uint32_t *value,
              const char *note = "") {
    uint32_t v = 0;
    bool read = OLM_ConfGetDWORDEx(key.c_str(), name, &v, 0, 0) == 0;
    out_ << "  " << name << " = ";
    if (read) {
      char text[40];
      std::snprintf(text, sizeof text, "%u (0x%08X)", v, v);
      out_ << text;
    } else {
      absent(need);
    }
    if (*note != '\0') out_ << "  ; " << note;
    out_ << "\n";
    if (read && value != nullptr) *value = v;
    return read;
  }

  bool text(const std::string &key, const char *name, Kind kind, Need need, std::string *value,
            const char *note = "", const char *default_text = "") {
    char buffer[2048];
    bool read = kind == Kind::kPath
                    ? OLM_ConfGetPath(key.c_str(), name, buffer, default_text, 0) == 0
                    : OLM_ConfGetString(key.c_str(), name, buffer, sizeof buffer, 0) == 0;
    out_ << "  " << name << " = ";
    if (read) {
      out_ << "\"" << utf8(buffer) << "\"";
    } else {
      absent(need);
    }
    if (*note != '\0') out_ << "  ; " << note;
    out_ << "\n";
    if (read && value != nullptr) *value = buffer;
    return read;
  }

  // flag - a "+" switch; on only when the text is exactly "+"
  bool flag(const std::string &key, const char *name, const char *note) {
    std::string value;
    text(key, name, Kind::kString, Need::kOptional, &value, note);
    return value == "+";
  }

 private:
  void absent(Need need) {
    if (need == Need::kRequired) {
      out_ << "(absent)  <-- REQUIRED";
      complete_ = false;
    } else {
      out_ << "(absent)";
    }
  }

  std::ostream &out_;
  bool complete_ = true;
};

Need need_if(bool condition) {
  return condition ? Need::kRequired : Need::kOptional;
}

void module_settings(Report &r, const std::string &key) {
  r.section("module", key);
  uint32_t db = 0;
  r.number(key, "GWODBCFlags", Need::kOptional, &db,
           "1 database mode, 2 a GUID subdirectory per message");
  const Need database = need_if((db & 1) != 0);
  r.text(key, "ODBC_DSN", Kind::kPath, database, nullptr, "database mode");
  r.text(key, "ODBCAttachmentDir", Kind::kPath, database, nullptr, "database mode");
  r.number(key, "AttachmentSort", database, nullptr, "0 none, 1 day, 2 month, 3 year");
  r.number(key, "ODBCTimeout", database, nullptr);
  r.number(key, "ODBCDelay", database, nullptr);

  uint32_t inn = 0;
  r.number(key, "InnRulezFlags", Need::kOptional, &inn, "1 keep unstored incoming files");
  r.text(key, "SaveInErrorPath", Kind::kPath, need_if((inn & 1) != 0), nullptr);
  uint32_t out = 0;
  r.number(key, "OutRulezFlags", Need::kOptional, &out, "1 keep failed outgoing files, 2 notify");
  r.text(key, "SaveOutErrorPath", Kind::kPath, need_if((out & 1) != 0), nullptr);
  r.text(key, "AdminEmail", Kind::kString, need_if((out & 2) != 0), nullptr);
  r.number(key, "admin_etype", need_if((out & 2) != 0), nullptr, "1 EX, else SMTP");
  r.text(key, "Filename", Kind::kPath, Need::kRequired, nullptr,
         "data directory; empty: the temporary directory");

  uint32_t output = 0;
  r.number(key, "OutputMessageFlags", Need::kRequired, &output, "0x100 signature check mode");
  r.number(key, "CertificateFlags", Need::kRequired, nullptr);
  uint32_t archive = 0;
  r.number(key, "ArchiveFlags", need_if((output & 0x100) != 0), &archive,
           "1 archive outgoing signatures");
  r.text(key, "ArchivePathOut", Kind::kPath, Need::kOptional, nullptr, "", "Archive\\Out\\");
  r.number(key, "ArchiveOutSort", need_if((archive & 1) != 0), nullptr, "1 day, 2 month, 3 year");
}

// rule_in_use - a rule is off only when "UseRule" reads as 0
bool rule_in_use(Report &r, const std::string &key) {
  uint32_t use = 1;
  bool read = r.number(key, "UseRule", Need::kOptional, &use, "0 switches the rule off");
  return !read || use != 0;
}

void input_rules(Report &r, const std::string &host_key, uint32_t flags) {
  const std::string list = host_key + "\\InputFileRulez";
  r.section("input rules", list);
  uint32_t count = 0;
  r.number(list, "InputRulezNum", Need::kRequired, &count);
  for (uint32_t n = 0; n < count; ++n) {
    const std::string key = list + "\\" + std::to_string(n);
    r.section("input rule " + std::to_string(n), key);
    const Need need = need_if(rule_in_use(r, key));
    r.text(key, "Path", Kind::kPath, need, nullptr);
    r.text(key, "Email", Kind::kString, need, nullptr,
           "sender mask; \xD0\x92\xD1\x81\xD0\xB5 every sender");
    r.text(key, "RecipEmail", Kind::kString, Need::kOptional, nullptr, "recipient mask");
    r.text(key, "FileMask", Kind::kString, need, nullptr);
    r.number(key, "Type", need, nullptr, "1 encrypted, 2 signed, 4 plain, 8 strict");
    r.flag(key, "ContinueProcessRulez", "+ go on with the next rules");
    if (r.flag(key, "SaveFileWithSignature", "+ keep the signatures")) {
      r.flag(key, "SaveDetachedSignature", "+ signatures as separate .sgn files");
    }
    r.flag(key, "SaveInSubdirectory", "+ a TMP_ subdirectory per message");
    r.text(key, "GroupBy", Kind::kString, Need::kOptional, nullptr, "date subdirectories");
  }
  if ((flags & 2) == 0) return;
  const std::string transforms = host_key + "\\TransformFileRulez";
  r.section("transform rules", transforms);
  count = 0;
  r.number(transforms, "TransformFileRulezNum", Need::kRequired, &count);
  for (uint32_t n = 0; n < count; ++n) {
    const std::string key = transforms + "\\" + std::to_string(n);
    r.section("transform rule " + std::to_string(n), key);
    r.text(key, "FileNameIn", Kind::kString, Need::kRequired, nullptr, "mask");
    r.text(key, "FileNameOut", Kind::kString, Need::kRequired, nullptr, "template");
  }
}

void output_rules(Report &r, const std::string &host_key) {
  const std::string list = host_key + "\\OutputFileRulez";
  r.section("output rules", list);
  uint32_t count = 0;
  r.number(list, "OutputRulezNum", Need::kRequired, &count);
  for (uint32_t n = 0; n < count; ++n) {
    const std::string key = list + "\\" + std::to_string(n);
    r.section("output rule " + std::to_string(n), key);
    const bool in_use = rule_in_use(r, key);
    const Need need = need_if(in_use);
    r.text(key, "Path", Kind::kPath, need, nullptr, "source directory");
    r.text(key, "DefaultSubject", Kind::kString, need, nullptr);
    r.number(key, "Type", need, nullptr, "1 encrypt, 2 sign, 4 no protection");
    r.text(key, "FileMask", Kind::kString, Need::kOptional, nullptr);
    r.text(key, "Email", Kind::kString, Need::kOptional, nullptr, "sender: TYPE:address");
    r.flag(key, "PermitNotSigned", "+ unsigned files may be sent");
    r.flag(key, "SendSeparately", "+ one message per address");
    const bool guaranteed = r.flag(key, "GarantedDelivery", "+ guaranteed delivery");
    r.text(key, "IterationNum", Kind::kString, need_if(in_use && guaranteed), nullptr);
    r.text(key, "TimeInterval", Kind::kString, need_if(in_use && guaranteed), nullptr);
    r.flag(key, "SendTextInBody", "+ a single text file becomes the body");
    r.flag(key, "transform866to1251", "+ that body is converted from code page 866");
    const bool limits = r.flag(key, "UseSendLimits", "+ group files within limits");
    r.text(key, "NumFileLimit", Kind::kString, need_if(in_use && limits), nullptr);
    r.text(key, "SizeFileLimit", Kind::kString, need_if(in_use && limits), nullptr, "kilobytes");
    const std::string emails = key + "\\EmailList";
    r.section("output rule " + std::to_string(n) + " recipients", emails);
    uint32_t addresses = 0;
    r.number(emails, "EmailNum", need, &addresses);
    for (uint32_t a = 0; a < addresses; ++a) {
      r.text(emails, std::to_string(a).c_str(), Kind::kString, need, nullptr);
    }
  }
}

void host_settings(Report &r, const std::string &host_key) {
  const std::string key = host_key + "\\Gateway";
  r.section("host program", key);
  r.text(key, "Outbox", Kind::kPath, Need::kOptional, nullptr, "Maildir; required by run");
  r.text(key, "Inbox", Kind::kPath, Need::kOptional, nullptr, "Maildir; required by run");
  r.number(key, "PollSeconds", Need::kOptional, nullptr, "seconds between rounds (10)");
  r.flag(key, "SendReceipts", "+ answer every received message with a receipt");
  r.text(key, "OwnAddress", Kind::kString, Need::kOptional, nullptr, "the gateway's own address");
  r.text(key, "CertificateDirectory", Kind::kPath, Need::kOptional, nullptr,
         "signers' certificates (/etc/zozerez/certs)");
  r.text(key, "TrustedCADirectory", Kind::kPath, Need::kOptional, nullptr,
         "trusted CA certificates and CRLs (/etc/zozerez/trusted)");
  r.text(key, "DigestAlgorithm", Kind::kString, Need::kOptional, nullptr,
         "OpenSSL digest name of signature lists (SHA256)");
  r.number(key, "DatabaseLease", Need::kOptional, nullptr,
           "seconds before an abandoned database claim is queued again (600)");
  r.number(key, "DatabaseAttempts", Need::kOptional, nullptr,
           "put-backs before a database message is failed, for db requeue (10; 0 no limit)");
  r.text(key, "DatabaseHostName", Kind::kString, Need::kOptional, nullptr,
         "the name this gateway claims database messages under (the machine's)");
  r.number(key, "MaxMessageBytes", Need::kOptional, nullptr,
           "a received message larger than this is moved aside (268435456)");
  r.text(key, "Transport", Kind::kString, Need::kOptional, nullptr,
         "how mail leaves: maildir (the Outbox), smtp or sendmail (maildir)");
  r.text(key, "SmtpServer", Kind::kString, Need::kOptional, nullptr,
         "the SMTP server mail is submitted to (Transport smtp)");
  r.number(key, "SmtpPort", Need::kOptional, nullptr, "its port (25; 465 with SmtpTls tls)");
  r.text(key, "SmtpTls", Kind::kString, Need::kOptional, nullptr,
         "none, starttls (required, verified), starttls-optional, tls (starttls-optional)");
  r.text(key, "SmtpCAFile", Kind::kPath, Need::kOptional, nullptr,
         "CA certificates the server's certificate is checked against (the system's)");
  r.text(key, "SmtpUser", Kind::kString, Need::kOptional, nullptr, "the SMTP AUTH user");
  r.text(key, "SmtpPasswordFile", Kind::kPath, Need::kOptional, nullptr,
         "a file holding the SMTP password, mode 0600, owned by the service's user");
  r.number(key, "SmtpTimeout", Need::kOptional, nullptr, "seconds a submission may take (60)");
  r.text(key, "SendmailPath", Kind::kPath, Need::kOptional, nullptr,
         "the sendmail program (Transport sendmail; /usr/sbin/sendmail)");
  r.text(key, "OwnKey", Kind::kPath, Need::kOptional, nullptr,
         "the gateway's private key, PEM, mode 0600: signs and decrypts mail");
  r.text(key, "OwnCertificate", Kind::kPath, Need::kOptional, nullptr,
         "the gateway's certificate, PEM, with OwnKey");
}

}  // namespace

bool print_config(std::ostream &out) {
  char key[2048];
  if (NR_GetRegistryKeyString(key) != 0) {
    out << "the host's registry key cannot be had\n";
    return false;
  }
  out << "key: " << utf8(key) << "\n";
  Report report(out);
  module_settings(report, key);
  uint32_t flags = 0;
  report.number(key, "InputFileRulezFlags", Need::kRequired, &flags,
                "1 overwrite stored files, 2 transform rules in force");
  input_rules(report, key, flags);
  output_rules(report, key);
  host_settings(report, key);
  if (!report.complete()) out << "\nsome required settings are absent\n";
  return report.complete();
}

}  // namespace zz::gateway
