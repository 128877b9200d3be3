#pragma once

// A hive bin: its 32-byte header at a page boundary, then cells, each a
// 4-byte size (negative when in use, a multiple of 8, including itself) and
// its payload.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hive/base_block.h"
#include "hive/little_endian.h"

namespace hive {

constexpr std::size_t kBinHeaderSize = 32;
// Cells are addressed by their offset from kBinsStart; this one means none.
constexpr std::uint32_t kNoCell = 0xFFFFFFFF;
constexpr std::uint32_t kCellAlignment = 8;

// Byte offsets of the fields within a bin header.
namespace bin_field {
constexpr std::size_t kOffset = 4;  // the bin's own position, from kBinsStart
constexpr std::size_t kSize = 8;
constexpr std::size_t kTimestamp = 20;  // the first bin's keeps the base block's
}  // namespace bin_field

struct BinHeader {
  bool signature = false;  // starts with "hbin"
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

inline BinHeader parseBinHeader(const std::uint8_t* header) {
  return BinHeader{std::memcmp(header, "hbin", 4) == 0, le32(header + bin_field::kOffset),
                   le32(header + bin_field::kSize)};
}

// A header counts only when its offset field names its own position
// (`fileOffset`) and its size is whole pages within the hive bins.
enum class BinFault { none, misplaced, notWholePages, pastBinsEnd };
inline BinFault binFault(const BinHeader& header, std::uint64_t fileOffset, std::uint64_t binsEnd) {
  if (header.offset != fileOffset - kBinsStart) return BinFault::misplaced;
  if (!isWholePages(header.size)) return BinFault::notWholePages;
  if (fileOffset + header.size > binsEnd) return BinFault::pastBinsEnd;
  return BinFault::none;
}

}  // namespace hive
