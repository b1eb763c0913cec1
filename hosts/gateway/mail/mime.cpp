// mime.cpp - the GMime layer. GMime objects are reference counted; every
// object made here is released before the function returns.
#include "gateway/mail/mime.h"

#include <strings.h>

#include <gmime/gmime.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/cp1251.h"
#include "gateway/base/console.h"

namespace zz::gateway {
namespace {

constexpr size_t kLongestName = 255;

struct Unref {
  void operator()(void *object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <class T>
using Ref = std::unique_ptr<T, Unref>;

std::string address_text(const Address &a) {
  return a.type + ":" + a.address;
}

bool split_address_text(const std::string &text, Address *out) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  return cp1251(text.substr(0, colon), &out->type) && cp1251(text.substr(colon + 1), &out->address);
}

std::string header(GMimeObject *object, const char *name) {
  const char *value = g_mime_object_get_header(object, name);
  return value != nullptr ? value : "";
}

// raw_subject_is_8bit - a Subject header carrying bytes above 127 without
// RFC 2047 encoding has no charset: nothing says how to read it
bool raw_subject_is_8bit(const std::string &bytes) {
  size_t end = bytes.find("\n\n");
  const size_t crlf_end = bytes.find("\r\n\r\n");
  if (crlf_end != std::string::npos && (end == std::string::npos || crlf_end < end)) end = crlf_end;
  const std::string head = bytes.substr(0, end);
  size_t at = 0;
  while ((at = head.find("ubject:", at)) != std::string::npos) {
    const bool line_start = at >= 1 && (at == 1 || head[at - 2] == '\n') &&
                            (head[at - 1] == 'S' || head[at - 1] == 's');
    at += 7;
    if (!line_start) continue;
    for (size_t i = at; i < head.size(); ++i) {
      if (head[i] == '\n' && (i + 1 >= head.size() || (head[i + 1] != ' ' && head[i + 1] != '\t')))
        break;
      if (static_cast<unsigned char>(head[i]) >= 0x80) return true;
    }
  }
  return false;
}

// file_name - what a client named a part, as the module gets it: code page
// 1251 (characters 1251 lacks become "?", which the module's own safe-name
// rules make storable, as they do ":" or "*"), reduced to its last path
// component so that no name leads out of a rule directory. Empty when
// nothing usable is left.
std::string file_name(const char *utf8_name) {
  std::string name = host_common::utf8_to_cp1251_lossy(utf8_name);
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.size() == 2 && name[1] == ':') name.clear();  // "C:" alone
  if (name == "." || name == "..") name.clear();
  return name;
}

// generated_name - for a part without a name: its place and its type
// ("part-2.jpg"), or "forwarded-1.eml" for a forwarded message
std::string generated_name(GMimeObject *object, int place, int *forwarded) {
  if (GMIME_IS_MESSAGE_PART(object)) return "forwarded-" + std::to_string(++*forwarded) + ".eml";
  static const std::pair<const char *, const char *> kinds[] = {{"image/jpeg", "jpg"},
                                                                {"image/png", "png"},
                                                                {"image/gif", "gif"},
                                                                {"text/plain", "txt"},
                                                                {"text/html", "html"},
                                                                {"application/pdf", "pdf"},
                                                                {"application/zip", "zip"},
                                                                {"application/xml", "xml"},
                                                                {"text/xml", "xml"},
                                                                {"text/csv", "csv"},
                                                                {"message/delivery-status", "txt"},
                                                                {"text/rfc822-headers", "txt"}};
  GMimeContentType *type = g_mime_object_get_content_type(object);
  std::string extension = "bin";
  for (const auto &[mime, ext] : kinds) {
    const std::string m = mime;
    const size_t slash = m.find('/');
    if (type != nullptr && g_mime_content_type_is_type(type, m.substr(0, slash).c_str(),
                                                       m.substr(slash + 1).c_str())) {
      extension = ext;
      break;
    }
  }
  return "part-" + std::to_string(place) + "." + extension;
}

std::string part_content(GMimePart *part) {
  GMimeDataWrapper *wrapper = g_mime_part_get_content(part);
  if (wrapper == nullptr) return "";
  Ref<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(wrapper, out.get());
  GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return std::string(reinterpret_cast<const char *>(array->data), array->len);
}

// truncated - a multipart message whose closing boundary never came
bool truncated(GMimeMessage *message, const std::string &bytes) {
  GMimeObject *top = g_mime_message_get_mime_part(message);
  if (top == nullptr || !GMIME_IS_MULTIPART(top)) return false;
  const char *boundary = g_mime_multipart_get_boundary(GMIME_MULTIPART(top));
  return boundary == nullptr ||
         bytes.find(std::string("--") + boundary + "--") == std::string::npos;
}

// Leaf - a part that carries content, in the order of the message, with
// the multipart/alternative it is one rendering of (-1 for none)
struct Leaf {
  GMimeObject *object;
  int alternative;
};

void leaves_of(GMimeObject *object, int alternative, int *groups, std::vector<Leaf> *out) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart *multipart = GMIME_MULTIPART(object);
    GMimeContentType *type = g_mime_object_get_content_type(object);
    const bool choice =
        type != nullptr && g_mime_content_type_is_type(type, "multipart", "alternative");
    const int group = choice ? (*groups)++ : alternative;
    // A signed part's signature is not content.
    const int count = GMIME_IS_MULTIPART_SIGNED(object) ? 1 : g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) {
      leaves_of(g_mime_multipart_get_part(multipart, i), group, groups, out);
    }
    return;
  }
  if (GMIME_IS_PART(object) || GMIME_IS_MESSAGE_PART(object)) out->push_back({object, alternative});
}

const char *name_of(GMimeObject *object) {
  if (GMIME_IS_PART(object)) return g_mime_part_get_filename(GMIME_PART(object));
  const char *name = g_mime_object_get_content_disposition_parameter(object, "filename");
  return name != nullptr ? name : g_mime_object_get_content_type_parameter(object, "name");
}

bool attached(GMimeObject *object) {
  GMimeContentDisposition *d = g_mime_object_get_content_disposition(object);
  return d != nullptr && g_mime_content_disposition_is_attachment(d);
}

// collect_parts - the body is the first text/plain part (else text/html)
// without a name that is not marked as an attachment, looked for through
// alternative and related parts; the other renderings of it are passed
// over. Every other part is an attachment, under its own name or one made
// from its type.
bool collect_parts(GMimeMessage *message, MailMessage *out, std::string *error) {
  std::vector<Leaf> leaves;
  int groups = 0;
  leaves_of(g_mime_message_get_mime_part(message), -1, &groups, &leaves);
  auto body_like = [&](const Leaf &l, const char *subtype) {
    GMimeContentType *type = g_mime_object_get_content_type(l.object);
    return GMIME_IS_TEXT_PART(l.object) && type != nullptr &&
           g_mime_content_type_is_type(type, "text", subtype) && name_of(l.object) == nullptr &&
           !attached(l.object);
  };
  int body = -1;
  for (const char *subtype : {"plain", "html"}) {
    for (size_t i = 0; body < 0 && i < leaves.size(); ++i) {
      if (body_like(leaves[i], subtype)) body = static_cast<int>(i);
    }
  }
  if (body >= 0) {
    char *text = g_mime_text_part_get_text(GMIME_TEXT_PART(leaves[body].object));
    out->body = text != nullptr ? host_common::utf8_to_cp1251_lossy(text) : "";
    g_free(text);
  }
  int forwarded = 0;
  for (size_t i = 0; i < leaves.size(); ++i) {
    const Leaf &l = leaves[i];
    if (static_cast<int>(i) == body) continue;
    const char *given = name_of(l.object);
    if (given == nullptr && body >= 0 && l.alternative >= 0 &&
        l.alternative == leaves[body].alternative) {
      continue;  // the body again, as HTML or another rendering
    }
    Attachment attachment;
    attachment.name = given != nullptr ? file_name(given) : "";
    if (attachment.name.empty()) {
      attachment.name = generated_name(l.object, static_cast<int>(i) + 1, &forwarded);
    }
    if (attachment.name.size() > kLongestName) {
      *error = "an attachment name is longer than 255 bytes";
      return false;
    }
    if (GMIME_IS_PART(l.object)) {
      attachment.data = part_content(GMIME_PART(l.object));
    } else {
      GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(l.object));
      Ref<GMimeStream> stream(g_mime_stream_mem_new());
      // Written as mail travels, with CR LF line ends.
      GMimeFormatOptions *format = g_mime_format_options_new();
      g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
      if (inner != nullptr)
        g_mime_object_write_to_stream(GMIME_OBJECT(inner), format, stream.get());
      g_mime_format_options_free(format);
      GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
      attachment.data.assign(reinterpret_cast<const char *>(array->data), array->len);
    }
    out->attachments.push_back(std::move(attachment));
  }
  return true;
}

// header_value - a field of a header block given as text ("" when absent),
// unfolded
std::string header_value(const std::string &block, const char *name) {
  const size_t length = std::strlen(name);
  size_t at = 0;
  while (at < block.size()) {
    size_t end = block.find('\n', at);
    if (end == std::string::npos) end = block.size();
    if (end - at > length && strncasecmp(block.c_str() + at, name, length) == 0 &&
        block[at + length] == ':') {
      std::string value = block.substr(at + length + 1, end - at - length - 1);
      while (end + 1 < block.size() && (block[end + 1] == ' ' || block[end + 1] == '\t')) {
        const size_t next = block.find('\n', end + 1);
        const size_t stop = next == std::string::npos ? block.size() : next;
        value += block.substr(end + 1, stop - end - 1);
        end = stop;
      }
      for (char &c : value) {
        if (c == '\r' || c == '\t') c = ' ';
      }
      value.erase(0, value.find_first_not_of(' '));
      value.erase(value.find_last_not_of(' ') + 1);
      return value;
    }
    at = end + 1;
  }
  return "";
}

// read_report - a multipart/report of report-type delivery-status: the
// recipients' fields from its message/delivery-status part, the reported
// message's hash and subject from its returned message or headers
bool read_report(GMimeMessage *message, DeliveryReport *report) {
  GMimeObject *top = g_mime_message_get_mime_part(message);
  GMimeContentType *type = top != nullptr ? g_mime_object_get_content_type(top) : nullptr;
  const char *kind =
      type != nullptr ? g_mime_content_type_get_parameter(type, "report-type") : nullptr;
  if (!GMIME_IS_MULTIPART(top) || !g_mime_content_type_is_type(type, "multipart", "report") ||
      kind == nullptr || g_ascii_strcasecmp(kind, "delivery-status") != 0) {
    return false;
  }
  std::vector<Leaf> leaves;
  int groups = 0;
  leaves_of(top, -1, &groups, &leaves);
  for (const Leaf &l : leaves) {
    GMimeContentType *t = g_mime_object_get_content_type(l.object);
    std::string returned;
    if (GMIME_IS_MESSAGE_PART(l.object)) {
      GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(l.object));
      if (inner == nullptr) continue;
      char *headers = g_mime_object_get_headers(GMIME_OBJECT(inner), nullptr);
      returned = headers != nullptr ? headers : "";
      g_free(headers);
    } else if (GMIME_IS_PART(l.object) &&
               g_mime_content_type_is_type(t, "text", "rfc822-headers")) {
      returned = part_content(GMIME_PART(l.object));
    } else if (GMIME_IS_PART(l.object) &&
               g_mime_content_type_is_type(t, "message", "delivery-status")) {
      // Blocks of fields: the message's own, then one per recipient.
      std::string text;
      for (char c : part_content(GMIME_PART(l.object))) {
        if (c != '\r') text += c;
      }
      for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find("\n\n", at), text.size());
        const std::string block = text.substr(at, end - at);
        std::string address = header_value(block, "Final-Recipient");
        if (!address.empty()) {
          if (const size_t semi = address.find(';'); semi != std::string::npos) {
            address.erase(0, address.find_first_not_of(' ', semi + 1));
          }
          report->recipients.push_back({address, header_value(block, "Action"),
                                        header_value(block, "Status"),
                                        header_value(block, "Diagnostic-Code")});
        }
        at = end + 2;
      }
      continue;
    } else {
      continue;
    }
    if (report->hash.empty()) report->hash = header_value(returned, "X-Zozerez-Hash");
    if (report->subject.empty()) {
      char *subject =
          g_mime_utils_header_decode_text(nullptr, header_value(returned, "Subject").c_str());
      report->subject = host_common::utf8_to_cp1251_lossy(subject != nullptr ? subject : "");
      g_free(subject);
    }
  }
  return true;
}

}  // namespace

bool DeliveryReport::failed_for_good() const {
  for (const Recipient &r : recipients) {
    if (g_ascii_strcasecmp(r.action.c_str(), "failed") == 0 && !r.status.empty() &&
        r.status[0] == '5') {
      return true;
    }
  }
  return false;
}

void mime_init() {
  static const bool done = [] {
    g_mime_init();
    return true;
  }();
  (void)done;
}

MailMessage from_outgoing(const OutgoingMessage &msg, const Address &own, const std::string &hash) {
  MailMessage m;
  if (msg.SenderAddress != nullptr && *msg.SenderAddress != '\0') {
    m.from = {msg.SenderType != nullptr ? msg.SenderType : "SMTP", msg.SenderAddress};
  } else {
    m.from = own;
  }
  for (uint32_t i = 0; i < msg.RecipientCount; ++i) {
    const AddressEntry &r = msg.Recipients[i];
    m.to.push_back({r.Type != nullptr ? r.Type : "SMTP", r.Address != nullptr ? r.Address : ""});
  }
  m.subject = msg.Subject != nullptr ? msg.Subject : "";
  if (msg.Body != nullptr) m.body.assign(reinterpret_cast<const char *>(msg.Body), msg.BodyLength);
  m.flags = msg.Flags;
  m.hash = hash;
  for (uint32_t i = 0; i < msg.NumberFile; ++i) {
    const FileEntry &f = msg.File[i];
    Attachment a;
    a.name = f.Name != nullptr ? f.Name : "";
    if (f.Data != nullptr) a.data.assign(reinterpret_cast<const char *>(f.Data), f.Length);
    m.attachments.push_back(std::move(a));
  }
  return m;
}

bool build_message(const MailMessage &m, std::string *bytes, std::string *error) {
  mime_init();
  Ref<GMimeMessage> message(g_mime_message_new(TRUE));
  GMimeObject *object = GMIME_OBJECT(message.get());
  const std::string from = utf8(m.from.address);
  g_mime_message_add_mailbox(message.get(), GMIME_ADDRESS_TYPE_FROM, nullptr,
                             m.from.type == "SMTP" ? from.c_str() : "zozerez@localhost");
  g_mime_object_set_header(object, "X-Zozerez-From", utf8(address_text(m.from)).c_str(), "utf-8");
  for (const Address &to : m.to) {
    if (to.type == "SMTP") {
      g_mime_message_add_mailbox(message.get(), GMIME_ADDRESS_TYPE_TO, nullptr,
                                 utf8(to.address).c_str());
    }
    g_mime_object_append_header(object, "X-Zozerez-To", utf8(address_text(to)).c_str(), "utf-8");
  }
  g_mime_message_set_subject(message.get(), utf8(m.subject).c_str(), "utf-8");
  g_mime_object_set_header(object, "X-Zozerez-Flags", std::to_string(m.flags).c_str(), nullptr);
  if (!m.hash.empty()) g_mime_object_set_header(object, "X-Zozerez-Hash", m.hash.c_str(), nullptr);

  Ref<GMimeMultipart> multipart(g_mime_multipart_new_with_subtype("mixed"));
  Ref<GMimeTextPart> body(g_mime_text_part_new_with_subtype("plain"));
  g_mime_text_part_set_text(body.get(), utf8(m.body).c_str());
  // A body with CR LF line ends travels in base64, which keeps every byte.
  if (m.body.find('\r') != std::string::npos) {
    g_mime_part_set_content_encoding(GMIME_PART(body.get()), GMIME_CONTENT_ENCODING_BASE64);
  }
  g_mime_multipart_add(multipart.get(), GMIME_OBJECT(body.get()));
  for (const Attachment &a : m.attachments) {
    Ref<GMimePart> part(g_mime_part_new_with_type("application", "octet-stream"));
    g_mime_part_set_filename(part.get(), utf8(a.name).c_str());
    Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(a.data.data(), a.data.size()));
    Ref<GMimeDataWrapper> content(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part.get(), content.get());
    g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
    g_mime_multipart_add(multipart.get(), GMIME_OBJECT(part.get()));
  }
  g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(multipart.get()));

  Ref<GMimeStream> out(g_mime_stream_mem_new());
  if (g_mime_object_write_to_stream(object, nullptr, out.get()) < 0) {
    *error = "the message could not be written";
    return false;
  }
  GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  bytes->assign(reinterpret_cast<const char *>(array->data), array->len);
  return true;
}

bool has_8bit(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return true;
  }
  return false;
}

// encoded_parameters - one Content-Type or Content-Disposition field whose
// parameter values hold raw 8-bit bytes (as some clients write file names),
// with those values rewritten the way RFC 2231 writes them: UTF-8 when the
// bytes are UTF-8, else taken for windows-1251. Any other 8-bit byte is left
// for the safety check to refuse.
std::string encoded_parameters(const std::string &field) {
  std::string unfolded;
  for (char c : field) {
    if (c != '\r' && c != '\n') unfolded += c;
  }
  const size_t colon = unfolded.find(':');
  if (colon == std::string::npos) return field;
  std::vector<std::string> pieces(1);
  bool quoted = false;
  for (size_t i = colon + 1; i < unfolded.size(); ++i) {
    const char c = unfolded[i];
    if (c == '"' && (i == 0 || unfolded[i - 1] != '\\')) quoted = !quoted;
    if (c == ';' && !quoted) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  std::string out = unfolded.substr(0, colon + 1) + pieces[0];
  for (size_t i = 1; i < pieces.size(); ++i) {
    std::string piece = pieces[i];
    const size_t equals = piece.find('=');
    if (equals != std::string::npos && has_8bit(std::string_view(piece).substr(equals + 1))) {
      std::string name = piece.substr(0, equals), value = piece.substr(equals + 1);
      name.erase(0, name.find_first_not_of(" \t"));
      name.erase(name.find_last_not_of(" \t") + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      value.erase(value.find_last_not_of(" \t") + 1);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        std::string plain;
        for (size_t k = 1; k + 1 < value.size(); ++k) {
          if (value[k] == '\\' && k + 2 < value.size()) ++k;
          plain += value[k];
        }
        value = plain;
      }
      const bool utf8 = g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr);
      std::string encoded = std::string(utf8 ? "UTF-8" : "windows-1251") + "''";
      for (unsigned char c : value) {
        if (std::isalnum(c) != 0 || std::strchr("!#$&+-.^_`|~", c) != nullptr) {
          encoded += static_cast<char>(c);
        } else {
          char hex[4];
          std::snprintf(hex, sizeof hex, "%%%02X", c);
          encoded += hex;
        }
      }
      piece = " " + name + "*=" + encoded;
    }
    out += ";" + piece;
  }
  return out + "\r\n";
}

constexpr size_t kLongestField = 8192;

// content_fields - calls `field` with the offset and length of every Content-
// field (with its folded continuation lines and its line end) in the header
// blocks: the message's own, and those after a "--" line
template <class Field>
void content_fields(const std::string &bytes, Field field) {
  bool in_headers = true;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    const size_t length = end - at - (end > at && bytes[end - 1] == '\r' ? 1 : 0);
    if (length == 0) {
      in_headers = false;
    } else if (bytes.compare(at, 2, "--") == 0) {
      in_headers = true;
    } else if (in_headers && length > 8 && strncasecmp(bytes.c_str() + at, "Content-", 8) == 0) {
      while (end + 1 < bytes.size() && (bytes[end + 1] == ' ' || bytes[end + 1] == '\t')) {
        const size_t next = bytes.find('\n', end + 1);
        end = next == std::string::npos ? bytes.size() : next;
      }
      field(at, std::min(end + 1, bytes.size()) - at);
    }
    at = end + 1;
  }
}

// with_encoded_parameters - the message with every Content- field's raw
// 8-bit parameter values RFC 2231-encoded (see encoded_parameters)
std::string with_encoded_parameters(const std::string &bytes) {
  std::string out;
  size_t copied = 0;
  content_fields(bytes, [&](size_t at, size_t length) {
    const std::string_view field(bytes.data() + at, length);
    if (!has_8bit(field) || length > kLongestField) return;
    out.append(bytes, copied, at - copied);
    out += encoded_parameters(std::string(field));
    copied = at + length;
  });
  return copied == 0 ? bytes : out + bytes.substr(copied);
}

// unsafe_mime_header - a Content- field of the message or of a part with
// 8-bit bytes, or longer than any mail program writes: such parameters send
// GMime into minutes of work re-encoding them, so the message is refused
// first.
bool unsafe_mime_header(const std::string &bytes) {
  bool unsafe = false;
  content_fields(bytes, [&](size_t at, size_t length) {
    unsafe =
        unsafe || length > kLongestField || has_8bit(std::string_view(bytes.data() + at, length));
  });
  return unsafe;
}

bool parse_message(const std::string &raw, MailMessage *out, std::string *error) {
  mime_init();
  *out = MailMessage{};
  if (raw_subject_is_8bit(raw)) {
    *error = "the subject has 8-bit characters without a charset";
    return false;
  }
  const std::string bytes = with_encoded_parameters(raw);
  if (unsafe_mime_header(bytes)) {
    *error = "a Content- header holds 8-bit bytes or is too long";
    return false;
  }
  Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  Ref<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
  if (!message || g_mime_message_get_mime_part(message.get()) == nullptr) {
    *error = "not a MIME message";
    return false;
  }
  if (truncated(message.get(), bytes)) {
    *error = "the message is truncated: its closing boundary is missing";
    return false;
  }
  GMimeObject *object = GMIME_OBJECT(message.get());
  const char *subject = g_mime_message_get_subject(message.get());
  if (subject != nullptr && !cp1251(subject, &out->subject)) {
    *error = "the subject has characters code page 1251 cannot hold";
    return false;
  }
  const std::string from = header(object, "X-Zozerez-From");
  if (from.empty() || !split_address_text(from, &out->from)) {
    InternetAddressList *list = g_mime_message_get_from(message.get());
    InternetAddress *first = list != nullptr && internet_address_list_length(list) > 0
                                 ? internet_address_list_get_address(list, 0)
                                 : nullptr;
    if (first == nullptr || !INTERNET_ADDRESS_IS_MAILBOX(first) ||
        !cp1251(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(first)),
                &out->from.address)) {
      *error = "the message has no sender";
      return false;
    }
    out->from.type = "SMTP";
  }
  GMimeHeaderList *headers = g_mime_object_get_header_list(object);
  for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
    GMimeHeader *h = g_mime_header_list_get_header_at(headers, i);
    if (g_ascii_strcasecmp(g_mime_header_get_name(h), "X-Zozerez-To") != 0) continue;
    Address to;
    if (split_address_text(g_mime_header_get_value(h), &to)) out->to.push_back(to);
  }
  out->flags =
      static_cast<uint32_t>(std::strtoul(header(object, "X-Zozerez-Flags").c_str(), nullptr, 10));
  out->hash = header(object, "X-Zozerez-Hash");
  if (read_report(message.get(), &out->report)) {
    out->is_report = true;
    return true;
  }
  if (!collect_parts(message.get(), out, error)) return false;
  if (out->attachments.empty()) {
    *error = "the message has no attachment to store";
    return false;
  }
  return true;
}

}  // namespace zz::gateway
