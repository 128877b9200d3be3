#pragma once

// The base block that starts a hive file and each of its transaction logs:
// its layout, its checksum and the fields the reader and the log parser use.

#include <cstddef>
#include <cstdint>
#include <string>

namespace hive {

// The unit a hive's bins are sized in, and the size of its base block.
constexpr std::uint32_t kPageSize = 4096;
constexpr std::size_t kBaseBlockSize = kPageSize;
// Hive bins start after the base block; cell and page offsets count from here.
constexpr std::uint64_t kBinsStart = 0x1000;

// A size of hive bins (a base block's, a log entry's, a bin's own) is a whole number of pages.
constexpr bool isWholePages(std::uint64_t size) { return size != 0 && size % kPageSize == 0; }

// File types: a primary file, a log in the old format (1, or 2 as Windows
// Vista and 7 are said to write in .LOG1/.LOG2), and a log in the new one.
constexpr std::uint32_t kPrimaryFile = 0;
constexpr std::uint32_t kNewFormatLog = 6;

// Byte offsets of the fields within the base block.
namespace base_field {
constexpr std::size_t kPrimarySequence = 4;
constexpr std::size_t kSecondarySequence = 8;
constexpr std::size_t kTimestamp = 12;
constexpr std::size_t kMajor = 20;
constexpr std::size_t kMinor = 24;
constexpr std::size_t kFileType = 28;
constexpr std::size_t kRootCell = 36;
constexpr std::size_t kBinsSize = 40;
constexpr std::size_t kClustering = 44;
constexpr std::size_t kFileName = 48;  // 64 bytes of UTF-16LE
constexpr std::size_t kFileNameEnd = 112;
constexpr std::size_t kChecksum = 508;
}  // namespace base_field

// The fields of a base block, read from its first 512 bytes (all a log keeps).
struct BaseBlock {
  bool signature = false;  // starts with "regf"
  std::uint32_t primarySequence = 0;
  std::uint32_t secondarySequence = 0;
  std::uint64_t timestamp = 0;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t fileType = 0;
  std::uint32_t rootCell = 0;
  std::uint32_t binsSize = 0;
  std::uint32_t clustering = 0;
  std::uint32_t checksum = 0;  // as stored
  bool checksumValid = false;  // the stored checksum is the one its bytes give
};

BaseBlock parseBaseBlock(const std::uint8_t* block);

// The file name the block keeps (UTF-16LE, up to its first NUL); may be empty.
std::u16string embeddedFileName(const std::uint8_t* block);

// XOR-32 of the first 508 bytes; 0 is kept as 1 and 0xFFFFFFFF as 0xFFFFFFFE.
std::uint32_t baseBlockChecksum(const std::uint8_t* block);

// Stores the checksum of the block's first 508 bytes at 508.
void storeBaseBlockChecksum(std::uint8_t* block);

}  // namespace hive
