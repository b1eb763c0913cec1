// sendmail.cpp - the message piped to a sendmail-compatible program
// ("sendmail -i -f SENDER -- RECIPIENTS"), the way most Linux hosts hand
// mail to their mail server; its exit status (sysexits) decides the status.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "gateway/transport/outgoing.h"

namespace zz::gateway {
namespace {

// Exit codes of sysexits.h that say the message can never go as it is.
constexpr int kDataErr = 65, kNoUser = 67, kNoHost = 68, kUnavailable = 69;

class SendmailOutgoing : public Outgoing {
 public:
  explicit SendmailOutgoing(std::string program) : program_(std::move(program)) {}
  std::string name() const override { return "the program " + program_; }
  bool delivered(const std::string &) const override { return false; }

  Handover send(const std::string &sender, const std::vector<std::string> &recipients,
                const std::string &bytes, const std::string &) override {
    Handover h;
    std::vector<std::string> args = {program_, "-i", "-f", sender, "--"};
    args.insert(args.end(), recipients.begin(), recipients.end());
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
      h.why = std::string("no pipe: ") + std::strerror(errno);
      return h;
    }
    const pid_t child = ::fork();
    if (child < 0) {
      h.why = std::string("cannot start ") + program_ + ": " + std::strerror(errno);
      ::close(in[0]);
      ::close(in[1]);
      return h;
    }
    if (child == 0) {
      ::dup2(in[0], 0);
      ::execv(program_.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    // A program that stops reading must not kill the gateway with SIGPIPE.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    size_t at = 0;
    while (at < bytes.size()) {
      const ssize_t n = ::write(in[1], bytes.data() + at, bytes.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    ::close(in[1]);
    ::sigaction(SIGPIPE, &old, nullptr);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && at == bytes.size()) {
      h.status = Handover::kSent;
      h.where = "handed to " + program_;
      return h;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    h.status = at == bytes.size() ? sendmail_status(code) : Handover::kPutBack;
    h.why = program_ + (WIFEXITED(status)
                            ? " exited with " + std::to_string(code)
                            : " was killed by signal " + std::to_string(WTERMSIG(status)));
    if (code == 127) h.why += " (it could not be started)";
    return h;
  }

 private:
  std::string program_;
};

}  // namespace

uint32_t sendmail_status(int exit_code) {
  if (exit_code == 0) return Handover::kSent;
  if (exit_code == kDataErr || exit_code == kNoUser || exit_code == kNoHost ||
      exit_code == kUnavailable) {
    return Handover::kFailed;
  }
  return Handover::kPutBack;
}

std::unique_ptr<Outgoing> sendmail_outgoing(const OutgoingSettings &s) {
  return std::make_unique<SendmailOutgoing>(s.sendmail);
}

}  // namespace zz::gateway
