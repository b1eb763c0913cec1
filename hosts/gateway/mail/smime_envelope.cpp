// smime_envelope.cpp - header fields are whole lines with their folded
// continuations; a Content- field (any letter case) belongs to the entity.
#include "gateway/mail/smime_envelope.h"

#include <strings.h>

#include <vector>

namespace zz::gateway {
namespace {

// fields - the header block's fields, each with its continuation lines and line ends
std::vector<std::string> fields(const std::string &block) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < block.size()) {
    size_t end = block.find('\n', at);
    end = end == std::string::npos ? block.size() : end + 1;
    const std::string line = block.substr(at, end - at);
    if (!out.empty() && (line[0] == ' ' || line[0] == '\t')) {
      out.back() += line;
    } else {
      out.push_back(line);
    }
    at = end;
  }
  return out;
}

bool is_version_field(const std::string &field) {
  return strncasecmp(field.c_str(), "MIME-Version:", 13) == 0;
}

bool is_content_field(const std::string &field) {
  return strncasecmp(field.c_str(), "Content-", 8) == 0;
}

// boundary - where the header block ends and where the body begins
bool boundary(const std::string &message, size_t *headers_end, size_t *body) {
  const size_t crlf = message.find("\r\n\r\n");
  const size_t lf = message.find("\n\n");
  if (crlf == std::string::npos && lf == std::string::npos) return false;
  if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
    *headers_end = crlf + 2;
    *body = crlf + 4;
  } else {
    *headers_end = lf + 1;
    *body = lf + 2;
  }
  return true;
}

}  // namespace

bool split_entity(const std::string &message, std::string *headers, std::string *entity) {
  size_t end = 0, body = 0;
  if (!boundary(message, &end, &body)) return false;
  headers->clear();
  std::string content;
  for (const std::string &field : fields(message.substr(0, end))) {
    (is_content_field(field) ? content : *headers) += field;
  }
  *entity = content + "\r\n" + message.substr(body);
  return true;
}

std::string join_entity(const std::string &headers, const std::string &entity) {
  std::string out;
  for (const std::string &field : fields(headers)) {
    if (!is_content_field(field) && !is_version_field(field)) out += field;
  }
  // The entity's own header block loses its MIME-Version: the message has one.
  size_t end = 0, body = 0;
  if (!boundary(entity, &end, &body)) return out + "MIME-Version: 1.0\r\n" + entity;
  out += "MIME-Version: 1.0\r\n";
  for (const std::string &field : fields(entity.substr(0, end))) {
    if (!is_version_field(field)) out += field;
  }
  return out + entity.substr(end);
}

bool is_smime(const std::string &message) {
  size_t end = 0, body = 0;
  if (!boundary(message, &end, &body)) return false;
  for (const std::string &field : fields(message.substr(0, end))) {
    if (strncasecmp(field.c_str(), "Content-Type:", 13) != 0) continue;
    std::string value = field.substr(13);
    for (char &c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return value.find("multipart/signed") != std::string::npos ||
           value.find("application/pkcs7-mime") != std::string::npos ||
           value.find("application/x-pkcs7-mime") != std::string::npos;
  }
  return false;
}

std::string signed_file_container(const std::string &content, const Signatures &signatures) {
  std::string out =
      "Length-File:" + std::to_string(content.size()) + "\r\nFile-Data:\r\n" + content;
  for (const auto &[signer, sign] : signatures) {
    out += "\r\nName-Signer:" + signer + "\r\nLength-Sign:" + std::to_string(sign.size()) +
           "\r\nSign:\r\n" + sign;
  }
  return out;
}

}  // namespace zz::gateway
