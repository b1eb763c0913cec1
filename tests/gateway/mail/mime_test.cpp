// mime_test.cpp - the gateway's MIME layer: code page 1251 texts and names
// survive a round trip through UTF-8 headers (RFC 2047, RFC 2231), and what
// must not be stored is refused with its reason.
#include "gateway/mail/mime.h"

#include <gtest/gtest.h>

namespace zz::gateway {
namespace {

MailMessage sample() {
  MailMessage m;
  m.from = {"EX", "/o=Bank/cn=\xCA\xE0\xF1\xF1\xE0"};  // Касса
  m.to = {{"SMTP", "a@example.org"}, {"NOTES", "Desk/Org"}};
  m.subject = "\xCE\xF2\xF7\xB8\xF2 \xE7\xE0 \xEC\xE0\xF0\xF2";  // Отчёт за март
  m.body = "\xD2\xE5\xEA\xF1\xF2\r\nline two\r\n";               // Текст
  m.flags = 6;
  m.hash = "ABCDEF0123";
  m.attachments = {{"\xF1\xE2\xEE\xE4\xEA\xE0 2024.xls", std::string("\x00\x01\xFF", 3)},  // сводка
                   {"plain.txt", "hello"}};
  return m;
}

TEST(Mime, RoundTripKeepsCodePage1251Texts) {
  std::string bytes, error;
  ASSERT_TRUE(build_message(sample(), &bytes, &error)) << error;
  EXPECT_NE(bytes.find("filename*="), std::string::npos) << bytes;  // RFC 2231
  EXPECT_EQ(bytes.find("\xCE\xF2"), std::string::npos);             // nothing 8-bit on the wire
  MailMessage back;
  ASSERT_TRUE(parse_message(bytes, &back, &error)) << error;
  const MailMessage want = sample();
  EXPECT_EQ(back.from.type, "EX");
  EXPECT_EQ(back.from.address, want.from.address);
  ASSERT_EQ(back.to.size(), 2u);
  EXPECT_EQ(back.to[1].type, "NOTES");
  EXPECT_EQ(back.subject, want.subject);
  EXPECT_EQ(back.body, want.body);
  EXPECT_EQ(back.flags, 6u);
  EXPECT_EQ(back.hash, "ABCDEF0123");
  ASSERT_EQ(back.attachments.size(), 2u);
  EXPECT_EQ(back.attachments[0].name, want.attachments[0].name);
  EXPECT_EQ(back.attachments[0].data, want.attachments[0].data);
  EXPECT_EQ(back.attachments[1].data, "hello");
}

std::string with_attachment_named(const std::string &name) {
  MailMessage m = sample();
  m.attachments = {{name, "x"}};
  std::string bytes, error;
  EXPECT_TRUE(build_message(m, &bytes, &error));
  return bytes;
}

TEST(Mime, RefusesWhatMustNotBeStored) {
  std::string whole, error;
  ASSERT_TRUE(build_message(sample(), &whole, &error));
  MailMessage none = sample();
  none.attachments.clear();
  std::string bare;
  ASSERT_TRUE(build_message(none, &bare, &error));
  const std::pair<std::string, std::string> rows[] = {
      {"garbage", "not a MIME message"},
      {bare, "the message has no attachment to store"},
      {with_attachment_named("../x"), "is not a plain file name"},
      {with_attachment_named("a:b?"), "is not a plain file name"},
      {with_attachment_named(std::string(300, 'n')), "longer than 255 bytes"},
      {with_attachment_named(""), "has no name"},
      {"From: a@b\r\nSubject: \xCF\xF0\xE8\r\nContent-Type: text/plain\r\n\r\nx\r\n",
       "8-bit characters without a charset"},
      {whole.substr(0, whole.size() - 40), "truncated"},
      {"From: a@b\r\nSubject: t\r\nContent-Type: multipart/mixed; bou\xE4\xE4ndary=B\r\n\r\n"
       "--B\r\nContent-Type: text/plain\r\n\r\nx\r\n--B--\r\n",
       "Content- header holds 8-bit bytes"},
      {"From: a@b\r\nSubject: t\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\n"
       "Content-Disposition: attachment; filename=\"" +
           std::string(9000, 'n') + "\"\r\n\r\nx\r\n--B--\r\n",
       "or is too long"},
  };
  for (const auto &[bytes, reason] : rows) {
    MailMessage m;
    std::string why;
    EXPECT_FALSE(parse_message(bytes, &m, &why)) << reason;
    EXPECT_NE(why.find(reason), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace zz::gateway
