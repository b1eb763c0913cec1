// collect_bench.cpp - the outgoing cycle (OXT_get_files, OXT_delete_files
// with status 0, OXT_free_files) draining loose 4 KiB files from one rule
// directory, against the floor of the same system work done directly: per
// file, open the directory and read its first entries, open and read the
// file, rename it, unlink it. Module and floor take turns in chunks.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "roriv/roriv.h"
#include "zozerez.h"

namespace {

std::string store_file(const std::string &root) {
  const std::string reg =
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench]\r\n"
      "\"OutputMessageFlags\"=dword:00000000\r\n\"CertificateFlags\"=dword:00000000\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\OutputFileRulez]\r\n"
      "\"OutputRulezNum\"=dword:00000001\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\OutputFileRulez\\0]\r\n"
      "\"Path\"=\"" +
      root +
      "/out\"\r\n\"DefaultSubject\"=\"Bench\"\r\n"
      "\"Type\"=dword:00000004\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\OutputFileRulez\\0\\EmailList]\r\n"
      "\"EmailNum\"=dword:00000001\r\n\"0\"=\"SMTP:to@example.org\"\r\n";
  const std::string path = root + "/bench.reg";
  std::ofstream(path, std::ios::binary) << reg;
  return path;
}

void fill(const std::string &dir, int files, const std::string &content) {
  for (int i = 0; i < files; ++i) {
    std::ofstream(dir + "/file" + std::to_string(i) + ".dat", std::ios::binary) << content;
  }
}

// floor_one - what taking one loose file costs the system at least
bool floor_one(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return false;
  std::string name;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    name = e->d_name;
    break;
  }
  closedir(d);
  if (name.empty()) return false;
  const std::string path = dir + "/" + name;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<char> buffer(8192);
  while (read(fd, buffer.data(), buffer.size()) > 0) {
  }
  close(fd);
  const std::string work = dir + "/.work";
  return rename(path.c_str(), work.c_str()) == 0 && unlink(work.c_str()) == 0;
}

bool run(int files) {
  zz::bench::Scratch scratch;
  const std::string root = scratch.path();
  std::system(("mkdir -p " + root + "/out " + root + "/floor").c_str());
  if (roriv_setup(store_file(root).c_str(), "") != 0) return false;
  const std::string content(4096, 'x');
  fill(root + "/out", files, content);
  fill(root + "/floor", files, content);

  GetFileCtx ctx{};
  if (OXT_init_get_files(&ctx) != 0) return false;
  constexpr int kChunk = 250;
  double module_seconds = 0;
  double floor_seconds = 0;
  for (int done = 0; done < files; done += kChunk) {
    const int n = done + kChunk < files ? kChunk : files - done;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
      OutgoingMessage msg{};
      if (OXT_get_files(&ctx, nullptr, &msg) != 0 || OXT_delete_files(&ctx, &msg, 0, "H") != 0) {
        std::fprintf(stderr, "the cycle failed after %d files\n", done + i);
        return false;
      }
      OXT_free_files(&msg);
    }
    module_seconds += zz::bench::seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
      if (!floor_one(root + "/floor")) return false;
    }
    floor_seconds += zz::bench::seconds_since(start);
  }
  OXT_deinit_get_files(&ctx);
  zz::bench::report("outgoing cycle, one rule directory (4 KiB each)", files, module_seconds,
                    floor_seconds, 2.0);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1) return run(std::atoi(argv[1])) ? 0 : 1;
  return run(1000) && run(10000) ? 0 : 1;
}
