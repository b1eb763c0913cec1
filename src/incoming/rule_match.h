// rule_match.h - the pieces of an input rule's walk that storing a file and
// filing a database message share: the sender and recipient tests, the
// transform rules, signature file names and the "From" descriptor.
#pragma once

#include <cstdint>
#include <string>

#include "rules/input_rules.h"
#include "zozerez.h"

namespace zz {

extern const char kEverything[];   // "Все"
extern const char kReceiptMask[];  // "Квитанция"

// sender_accepted - "Все", the address itself (ASCII case ignored), or a matching mask
bool sender_accepted(const InputRule &rule, const char *sender);
// recipients_accepted - an empty mask passes; else some recipient must match it
bool recipients_accepted(const InputRule &rule, const AddressEntry *recipients, uint32_t count);
// transformed_name - the new name from the first matching transform rule; false when reading failed
bool transformed_name(const char *received, char *name);
// signature_file_name - "<target>.<signer>", cut to 250 characters, then ".sgn"
std::string signature_file_name(const char *target, const char *signer);
// write_from_descriptor - "olminfo.txt" in `dir` with one "From" line;
// false after reporting 0xE0090003
bool write_from_descriptor(const char *dir, const char *type, const char *address);

}  // namespace zz
