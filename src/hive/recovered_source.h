#pragma once

// The hive as its logs recover it: logged sectors laid over the primary
// file's bytes, whose own bytes are read only where no log holds the sector.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "hive/base_block.h"
#include "hive/hive.h"

namespace hive {

class RecoveredSource : public ByteSource {
 public:
  RecoveredSource(std::unique_ptr<ByteSource> primary, const std::uint8_t* base);
  std::uint8_t* base() { return base_; }
  void setBinsSize(std::uint32_t binsSize);
  // Takes a log's base block (its first sector) as the hive's, as a primary file's.
  void adoptBaseBlock(const std::uint8_t* logSector, std::uint32_t binsSize);
  // Keeps logged bytes as they were read, for putSectors to point into:
  // nothing logged is copied again.
  const std::uint8_t* hold(std::vector<std::uint8_t> bytes);
  // Lays `length` held bytes (whole sectors) over the file at `fileOffset`,
  // a sector boundary; a sector laid again takes the later bytes.
  void putSectors(std::uint64_t fileOffset, const std::uint8_t* held, std::size_t length);

  std::uint64_t size() const override { return size_; }
  ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override;

 private:
  struct Logged {
    std::uint64_t sector;  // file offset / 512
    std::size_t order;     // laid later wins
    const std::uint8_t* bytes;
  };
  // The logged sector at `sector`, or null.
  const std::uint8_t* logged(std::uint64_t sector) const;

  std::unique_ptr<ByteSource> primary_;
  std::uint8_t base_[kBaseBlockSize];
  std::vector<std::vector<std::uint8_t>> held_;
  // Sorted by sector, the last laid of each kept, on the first read after a put.
  mutable std::vector<Logged> sectors_;
  mutable bool sorted_ = true;
  std::uint64_t size_;
};

}  // namespace hive
