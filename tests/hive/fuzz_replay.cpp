// Runs the fuzz target over saved inputs (the minimised corpus and any
// crasher), so every test run replays them under ASan and UBSan.
#include <dirent.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int replay(const std::string& path) {
  if (DIR* dir = opendir(path.c_str())) {
    int count = 0;
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      count += replay(path + "/" + entry->d_name);
    }
    closedir(dir);
    return count;
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) count += replay(argv[i]);
  std::printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
