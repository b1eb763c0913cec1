// smime_envelope.h - a message cut into its own headers (From, To, Subject,
// the X-Zozerez- headers ...) and its MIME entity (the Content- headers and
// the body), so that the entity alone is signed or encrypted and the message
// headers stay readable on the outside; and joined again.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zz::gateway {

// split_entity - false when the message has no header/body boundary
bool split_entity(const std::string &message, std::string *headers, std::string *entity);
// join_entity - the headers (without Content- lines) and an entity as one message
std::string join_entity(const std::string &headers, const std::string &entity);
// is_smime - whether the message's own Content-Type is S/MIME
bool is_smime(const std::string &message);
// signed_file_container - a received file with its signatures, as the module
// takes signed or encrypted files: Length-File, File-Data, then per signature
// Name-Signer, Length-Sign, Sign
using Signatures = std::vector<std::pair<std::string, std::string>>;  // signer, signature
std::string signed_file_container(const std::string &content, const Signatures &signatures);

}  // namespace zz::gateway
