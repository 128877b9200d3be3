#pragma once

// The hive as its logs recover it: logged sectors laid over the primary
// file's bytes, whose own bytes are read only where no log holds the sector.

#include <cstddef>
#include <cstdint>
#include <map>
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
  // `length` is a whole number of sectors, at a sector boundary of the file.
  void putSectors(std::uint64_t fileOffset, const std::uint8_t* data, std::size_t length);

  std::uint64_t size() const override { return size_; }
  ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override;

 private:
  std::unique_ptr<ByteSource> primary_;
  std::uint8_t base_[kBaseBlockSize];
  std::map<std::uint64_t, std::size_t> sectors_;  // file offset / 512 → in pages_
  std::vector<std::uint8_t> pages_;
  std::uint64_t size_;
};

}  // namespace hive
