// Reads COUNT damaged copies of a disk image in this one process, as
// tamsket-cli --image reads one: 1 to 8 random bytes of a region (the regions
// taken in turn) are changed in the file, its hives looked up, and the bytes
// put back. Prints how many lookups ended how.
//
//   image_mutations IMAGE COUNT SEED START:LENGTH ...
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "hive/folder.h"
#include "image/disk_image.h"

namespace {

std::string lookUp(const std::string& path) {
  image::ImageHives contents = image::findSoftwareHives(path, path);
  if (!contents) return "failure " + std::to_string(static_cast<int>(contents.error().failure));
  std::string outcome;
  for (const image::VolumeFailure& volume : contents.value().failures) {
    outcome = "volume failure " + std::to_string(static_cast<int>(volume.failure));
  }
  for (image::FoundHive& found : contents.value().hives) {
    auto opened = hive::Hive::openIn(*found.folder, found.name);
    auto key = opened ? opened.value().findKey("Microsoft\\Exchange\\Setup") : opened.error();
    auto value = key ? opened.value().readValue(key.value(), "DigitalProductId") : key.error();
    outcome = value ? "found" : hive::errorCodeName(value.error().code);
  }
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  std::mt19937_64 random(std::strtoull(argv[3], nullptr, 10));
  std::vector<std::pair<long, long>> regions;
  for (int i = 4; i < argc; ++i) {
    char* colon = nullptr;
    const long start = std::strtol(argv[i], &colon, 10);
    regions.emplace_back(start, std::strtol(colon + 1, nullptr, 10));
  }
  std::FILE* file = std::fopen(argv[1], "r+b");
  if (!file) return 2;
  std::map<std::string, int> outcomes;
  for (int i = 0; i < std::atoi(argv[2]); ++i) {
    const auto& [start, length] = regions[i % regions.size()];
    std::vector<std::pair<long, int>> changed;  // where, and the byte that was there
    for (int n = 1 + static_cast<int>(random() % 8); n > 0; --n) {
      const long at = start + static_cast<long>(random() % length);
      std::fseek(file, at, SEEK_SET);
      changed.emplace_back(at, std::fgetc(file));
      std::fseek(file, at, SEEK_SET);
      std::fputc(static_cast<int>(random() % 256), file);
    }
    std::fflush(file);
    ++outcomes[lookUp(argv[1])];
    for (auto it = changed.rbegin(); it != changed.rend(); ++it) {
      std::fseek(file, it->first, SEEK_SET);
      std::fputc(it->second, file);
    }
    std::fflush(file);
  }
  std::fclose(file);
  for (const auto& [outcome, n] : outcomes) std::printf("%5d  %s\n", n, outcome.c_str());
  return 0;
}
