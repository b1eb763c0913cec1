// mime_fuzz.cpp - the gateway's reader of received mail on arbitrary bytes.
// Whatever it accepts carries only attachment names that are plain file
// names, so nothing it hands to the module can point at another directory.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gateway/mail/mime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool ready = (zz::gateway::mime_init(), true);
  (void)ready;
  zz::gateway::MailMessage message;
  std::string error;
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  if (!zz::gateway::parse_message(bytes, &message, &error)) return 0;
  if (message.attachments.empty()) std::abort();
  for (const zz::gateway::Attachment &a : message.attachments) {
    if (a.name.empty() || a.name == "." || a.name == ".." ||
        a.name.find_first_of("/\\") != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
