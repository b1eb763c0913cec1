// standalone_main.cpp - runs a fuzz target over every file of its corpus
// directories, so that the corpus is also an ordinary test of every build.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    DIR *dir = opendir(argv[i]);
    if (dir == nullptr) {
      std::fprintf(stderr, "cannot open corpus %s\n", argv[i]);
      return 1;
    }
    while (struct dirent *entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream in(std::string(argv[i]) + "/" + entry->d_name, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++files;
    }
    closedir(dir);
  }
  std::printf("%d corpus inputs ran\n", files);
  return files > 0 ? 0 : 1;
}
