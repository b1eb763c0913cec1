// module_dll_test.cpp - zozerez.dll as a host process loads it on Windows:
// with the real roriv.dll reading its settings from the registry (written
// by roriv_register from a .reg file) and the unconfigured zura_vez.dll and
// vudo.dll standing in for the database and signature libraries. A file
// dropped under a C:\ path is collected and completed, and an incoming file
// is stored, with Cyrillic names in code page 1251.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "roriv/roriv.h"
#include "support/temp_dir.h"
#include "zozerez.h"

namespace zz::test {
namespace {

struct Module {
  HMODULE dll = LoadLibraryA("zozerez.dll");
  template <class F>
  F at(const char *name) const {
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(dll, name)));
  }
  decltype(&OXT_init_get_files) init = at<decltype(init)>("OXT_init_get_files");
  decltype(&OXT_get_files) get = at<decltype(get)>("OXT_get_files");
  decltype(&OXT_delete_files) complete = at<decltype(complete)>("OXT_delete_files");
  decltype(&OXT_free_files) free_files = at<decltype(free_files)>("OXT_free_files");
  decltype(&OXT_free_get_files) free_get = at<decltype(free_get)>("OXT_free_get_files");
  decltype(&OXT_deinit_get_files) deinit = at<decltype(deinit)>("OXT_deinit_get_files");
  decltype(&OXT_store_file_ext) store = at<decltype(store)>("OXT_store_file_ext");
};

// ansi_write, ansi_read - a file named in the ANSI code page (1251), as the
// module names files; the C++ library's streams take narrow names otherwise
void ansi_write(const std::string &path, const std::string &content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE)
      << path << " error " << GetLastError() << " acp " << GetACP();
  DWORD put = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &put, nullptr);
  CloseHandle(file);
}

std::string ansi_read(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  char buffer[256];
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer, &got, nullptr);
  CloseHandle(file);
  return std::string(buffer, got);
}

// The .reg file an admin would import, in UTF-8: "Все" for every sender and name.
std::string configuration(const std::string &root) {
  std::string r;
  for (char c : root) r += c == '\\' ? std::string("\\\\") : std::string(1, c);
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZozerezDllTest";
  return "Windows Registry Editor Version 5.00\r\n\r\n" + key +
         "]\r\n\"InputFileRulezFlags\"=dword:00000000\r\n\"InnRulezFlags\"=dword:00000000\r\n"
         "\"OutRulezFlags\"=dword:00000000\r\n\"Filename\"=\"" +
         r +
         "\\\\state\"\r\n"
         "\"OutputMessageFlags\"=dword:00000000\r\n\"CertificateFlags\"=dword:00000000\r\n" +
         key + "\\OutputFileRulez]\r\n\"OutputRulezNum\"=dword:00000001\r\n" + key +
         "\\OutputFileRulez\\0]\r\n\"Path\"=\"" + r +
         "\\\\out\"\r\n\"DefaultSubject\"=\"File\"\r\n"
         "\"Type\"=dword:00000004\r\n\"Email\"=\"SMTP:gw@example.ru\"\r\n" +
         key +
         "\\OutputFileRulez\\0\\EmailList]\r\n\"EmailNum\"=dword:00000001\r\n"
         "\"0\"=\"SMTP:office@example.ru\"\r\n" +
         key + "\\InputFileRulez]\r\n\"InputRulezNum\"=dword:00000001\r\n" + key +
         "\\InputFileRulez\\0]\r\n\"Path\"=\"" + r +
         "\\\\in\"\r\n\"Email\"=\"Все\"\r\n"
         "\"FileMask\"=\"Все\"\r\n\"Type\"=dword:00000007\r\n";
}

TEST(Win32ModuleDll, CollectsCompletesAndStoresUnderACDrive) {
  Module module;
  ASSERT_NE(module.dll, nullptr) << "zozerez.dll or a library it imports is missing";
  ASSERT_NE(module.store, nullptr);
  TempDir dir;
  ASSERT_EQ(dir.path().rfind("C:\\", 0), 0u) << dir.path();
  for (const char *sub : {"out", "in", "state"}) make_dir(dir.posix(sub));
  write_file(dir.posix("gateway.reg"), configuration(dir.path()));
  char message[512] = "";
  ASSERT_EQ(roriv_register(dir.posix("gateway.reg").c_str(), message, sizeof message), 0u)
      << message;
  ASSERT_EQ(roriv_setup("", "SOFTWARE\\ZozerezDllTest"), 0u);
  const std::string log = dir.posix("events.log");
  roriv_set_log_file(log.c_str());

  const std::string report = "\xEE\xF2\xF7\xB8\xF2.txt";  // отчёт.txt
  ansi_write(dir.file("out\\" + report), "quarterly figures");
  GetFileCtx ctx{};
  ASSERT_EQ(module.init(&ctx), 0u);
  CCA_CONTEXT crypto = nullptr;
  OutgoingMessage msg{};
  ASSERT_EQ(module.get(&ctx, &crypto, &msg), 0u);
  ASSERT_EQ(msg.NumberFile, 1u);
  EXPECT_EQ(std::string(msg.File[0].Name), report);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(msg.File[0].Data), msg.File[0].Length),
            "quarterly figures");
  EXPECT_EQ(std::string(msg.File[0].PickupPath), dir.path() + "\\out\\" + report);
  ASSERT_EQ(msg.RecipientCount, 1u);
  EXPECT_STREQ(msg.Recipients[0].Address, "office@example.ru");
  EXPECT_EQ(names_in(dir.posix("out")).size(), 1u);  // under its working name
  EXPECT_EQ(module.complete(&ctx, &msg, 0, nullptr), 0);
  EXPECT_TRUE(names_in(dir.posix("out")).empty());
  module.free_files(&msg);
  module.free_get(&ctx);
  module.deinit(&ctx);

  const std::string incoming = "\xE2\xF5\xEE\xE4\xFF\xF9\xE8\xE9.txt";  // входящий.txt
  const std::string data = "an answer";
  IncomingMessage in{};
  in.Data = reinterpret_cast<const uint8_t *>(data.data());
  in.DataLength = static_cast<uint32_t>(data.size());
  in.FileName = incoming.c_str();
  in.SenderType = "SMTP";
  in.SenderAddress = "bank@example.ru";
  EXPECT_EQ(module.store(&in), 0) << read_file(log);
  EXPECT_EQ(ansi_read(dir.file("in\\" + incoming)), data);
  EXPECT_EQ(read_file(log), "");  // no event on the way
  roriv_set_log_file(nullptr);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZozerezDllTest");
}

}  // namespace
}  // namespace zz::test
