// reg_store_test.cpp - the .reg parser: the three encodings, value types,
// keys in other letter case, and malformed files refused with file and line.
#include "roriv/reg_store.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zz::roriv {
namespace {

RegStore parse_ok(const std::string &bytes) {
  RegStore store;
  std::string error;
  EXPECT_TRUE(RegStore::parse(bytes, "gateway.reg", &store, &error)) << error;
  return store;
}

std::string utf16le(const std::u16string &text) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

const char kUtf8Store[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "; the gateway's own key\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez]\n"
    "\"GWODBCFlags\"=dword:0000000a\n"
    "\"Filename\"=\"C:\\\\data\\\\\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez\\InputFileRulez\\0]\n"
    "\"Email\"=\"\xD0\x92\xD1\x81\xD0\xB5\"\n"                               // Все
    "\"GroupBy\"=\"\xD0\x9F\xD0\xBE \xD0\xB4\xD0\xBD\xD1\x8F\xD0\xBC\"\r\n"  // По дням
    "\"Quote\"=\"say \\\"hi\\\"\"\n"
    "@=\"default\"\n";

TEST(RegStore, Utf8VersionFiveFileGivesCodePage1251Texts) {
  RegStore store = parse_ok(kUtf8Store);
  const RegValue *flags = store.find("hkey_local_machine\\software\\ZOZEREZ", "gwodbcflags");
  ASSERT_NE(flags, nullptr);
  EXPECT_EQ(flags->kind, RegValue::Kind::kDword);
  EXPECT_EQ(flags->number, 10u);
  EXPECT_EQ(store.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez\\", "Filename")->text, "C:\\data\\");
  const std::string rule = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez\\InputFileRulez\\0";
  EXPECT_EQ(store.find(rule, "Email")->text, "\xC2\xF1\xE5");
  EXPECT_EQ(store.find(rule, "GroupBy")->text, "\xCF\xEE \xE4\xED\xFF\xEC");
  EXPECT_EQ(store.find(rule, "Quote")->text, "say \"hi\"");
  EXPECT_EQ(store.find(rule, "")->text, "default");
  EXPECT_EQ(store.find(rule, "Missing"), nullptr);
  EXPECT_EQ(store.find("HKEY_LOCAL_MACHINE\\SOFTWARE", "Filename"), nullptr);
  EXPECT_EQ(store.first_key(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez");
}

TEST(RegStore, Regedit4FileIsCodePage1251AndKeysFoldCyrillicCase) {
  RegStore store = parse_ok(
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\\xCA\xEB\xFE\xF7]\r\n\"\xC8\xEC\xFF\"="
      "\"\xC2\xF1\xE5\"\r\n");
  // ключ / КЛЮЧ, имя / ИМЯ
  const RegValue *value = store.find("HKEY_CURRENT_USER\\\xEA\xEB\xFE\xF7", "\xE8\xEC\xFF");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->text, "\xC2\xF1\xE5");
}

TEST(RegStore, Utf16FileAsRegeditWritesIt) {
  RegStore store = parse_ok(
      utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Z]\r\n"
              u"\"FileMask\"=\"\u041a\u0432\u0438\u0442\u0430\u043d\u0446\u0438\u044f\"\r\n"
              u"\"Type\"=dword:00000007\r\n"));
  EXPECT_EQ(store.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Z", "FileMask")->text,
            "\xCA\xE2\xE8\xF2\xE0\xED\xF6\xE8\xFF");  // Квитанция
  EXPECT_EQ(store.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Z", "Type")->number, 7u);
}

TEST(RegStore, ExpandableStringsAcrossContinuationLines) {
  // hex(2) in a version 5 file is UTF-16LE: "%ZZ_TEST_ROOT%\in" and its zero.
  RegStore store = parse_ok(
      "Windows Registry Editor Version 5.00\n[K]\n"
      "\"Path\"=hex(2):25,00,5a,00,5a,00,5f,00,54,00,45,00,53,00,54,00,5f,00,52,00,\\\n"
      "  4f,00,4f,00,54,00,25,00,5c,00,69,00,6e,00,00,00\n"
      "\"Bin\"=hex:01,02,ff\n"
      "\"Dw\"=hex(4):0a,00,00,00\n");
  const RegValue *path = store.find("K", "Path");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->kind, RegValue::Kind::kExpandString);
  EXPECT_EQ(path->text, "%ZZ_TEST_ROOT%\\in");
  setenv("ZZ_TEST_ROOT", "/srv/gw", 1);
  EXPECT_EQ(expand_environment(path->text), "/srv/gw\\in");
  EXPECT_EQ(expand_environment("%ZZ_UNSET_VARIABLE%\\x %% 50%"), "%ZZ_UNSET_VARIABLE%\\x %% 50%");
  EXPECT_EQ(store.find("K", "Bin")->kind, RegValue::Kind::kBinary);
  EXPECT_EQ(store.find("K", "Bin")->text, "\x01\x02\xFF");
  EXPECT_EQ(store.find("K", "Dw")->number, 10u);
}

TEST(RegStore, MalformedFilesAreRefusedWholeNamingTheLine) {
  struct Row {
    std::string bytes;
    std::string message;
  } rows[] = {
      {"", "gateway.reg, line 1: the file is empty"},
      {"[K]\n\"a\"=\"b\"\n", "gateway.reg, line 1: not a registry export file"},
      {"REGEDIT4\n[K]\n\"a\"=\"b\n", "gateway.reg, line 3: a quoted text without its closing"},
      {"REGEDIT4\n[K]\n\"a\"=dword:xyz\n", "gateway.reg, line 3: a dword needs"},
      {"REGEDIT4\n[K]\n\"a\"=dword:123456789\n", "gateway.reg, line 3: a dword needs"},
      {"REGEDIT4\n\"a\"=\"b\"\n", "gateway.reg, line 2: a value before the first [key]"},
      {"REGEDIT4\n[K\n", "gateway.reg, line 2: a key line must end with ]"},
      {"REGEDIT4\n[K]\n\"a\"=\"C:\\dir\"\n", "gateway.reg, line 3: a lone \\ in a quoted text"},
      {"REGEDIT4\n[K]\n\"a\"=qword:1\n", "gateway.reg, line 3: unknown value type"},
      {"REGEDIT4\n[K]\n\"a\"=hex:1,2\n", "gateway.reg, line 3: hex data must be"},
      {"REGEDIT4\n[K]\n\"a\"=\"b\" trailing\n", "gateway.reg, line 3: text after the closing"},
      {"REGEDIT4\n[K]\njunk\n", "gateway.reg, line 3: expected a [key]"},
      {"REGEDIT4\n[-K]\n", "gateway.reg, line 2: removing keys"},
      {"Windows Registry Editor Version 5.00\n[K]\n\"a\"=\"\xC2\xF1\xE5\"\n",
       "gateway.reg, line 3: bad encoding"},
      {"Windows Registry Editor Version 5.00\n[K]\n\"a\"=\"\xE4\xB8\xAD\"\n",
       "gateway.reg, line 3: bad encoding: the character U+4E2D"},
  };
  for (const Row &row : rows) {
    RegStore store;
    std::string error;
    EXPECT_FALSE(RegStore::parse(row.bytes, "gateway.reg", &store, &error)) << row.bytes;
    EXPECT_EQ(error.substr(0, row.message.size()), row.message) << error;
  }
}

}  // namespace
}  // namespace zz::roriv
