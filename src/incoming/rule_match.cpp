// rule_match.cpp - the shared tests and names of input rule walks.
#include "incoming/rule_match.h"

#include <cstdio>
#include <cstring>

#include "files/file_io.h"
#include "frame/events.h"
#include "incoming/target_path.h"
#include "text/compare.h"
#include "text/header_text.h"
#include "text/masks.h"

namespace zz {

const char kEverything[] = "\xC2\xF1\xE5";
const char kReceiptMask[] = "\xCA\xE2\xE8\xF2\xE0\xED\xF6\xE8\xFF";

namespace {

constexpr size_t kSignatureNameLimit = 250;

bool address_matches(const char *mask, const char *address) {
  return equal_ascii_ignoring_case(mask, address) ||
         (is_mask(mask) && match_mask(mask, address) == 0);
}

}  // namespace

bool sender_accepted(const InputRule &rule, const char *sender) {
  return std::strcmp(rule.SenderMask, kEverything) == 0 ||
         address_matches(rule.SenderMask, sender != nullptr ? sender : "");
}

bool recipients_accepted(const InputRule &rule, const AddressEntry *recipients, uint32_t count) {
  if (rule.RecipientMask[0] == '\0') return true;
  if (recipients == nullptr) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const char *address = recipients[i].Address;
    if (address != nullptr && address_matches(rule.RecipientMask, address)) return true;
  }
  return false;
}

bool transformed_name(const char *received, char *name) {
  const size_t length = strnlen(received, kNameSize - 1);
  std::memcpy(name, received, length);
  name[length] = '\0';
  uint32_t index = 0;
  TransformRule transform;
  for (;;) {
    const int32_t status = get_config_convert_param(&index, &transform);
    if (status == kNoMoreRules) return true;
    if (status == kRuleFailed) return false;
    char result[kNameSize];
    if (transform_name(transform.FileNameIn, received, transform.FileNameOut, result) == 0) {
      std::memcpy(name, result, std::strlen(result) + 1);
      return true;
    }
  }
}

std::string signature_file_name(const char *target, const char *signer) {
  char clean[kLineSize];
  std::snprintf(clean, sizeof clean, "%s", signer);
  replace_invalid_chars(clean);
  std::string name = std::string(target) + "." + clean;
  if (name.size() > kSignatureNameLimit) name.resize(kSignatureNameLimit);
  return name + ".sgn";
}

bool write_from_descriptor(const char *dir, const char *type, const char *address) {
  char path[host::kTextSize];
  std::snprintf(path, sizeof path, "%s", dir);
  append_text(path, "\\olminfo.txt");
  char line[host::kTextSize * 2];
  int n = std::snprintf(line, sizeof line, "%s:%s:%s\r\n", "From", type != nullptr ? type : "",
                        address != nullptr ? address : "");
  if (n < 0) n = 0;
  if (static_cast<size_t>(n) >= sizeof line) n = sizeof line - 1;
  if (write_to_file(path, line, static_cast<uint32_t>(n))) return true;
  host::report_event(kLevelDetail, OXT_EV_WRITE_FILE, path);
  return false;
}

}  // namespace zz
