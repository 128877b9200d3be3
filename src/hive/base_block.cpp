#include "hive/base_block.h"

#include <cstring>

#include "hive/little_endian.h"

namespace hive {

BaseBlock parseBaseBlock(const std::uint8_t* block) {
  using namespace base_field;
  BaseBlock b;
  b.signature = std::memcmp(block, "regf", 4) == 0;
  b.primarySequence = le32(block + kPrimarySequence);
  b.secondarySequence = le32(block + kSecondarySequence);
  b.timestamp = le64(block + kTimestamp);
  b.major = le32(block + kMajor);
  b.minor = le32(block + kMinor);
  b.fileType = le32(block + kFileType);
  b.rootCell = le32(block + kRootCell);
  b.binsSize = le32(block + kBinsSize);
  b.clustering = le32(block + kClustering);
  b.checksum = le32(block + kChecksum);
  b.checksumValid = b.checksum == baseBlockChecksum(block);
  return b;
}

std::u16string embeddedFileName(const std::uint8_t* block) {
  using namespace base_field;
  std::u16string name;
  for (std::size_t at = kFileName; at < kFileNameEnd && (block[at] || block[at + 1]); at += 2) {
    name += static_cast<char16_t>(block[at] | block[at + 1] << 8);
  }
  return name;
}

std::uint32_t baseBlockChecksum(const std::uint8_t* block) {
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i < base_field::kChecksum; i += 4) checksum ^= le32(block + i);
  if (checksum == 0) return 1;
  if (checksum == 0xFFFFFFFF) return 0xFFFFFFFE;
  return checksum;
}

void storeBaseBlockChecksum(std::uint8_t* block) {
  putLe32(block + base_field::kChecksum, baseBlockChecksum(block));
}

}  // namespace hive
