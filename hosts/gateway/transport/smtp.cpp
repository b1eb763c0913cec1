// smtp.cpp - submission to an SMTP server through libcurl. libcurl speaks
// the protocol; the conversation it reports (commands out, answers in) is
// read to tell each recipient's answer and the queue id of the final reply,
// and the last answer decides the status: 2xx sent, 4xx or no answer put
// back, 5xx failed for good. A partly refused message counts as sent for the
// recipients that took it; the refused ones are logged with their answers.
#include <curl/curl.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "gateway/transport/outgoing.h"

namespace zz::gateway {
namespace {

// Conversation - what libcurl's debug callback saw, command by command
struct Conversation {
  std::string pending_command;  // the last command sent, waiting for its answer
  std::vector<std::pair<std::string, std::string>> recipients;  // address, answer
  std::string last_answer;
  std::string final_answer;  // the answer to the message's data
  bool in_data = false;

  void command(const std::string &line) {
    pending_command = line;
    if (line.rfind("DATA", 0) == 0) in_data = true;
  }
  void answer(const std::string &line) {
    if (line.size() >= 4 && line[3] == '-') return;     // a continued answer: wait for its end
    if (pending_command.rfind("QUIT", 0) == 0) return;  // the goodbye says nothing of the message
    last_answer = line;
    if (pending_command.rfind("RCPT TO:", 0) == 0) {
      std::string address = pending_command.substr(8);
      if (!address.empty() && address.front() == '<') address.erase(0, 1);
      if (const size_t end = address.find('>'); end != std::string::npos) address.resize(end);
      recipients.emplace_back(address, line);
      pending_command.clear();
    } else if (in_data && line.rfind("354", 0) != 0) {
      final_answer = line;
      in_data = false;
    }
  }
};

std::string trimmed(const char *data, size_t size) {
  std::string text(data, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

int on_debug(CURL *, curl_infotype type, char *data, size_t size, void *user) {
  auto *c = static_cast<Conversation *>(user);
  if (type == CURLINFO_HEADER_OUT) {
    c->command(trimmed(data, size));
  } else if (type == CURLINFO_HEADER_IN) {
    // An answer may come in several lines at once.
    std::string text(data, size);
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string line = trimmed(text.data() + at, end - at);
      if (!line.empty()) c->answer(line);
      at = end + 1;
    }
  }
  return 0;
}

struct Reader {
  const std::string *bytes;
  size_t at = 0;
};

size_t on_read(char *buffer, size_t size, size_t count, void *user) {
  auto *r = static_cast<Reader *>(user);
  const size_t n = std::min(size * count, r->bytes->size() - r->at);
  std::memcpy(buffer, r->bytes->data() + r->at, n);
  r->at += n;
  return n;
}

int code_of(const std::string &answer) {
  return answer.size() >= 3 && std::isdigit(static_cast<unsigned char>(answer[0]))
             ? std::atoi(answer.substr(0, 3).c_str())
             : 0;
}

// queue_id - "250 2.0.0 Ok: queued as 4Xk2b" gives "4Xk2b"; else the answer
std::string queue_id(const std::string &answer) {
  const size_t at = answer.find("queued as ");
  if (at == std::string::npos) return answer;
  std::string id = answer.substr(at + 10);
  if (const size_t end = id.find_first_of(" \t"); end != std::string::npos) id.resize(end);
  return id;
}

class SmtpOutgoing : public Outgoing {
 public:
  SmtpOutgoing(const OutgoingSettings &s, std::string password)
      : s_(s), password_(std::move(password)) {
    const uint32_t port = s_.port != 0 ? s_.port : (s_.tls == "tls" ? 465 : 25);
    url_ = (s_.tls == "tls" ? "smtps://" : "smtp://") + s_.server + ":" + std::to_string(port);
  }

  std::string name() const override { return "SMTP to " + url_; }
  bool delivered(const std::string &) const override { return false; }

  Handover send(const std::string &sender, const std::vector<std::string> &recipients,
                const std::string &bytes, const std::string &) override {
    Handover h;
    std::unique_ptr<CURL, void (*)(CURL *)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
      h.why = "libcurl cannot start";
      return h;
    }
    CURL *c = curl.get();
    curl_slist *rcpt = nullptr;
    for (const std::string &r : recipients) rcpt = curl_slist_append(rcpt, ("<" + r + ">").c_str());
    std::unique_ptr<curl_slist, void (*)(curl_slist *)> rcpt_guard(rcpt, curl_slist_free_all);
    Conversation talk;
    Reader reader{&bytes};
    const std::string from = "<" + sender + ">";
    curl_easy_setopt(c, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    // Recipients one by one: those refused are told apart from those that took it.
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, on_read);
    curl_easy_setopt(c, CURLOPT_READDATA, &reader);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(s_.timeout));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(s_.timeout));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, on_debug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &talk);
    if (s_.tls == "starttls") {
      curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    } else if (s_.tls == "starttls-optional") {
      // Opportunistic: encrypted where the server offers it, its certificate
      // not checked, as mail servers do among themselves.
      curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
      curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (!s_.ca_file.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, s_.ca_file.c_str());
    if (!s_.user.empty()) {
      curl_easy_setopt(c, CURLOPT_USERNAME, s_.user.c_str());
      curl_easy_setopt(c, CURLOPT_PASSWORD, password_.c_str());
    }
    const CURLcode result = curl_easy_perform(c);

    for (const auto &[address, answer] : talk.recipients) {
      if (code_of(answer) / 100 != 2) h.refused.push_back(address + ": " + answer);
    }
    if (result == CURLE_OK) {
      h.status = Handover::kSent;
      h.where = "queued as " + queue_id(talk.final_answer) + " by " + url_;
      return h;
    }
    const int code = code_of(talk.last_answer);
    h.why = std::string(curl_easy_strerror(result)) +
            (talk.last_answer.empty() ? "" : " (" + talk.last_answer + ")");
    // Only an answer about this message fails it for good: a refused login
    // or a missing STARTTLS is the gateway's own configuration, and the
    // message waits until that is mended.
    const bool ours = result == CURLE_LOGIN_DENIED || result == CURLE_USE_SSL_FAILED ||
                      result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CONNECT_ERROR;
    h.status = code / 100 == 5 && !ours ? Handover::kFailed : Handover::kPutBack;
    // Every recipient refused: for good only when none of them may take it later.
    if (!talk.recipients.empty() && h.refused.size() == talk.recipients.size()) {
      bool later = false;
      for (const auto &[address, answer] : talk.recipients) later |= code_of(answer) / 100 == 4;
      h.status = later ? Handover::kPutBack : Handover::kFailed;
      h.why = "every recipient was refused (the last: " + talk.recipients.back().second + ")";
    }
    return h;
  }

 private:
  OutgoingSettings s_;
  std::string password_;
  std::string url_;
};

}  // namespace

std::unique_ptr<Outgoing> smtp_outgoing(const OutgoingSettings &s, std::string *error) {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!ready) {
    *error = "libcurl cannot start";
    return nullptr;
  }
  std::string password;
  if (!s.password_file.empty()) {
    std::ifstream in(s.password_file, std::ios::binary);
    password.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      *error = "cannot read the SMTP password file " + s.password_file;
      return nullptr;
    }
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) {
      password.pop_back();
    }
  }
  return std::make_unique<SmtpOutgoing>(s, std::move(password));
}

}  // namespace zz::gateway
