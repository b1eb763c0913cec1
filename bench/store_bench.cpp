// store_bench.cpp - OXT_store_file_ext storing 4 KiB files through 20 input
// rules of which only the last takes them, against the floor of the same
// files written directly with the calls a stored file needs (open, the
// exclusive lock, write, fdatasync, close), in the same run and in the same
// directory tree; the same writes without the lock are timed alongside. The
// module runs with the real roriv reading a .reg store, as a host would load it.
// Usage: store_bench [DIR] [--large]   (DIR: /dev/shm for tmpfs, or a disk)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_util.h"
#include "roriv/roriv.h"
#include "zozerez.h"

namespace {

constexpr int kRules = 20;

std::string store_file(const std::string &root) {
  std::string reg =
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench]\r\n"
      "\"InputFileRulezFlags\"=dword:00000000\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\InputFileRulez]\r\n"
      "\"InputRulezNum\"=dword:00000014\r\n";
  for (int n = 0; n < kRules; ++n) {
    const bool last = n == kRules - 1;
    reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\InputFileRulez\\" + std::to_string(n) + "]\r\n";
    reg += "\"Path\"=\"" + root + "/in\"\r\n";
    reg += std::string("\"Email\"=\"") + (last ? "*@bank.example" : "*@other" + std::to_string(n)) +
           "\"\r\n";
    reg += "\"FileMask\"=\"*.dat\"\r\n\"Type\"=dword:00000007\r\n";
  }
  const std::string path = root + "/bench.reg";
  std::ofstream(path, std::ios::binary) << reg;
  return path;
}

}  // namespace

int main(int argc, char **argv) {
  const std::string base = zz::bench::base_directory(argc, argv, "[DIR] [--large]");
  const int files = zz::bench::has_flag(argc, argv, "--large") ? 100000 : 10000;
  zz::bench::Scratch scratch(base);
  const std::string root = scratch.path();
  std::system(("mkdir -p " + root + "/in " + root + "/floor " + root + "/locked").c_str());
  if (roriv_setup(store_file(root).c_str(), "") != 0) {
    std::fprintf(stderr, "the bench store was refused\n");
    return 1;
  }
  const std::string content(4096, 'x');
  IncomingMessage msg{};
  msg.Data = reinterpret_cast<const uint8_t *>(content.data());
  msg.DataLength = static_cast<uint32_t>(content.size());
  msg.SenderType = "SMTP";
  msg.SenderAddress = "ivan@bank.example";

  // Module and floor take turns in chunks, so that a disk that slows down or
  // speeds up during the run weighs on both alike.
  constexpr int kChunk = 250;
  double module_seconds = 0;
  double floor_seconds = 0;
  double locked_seconds = 0;
  for (int first = 0; first < files; first += kChunk) {
    const int last = first + kChunk < files ? first + kChunk : files;
    auto start = std::chrono::steady_clock::now();
    for (int i = first; i < last; ++i) {
      const std::string name = "file" + std::to_string(i) + ".dat";
      msg.FileName = name.c_str();
      if (OXT_store_file_ext(&msg) != 0) {
        std::fprintf(stderr, "store %d failed\n", i);
        return 1;
      }
    }
    module_seconds += zz::bench::seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (int i = first; i < last; ++i) {
      if (!zz::bench::write_direct(root + "/floor/file" + std::to_string(i) + ".dat", content)) {
        return 1;
      }
    }
    floor_seconds += zz::bench::seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (int i = first; i < last; ++i) {
      if (!zz::bench::write_direct(root + "/locked/file" + std::to_string(i) + ".dat", content,
                                   true)) {
        return 1;
      }
    }
    locked_seconds += zz::bench::seconds_since(start);
  }
  // The store creates its file with an exclusive open, which on POSIX is the
  // open and then the lock (so that a collection of the same directory never
  // takes a file half-written): the floor takes the lock too.
  zz::bench::report("store through 20 input rules (4 KiB each)", files, module_seconds,
                    locked_seconds, 1.5);
  std::printf(
      "  the same writes without the lock take %.2f of the floor, the module %.2f of them\n",
      floor_seconds / locked_seconds, module_seconds / floor_seconds);
  return 0;
}
