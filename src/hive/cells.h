#pragma once

// Cells of a hive read from its source: each checked to lie in a sound bin
// within the hive bins before it is used. Offsets in error messages are file
// offsets, as a hex editor shows them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hive/hive.h"

namespace hive {

std::string hex(std::uint64_t v);
std::string bytes(std::uint64_t n);
Error corruptAt(const char* what, std::uint64_t fileOffset, const std::string& why);
// "not a whole number of 4096-byte pages"
std::string notWholePages();

// Where a cell's payload lies in the file, and how many bytes it holds.
struct Cell {
  std::uint64_t pos = 0;
  std::uint32_t size = 0;
  std::uint64_t at() const { return pos - 4; }  // the cell itself, for messages
};

struct Bin {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

class CellReader {
 public:
  std::unique_ptr<ByteSource> source;
  std::uint64_t binsEnd = 0;
  std::uint32_t binsSize = 0;

  std::optional<Error> readAt(std::uint64_t pos, void* out, std::size_t length) const;
  // The cell at `offset` (from kBinsStart), in use and within its bin; `what` names it in errors.
  Result<Cell> cell(std::uint32_t offset, const char* what) const;

  // The last bins found: the cells of one lookup mostly share a few bins.
  mutable Bin recentBins[8];
  mutable unsigned nextBin = 0;
};

}  // namespace hive
