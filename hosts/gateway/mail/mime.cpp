// mime.cpp - the GMime layer. GMime objects are reference counted; every
// object made here is released before the function returns.
#include "gateway/mail/mime.h"

#include <strings.h>

#include <gmime/gmime.h>

#include <cstring>
#include <memory>

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

struct FreeIter {
  void operator()(GMimePartIter *iter) const { g_mime_part_iter_free(iter); }
};

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

bool safe_name(const std::string &name, std::string *reason) {
  if (name.empty()) {
    *reason = "an attachment has no name";
  } else if (name.size() > kLongestName) {
    *reason = "an attachment name is longer than 255 bytes";
  } else if (name == "." || name == ".." ||
             name.find_first_of("/\\:*?\"<>|") != std::string::npos) {
    *reason = "the attachment name \"" + name + "\" is not a plain file name";
  } else {
    return true;
  }
  return false;
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

bool collect_parts(GMimeMessage *message, MailMessage *out, std::string *error) {
  std::unique_ptr<GMimePartIter, FreeIter> iter(g_mime_part_iter_new(GMIME_OBJECT(message)));
  bool have_body = false;
  do {
    GMimeObject *current = g_mime_part_iter_get_current(iter.get());
    if (current == nullptr || !GMIME_IS_PART(current)) continue;
    GMimePart *part = GMIME_PART(current);
    const char *filename = g_mime_part_get_filename(part);
    if (filename == nullptr && GMIME_IS_TEXT_PART(current) && !have_body) {
      char *text = g_mime_text_part_get_text(GMIME_TEXT_PART(current));
      const bool ok = text == nullptr || cp1251(text, &out->body);
      g_free(text);
      if (!ok) {
        *error = "the body has characters code page 1251 cannot hold";
        return false;
      }
      have_body = true;
      continue;
    }
    Attachment attachment;
    if (filename == nullptr || !cp1251(filename, &attachment.name)) {
      *error = filename == nullptr ? "an attachment has no name"
                                   : "an attachment name has characters code page 1251 lacks";
      return false;
    }
    if (!safe_name(filename, error)) return false;
    attachment.data = part_content(part);
    out->attachments.push_back(std::move(attachment));
  } while (g_mime_part_iter_next(iter.get()));
  return true;
}

}  // namespace

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

// unsafe_mime_header - a Content- field of the message or of a part with
// 8-bit bytes, or longer than any mail program writes: such parameters send
// GMime into minutes of work re-encoding them, so the message is refused
// first. Header blocks are the message's own and those after a "--" line.
bool unsafe_mime_header(const std::string &bytes) {
  constexpr size_t kLongestField = 8192;
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
      // The field with its folded continuation lines.
      size_t stop = end;
      while (stop + 1 < bytes.size() && (bytes[stop + 1] == ' ' || bytes[stop + 1] == '\t')) {
        const size_t next = bytes.find('\n', stop + 1);
        stop = next == std::string::npos ? bytes.size() : next;
      }
      if (stop - at > kLongestField) return true;
      for (size_t i = at; i < stop; ++i) {
        if (static_cast<unsigned char>(bytes[i]) >= 0x80) return true;
      }
      end = stop;
    }
    at = end + 1;
  }
  return false;
}

bool parse_message(const std::string &bytes, MailMessage *out, std::string *error) {
  mime_init();
  *out = MailMessage{};
  if (raw_subject_is_8bit(bytes)) {
    *error = "the subject has 8-bit characters without a charset";
    return false;
  }
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
  if (!collect_parts(message.get(), out, error)) return false;
  if (out->attachments.empty()) {
    *error = "the message has no attachment to store";
    return false;
  }
  return true;
}

}  // namespace zz::gateway
