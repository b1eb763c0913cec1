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
      {with_attachment_named(std::string(300, 'n')), "longer than 255 bytes"},
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

// mail - a message as a mail client writes it: From and Subject, then the
// MIME structure given
std::string mail(const std::string &content_type, const std::string &body) {
  return "From: Clerk <clerk@bank.example>\r\nTo: gw@example.org\r\nSubject: t\r\n"
         "MIME-Version: 1.0\r\nContent-Type: " +
         content_type + "\r\n\r\n" + body;
}

std::string part(const std::string &headers, const std::string &content, const char *b = "B") {
  return std::string("--") + b + "\r\n" + headers + "\r\n\r\n" + content + "\r\n";
}

TEST(Mime, MailAsClientsWriteIt) {
  const std::string mixed = "multipart/mixed; boundary=B";
  const std::string jpeg = "Content-Type: image/jpeg\r\nContent-Transfer-Encoding: base64\r\n";
  struct Row {
    const char *shape;
    std::string bytes;
    std::string body;
    std::vector<std::pair<std::string, std::string>> attachments;  // name, content
  } rows[] = {
      {"a text body and two named pictures",
       mail(mixed, part("Content-Type: text/plain", "see attached") +
                       part(jpeg + "Content-Disposition: attachment; filename=a.jpg", "/9j/") +
                       part(jpeg + "Content-Disposition: attachment; filename=\"b.jpg\"", "/9j/") +
                       "--B--\r\n"),
       "see attached",
       {{"a.jpg", "\xFF\xD8\xFF"}, {"b.jpg", "\xFF\xD8\xFF"}}},
      {"plain and HTML alternatives, then a named file",
       mail(mixed, "--B\r\nContent-Type: multipart/alternative; boundary=A\r\n\r\n" +
                       part("Content-Type: text/plain; charset=utf-8",
                            "\xD0\xA2\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82", "A") +
                       part("Content-Type: text/html", "<p>Text</p>", "A") + "--A--\r\n" +
                       part("Content-Type: application/pdf; name=r.pdf", "%PDF") + "--B--\r\n"),
       "\xD2\xE5\xEA\xF1\xF2",
       {{"r.pdf", "%PDF"}}},
      {"an HTML body with an inline picture and no names",
       mail("multipart/related; boundary=B",
            part("Content-Type: text/html", "<img src=cid:x>") +
                part(jpeg + "Content-ID: <x>\r\nContent-Disposition: inline", "/9j/") +
                "--B--\r\n"),
       "<img src=cid:x>",
       {{"part-2.jpg", "\xFF\xD8\xFF"}}},
      {"a forwarded message",
       mail(mixed,
            part("Content-Type: text/plain", "fyi") +
                part("Content-Type: message/rfc822", "From: a@x\r\nSubject: old\r\n\r\nold text") +
                "--B--\r\n"),
       "fyi",
       {{"forwarded-1.eml", "From: a@x\r\nSubject: old\r\n\r\nold text"}}},
      {"names in RFC 2231 (KOI8-R, continued; windows-1251), RFC 2047 (ISO-8859-5), UTF-8",
       mail(mixed,
            part("Content-Disposition: attachment; filename*0*=koi8-r''%F4%C5; "
                 "filename*1*=%D3%D4.txt",
                 "1") +
                part("Content-Disposition: attachment; filename*=windows-1251''%D2%E5%F1%F2.doc",
                     "2") +
                part("Content-Type: text/plain; name=\"=?ISO-8859-5?B?wtXh4i54bWw=?=\"\r\n"
                     "Content-Disposition: attachment",
                     "3") +
                part("Content-Disposition: attachment; filename*=UTF-8''%E4%B8%AD.txt", "4") +
                "--B--\r\n"),
       "",
       {{"\xD2\xE5\xF1\xF2.txt", "1"},
        {"\xD2\xE5\xF1\xF2.doc", "2"},
        {"\xD2\xE5\xF1\xF2.xml", "3"},
        {"?.txt", "4"}}},
      {"raw 8-bit names: UTF-8, and windows-1251 as old clients write them",
       mail(mixed, part("Content-Disposition: attachment; filename=\"\xD0\x9E\xD1\x82\xD1\x87"
                        "\xD1\x91\xD1\x82 1.txt\"",
                        "1") +
                       part("Content-Type: text/plain; name=\xD2\xE5\xF1\xF2.doc", "2") +
                       "--B--\r\n"),
       "",
       {{"\xCE\xF2\xF7\xB8\xF2 1.txt", "1"}, {"\xD2\xE5\xF1\xF2.doc", "2"}}},
      {"names a file system cannot hold, and names with a path",
       mail(mixed,
            part("Content-Disposition: attachment; filename=\"Report: Q3?.pdf\"", "1") +
                part("Content-Disposition: attachment; filename=\"../x\"", "2") +
                part("Content-Disposition: attachment; filename=\"C:\\\\dir\\\\y.txt\"", "3") +
                part("Content-Disposition: attachment; filename=\"a/../..\"", "4") + "--B--\r\n"),
       "",
       {{"Report: Q3?.pdf", "1"}, {"x", "2"}, {"y.txt", "3"}, {"part-4.txt", "4"}}},
  };
  for (const Row &row : rows) {
    MailMessage m;
    std::string error;
    ASSERT_TRUE(parse_message(row.bytes, &m, &error)) << row.shape << ": " << error;
    EXPECT_EQ(m.body.substr(0, m.body.find_last_not_of("\r\n") + 1), row.body) << row.shape;
    std::vector<std::pair<std::string, std::string>> got;
    for (const Attachment &a : m.attachments) got.emplace_back(a.name, a.data);
    EXPECT_EQ(got, row.attachments) << row.shape;
  }
}

TEST(Mime, DeliveryReportsNameTheMessageAndEachRecipient) {
  const std::string report = mail(
      "multipart/report; report-type=delivery-status; boundary=R",
      part("Content-Type: text/plain", "I could not deliver your message.", "R") +
          part(
              "Content-Type: message/delivery-status",
              "Reporting-MTA: dns; relay.test\r\n\r\nFinal-Recipient: rfc822; bank@demo.example\r\n"
              "Action: failed\r\nStatus: 5.0.0\r\nDiagnostic-Code: X-Postfix; mailbox\r\n "
              "gone\r\n\r\n"
              "Final-Recipient: rfc822;desk@demo.example\r\nAction: delayed\r\nStatus: 4.4.1\r\n",
              "R") +
          part("Content-Type: text/rfc822-headers",
               "From: gw@a.test\r\nSubject: =?UTF-8?B?0J7RgtGH0ZHRgg==?=\r\nX-Zozerez-Hash: ABC123",
               "R") +
          "--R--\r\n");
  MailMessage m;
  std::string error;
  ASSERT_TRUE(parse_message(report, &m, &error)) << error;
  ASSERT_TRUE(m.is_report);
  EXPECT_TRUE(m.attachments.empty());
  EXPECT_EQ(m.report.hash, "ABC123");
  EXPECT_EQ(m.report.subject, "\xCE\xF2\xF7\xB8\xF2");
  ASSERT_EQ(m.report.recipients.size(), 2u);
  EXPECT_EQ(m.report.recipients[0].address, "bank@demo.example");
  EXPECT_EQ(m.report.recipients[0].diagnostic, "X-Postfix; mailbox gone");
  EXPECT_EQ(m.report.recipients[1].address, "desk@demo.example");
  EXPECT_EQ(m.report.recipients[1].status, "4.4.1");
  EXPECT_TRUE(m.report.failed_for_good());
  m.report.recipients.erase(m.report.recipients.begin());
  EXPECT_FALSE(m.report.failed_for_good());  // only delayed: it may still arrive
}

}  // namespace
}  // namespace zz::gateway
