// collect_bench.cpp - the outgoing cycle (OXT_get_files, OXT_delete_files
// with status 0, OXT_free_files) draining loose 4 KiB files from one rule
// directory, with the project's roriv reading a .reg store, against the
// floor of the same system work done directly: per file, open the directory
// and read its first entries (one getdents64 of 2 KiB), open and read the
// file, rename it to a unique name without replacing, unlink it. Module and
// floor take turns in chunks. Then a directory of 10,000 files all held back
// by the skip list: one collection call that finds nothing new against one
// listing of the directory.
// Usage: collect_bench [DIR] [--large]   (DIR: /dev/shm for tmpfs, or a disk;
// HELD_BACK=N holds back N files instead of 10,000)
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "roriv/roriv.h"
#include "zozerez.h"

namespace {

constexpr const char *kUsage = "[DIR] [--large]";

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
bool floor_one(const std::string &dir, int serial) {
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  alignas(8) char entries[2048];
  const long n = syscall(SYS_getdents64, dfd, entries, sizeof entries);
  close(dfd);
  std::string name;
  for (long at = 0; at < n;) {
    const auto *e = reinterpret_cast<const struct dirent64 *>(entries + at);
    if (e->d_name[0] != '.') {
      name = e->d_name;
      break;
    }
    at += e->d_reclen;
  }
  if (name.empty()) return false;
  const std::string path = dir + "/" + name;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4097];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
  close(fd);
  const std::string work = dir + "/.work" + std::to_string(serial);
  return renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, work.c_str(), RENAME_NOREPLACE) == 0 &&
         unlink(work.c_str()) == 0;
}

struct Cycle {
  int files;
  double module_seconds;
  double floor_seconds;
};

bool cycle(const std::string &base, int files, Cycle *out) {
  zz::bench::Scratch scratch(base);
  const std::string root = scratch.path();
  std::system(("mkdir -p " + root + "/out " + root + "/floor").c_str());
  if (roriv_setup(store_file(root).c_str(), "") != 0) return false;
  const std::string content(4096, 'x');
  fill(root + "/out", files, content);
  fill(root + "/floor", files, content);

  GetFileCtx ctx{};
  if (OXT_init_get_files(&ctx) != 0) return false;
  constexpr int kChunk = 250;
  *out = Cycle{files, 0, 0};
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
    out->module_seconds += zz::bench::seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
      if (!floor_one(root + "/floor", done + i)) return false;
    }
    out->floor_seconds += zz::bench::seconds_since(start);
  }
  OXT_deinit_get_files(&ctx);
  zz::bench::report("outgoing cycle, one rule directory (4 KiB each)", files, out->module_seconds,
                    out->floor_seconds, 1.5);
  return true;
}

// list_once - one listing of the whole directory, as a scan must do
int list_once(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  int n = 0;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

// held_back - every file put back once (a send that failed for the moment),
// then calls that find nothing new, against listings of the same directory
bool held_back(const std::string &base, int files) {
  zz::bench::Scratch scratch(base);
  const std::string root = scratch.path();
  std::system(("mkdir -p " + root + "/out").c_str());
  if (roriv_setup(store_file(root).c_str(), "") != 0) return false;
  fill(root + "/out", files, std::string(4096, 'x'));
  GetFileCtx ctx{};
  if (OXT_init_get_files(&ctx) != 0) return false;
  for (int i = 0; i < files; ++i) {
    OutgoingMessage msg{};
    if (OXT_get_files(&ctx, nullptr, &msg) != 0 || OXT_delete_files(&ctx, &msg, 1, "") != 0) {
      return false;
    }
    OXT_free_files(&msg);
  }
  constexpr int kRounds = 20;
  double module_seconds = 0;
  double floor_seconds = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    OutgoingMessage msg{};
    if (OXT_get_files(&ctx, nullptr, &msg) != 1) return false;
    module_seconds += zz::bench::seconds_since(start);
    start = std::chrono::steady_clock::now();
    if (list_once(root + "/out") != files + 2) return false;
    floor_seconds += zz::bench::seconds_since(start);
  }
  OXT_free_get_files(&ctx);
  OXT_deinit_get_files(&ctx);
  std::printf(
      "a call that finds nothing new, %d files held back\n  module %10.0f us\n"
      "  listing %9.0f us\n  ratio  %10.2f (goal <= 2.0) %s\n",
      files, module_seconds / kRounds * 1e6, floor_seconds / kRounds * 1e6,
      module_seconds / floor_seconds, module_seconds / floor_seconds <= 2.0 ? "ok" : "MISSED");
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::string base = zz::bench::base_directory(argc, argv, kUsage);
  std::vector<int> sizes = {1000, 10000};
  if (zz::bench::has_flag(argc, argv, "--large")) sizes.push_back(100000);
  std::vector<Cycle> cycles;
  for (int files : sizes) {
    Cycle c{};
    if (!cycle(base, files, &c)) return 1;
    cycles.push_back(c);
  }
  const double per_file_first = cycles.front().module_seconds / cycles.front().files;
  for (size_t i = 1; i < cycles.size(); ++i) {
    const double growth = cycles[i].module_seconds / cycles[i].files / per_file_first;
    std::printf("cost per file at %d over that at %d: %.2f (goal <= 1.1) %s\n", cycles[i].files,
                cycles.front().files, growth, growth <= 1.1 ? "ok" : "MISSED");
  }
  const char *held = std::getenv("HELD_BACK");  // files held back (10000)
  return held_back(base, held != nullptr ? std::atoi(held) : 10000) ? 0 : 1;
}
