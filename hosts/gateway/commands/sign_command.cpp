// sign_command.cpp - the signing tools: sign every file of a send directory
// into its signature list (appending when the list exists, so several
// signers can sign in turn), verify a send directory as the module's
// signature check does, file by file, and list the certificate directory.
#include "gateway/commands/sign_command.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#include "gateway/base/console.h"
#include "gateway/base/module_files.h"
#include "gateway/mail/signature_list.h"
#include "vudo/vudo.h"
#include "zozerez_host.h"

namespace zz::gateway {
namespace {

constexpr const char kDescriptor[] = "olminfo.txt";

std::string reason() {
  char text[512];
  vudo_last_reason(text, sizeof text);
  return text;
}

bool read_bytes(const std::string &path, std::string *out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

CCA_BUFFER buffer(const std::string &bytes) {
  return CCA_BUFFER{reinterpret_cast<uint8_t *>(const_cast<char *>(bytes.data())),
                    static_cast<uint32_t>(bytes.size())};
}

// signed_files - the files a send directory sends: plain files other than its
// descriptor, its signature list and names under claim, sorted
std::vector<std::string> signed_files(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent *e = ::readdir(d)) {
    const std::string name = e->d_name;
    struct stat st;
    if (::lstat((dir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (strcasecmp(name.c_str(), kDescriptor) == 0 || is_signature_list(name)) continue;
    if (is_work_name(name)) continue;
    names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool digest_of(const std::string &bytes, std::string *text) {
  CCA_BUFFER data = buffer(bytes), digest{};
  if (CCA_hash_mem(nullptr, &data, &digest) != 0) return false;
  *text = digest_text(digest.Data, digest.Length);
  CCA_free(nullptr, digest.Data);
  return true;
}

// verdict - the module's checks of one file against one entry; "" when valid
std::string verdict(const std::string &bytes, const SignatureEntry &e) {
  CCA_BUFFER sign = buffer(e.signature), data = buffer(bytes);
  void *serial = nullptr;
  if (CCA_sender_signed_data(nullptr, &sign, &serial, nullptr) != 0) return reason();
  void *cert = nullptr;
  const uint32_t type = strcasecmp(e.address_type.c_str(), "EX") == 0 ? 0 : 1;
  const uint32_t found = CCA_find_cert_by_serial(nullptr, 1, serial, &cert, type,
                                                 e.address.empty() ? nullptr : e.address.c_str());
  CCA_serial_free(nullptr, serial);
  if (found != 0) return reason();
  CCA_CHECK check{};
  const uint32_t checked = CCA_check_mem_sep(nullptr, &data, &sign, cert, &check);
  CCA_cert_free(nullptr, check.Cert);
  CCA_cert_free(nullptr, cert);
  if (checked != 0 || check.Status != 0) return reason();
  return "";
}

}  // namespace

int run_sign(const CommandLine &cl) {
  if (!open_store(cl.config, cl.key)) return CommandLine::kFailed;
  const SignOptions &o = cl.sign;
  vudo_signer *signer = vudo_signer_open(o.key.c_str(), o.cert.c_str());
  if (signer == nullptr) {
    std::cerr << "zozerez-gateway sign: " << reason() << "\n";
    return CommandLine::kFailed;
  }
  char cn[256], email[256];
  vudo_signer_name(signer, cn, sizeof cn, email, sizeof email);
  SignatureEntry e;
  if (!cp1251(o.name.empty() ? cn : o.name, &e.signer) || e.signer.empty()) {
    std::cerr << "zozerez-gateway sign: the signer's name cannot be written in code page 1251; "
                 "give --name\n";
    vudo_signer_close(signer);
    return CommandLine::kFailed;
  }
  e.address = o.address.empty() ? email : o.address;
  e.address_type = e.address.empty() ? "" : "SMTP";
  std::string list;
  int signed_count = 0;
  for (const std::string &name : signed_files(o.dir)) {
    std::string bytes, error;
    CCA_BUFFER signature{};
    if (!read_bytes(o.dir + "/" + name, &bytes) || !digest_of(bytes, &e.hash)) {
      std::cerr << "zozerez-gateway sign: cannot read or digest " << utf8(o.dir + "/" + name)
                << "\n";
      vudo_signer_close(signer);
      return CommandLine::kFailed;
    }
    const CCA_BUFFER content = buffer(bytes);
    if (vudo_sign(signer, &content, &signature) != 0) {
      std::cerr << "zozerez-gateway sign: " << utf8(name) << ": " << reason() << "\n";
      vudo_signer_close(signer);
      return CommandLine::kFailed;
    }
    e.file = name;
    e.signature.assign(reinterpret_cast<const char *>(signature.Data), signature.Length);
    CCA_free(nullptr, signature.Data);
    list += entry_text(e);
    ++signed_count;
  }
  vudo_signer_close(signer);
  // Appended whole, after every signature was made: a failure leaves the list as it was.
  std::ofstream out(o.dir + "/" + kSignatureList, std::ios::binary | std::ios::app);
  if (!(out << list) || !out.flush()) {
    std::cerr << "zozerez-gateway sign: cannot write " << utf8(o.dir) << "/" << kSignatureList
              << "\n";
    return CommandLine::kFailed;
  }
  std::cout << "signed " << signed_count << (signed_count == 1 ? " file" : " files") << " in "
            << utf8(o.dir) << " as " << utf8(e.signer) << "\n";
  return CommandLine::kDone;
}

int run_verify(const CommandLine &cl) {
  if (!open_store(cl.config, cl.key)) return CommandLine::kFailed;
  const std::string &dir = cl.verify_dir;
  std::string bytes, error;
  std::vector<SignatureEntry> entries;
  if (!read_bytes(dir + "/" + kSignatureList, &bytes)) {
    std::cout << utf8(dir) << ": no " << kSignatureList << "\n";
    return CommandLine::kFailed;
  }
  if (!parse_signature_list(bytes, &entries, &error)) {
    std::cout << utf8(dir) << "/" << kSignatureList << ": " << error << "\n";
    return CommandLine::kFailed;
  }
  bool all = true;
  for (const std::string &name : signed_files(dir)) {
    std::string content, hash;
    if (!read_bytes(dir + "/" + name, &content) || !digest_of(content, &hash)) {
      std::cout << utf8(name) << ": cannot read or digest it\n";
      all = false;
      continue;
    }
    // The first entry of this name whose digest matches, as the module takes it.
    const SignatureEntry *entry = nullptr;
    for (const SignatureEntry &e : entries) {
      if (same_file_name(e.file, name) && strcasecmp(e.hash.c_str(), hash.c_str()) == 0) {
        entry = &e;
        break;
      }
    }
    const std::string why =
        entry == nullptr ? "no entry with its name and digest" : verdict(content, *entry);
    all = all && why.empty();
    std::cout << utf8(name) << ": "
              << (why.empty() ? "valid, signed by " + utf8(entry->signer) : why) << "\n";
  }
  return all ? CommandLine::kDone : CommandLine::kFailed;
}

int run_certs(const CommandLine &cl) {
  if (!open_store(cl.config, cl.key)) return CommandLine::kFailed;
  int count = 0;
  auto visit = [](void *user, const char *subject, const char *email, const char *serial,
                  const char *not_after, int trusted) {
    ++*static_cast<int *>(user);
    std::cout << subject << "\n  e-mail:  " << (*email != '\0' ? email : "(none)")
              << "\n  serial:  " << serial << "\n  expires: " << not_after
              << "\n  trusted: " << (trusted ? "yes" : "no") << "\n";
  };
  if (vudo_each_certificate(visit, &count) != 0) {
    std::cerr << "zozerez-gateway certs: " << reason() << "\n";
    return CommandLine::kFailed;
  }
  std::cout << count << (count == 1 ? " certificate" : " certificates") << "\n";
  return CommandLine::kDone;
}

}  // namespace zz::gateway
