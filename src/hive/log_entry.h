#pragma once

// The records of a transaction log after its base block's first sector: a
// new-format log entry ("HvLE") and an old-format dirty vector ("DIRT").

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hive/little_endian.h"

namespace hive {

// Logs are written in sectors; entries and dirty data start at their boundaries.
constexpr std::size_t kSector = 512;

// Byte offsets of the fields within a log entry ("HvLE" at 0).
namespace entry_field {
constexpr std::size_t kSize = 4;  // the whole entry's
constexpr std::size_t kSequence = 12;
constexpr std::size_t kBinsSize = 16;
constexpr std::size_t kPageCount = 20;
constexpr std::size_t kDataHash = 24;    // Marvin32 of the entry from kPages on
constexpr std::size_t kHeaderHash = 32;  // Marvin32 of its first kHeaderHashed bytes
constexpr std::size_t kHeaderHashed = 32;
constexpr std::size_t kPages = 40;  // (offset, size) per page, then the pages
}  // namespace entry_field
constexpr std::size_t kPageRefSize = 8;

struct EntryHeader {
  bool signature = false;  // starts with "HvLE"
  std::uint32_t size = 0;
  std::uint32_t sequence = 0;
  std::uint32_t binsSize = 0;
  std::uint32_t pageCount = 0;
  std::uint64_t dataHash = 0;
  std::uint64_t headerHash = 0;
};

inline EntryHeader parseEntryHeader(const std::uint8_t* h) {
  using namespace entry_field;
  return EntryHeader{std::memcmp(h, "HvLE", 4) == 0,
                     le32(h + kSize),
                     le32(h + kSequence),
                     le32(h + kBinsSize),
                     le32(h + kPageCount),
                     le64(h + kDataHash),
                     le64(h + kHeaderHash)};
}

// A logged page: where it goes, from kBinsStart, and its length.
struct PageRef {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

inline PageRef pageRef(const std::uint8_t* entry, std::uint32_t i) {
  const std::uint8_t* ref = entry + entry_field::kPages + kPageRefSize * i;
  return PageRef{le32(ref), le32(ref + 4)};
}

// The old format's dirty vector, at the log's second sector (times its
// clustering factor): "DIRT", then one bit per sector of the hive bins.
constexpr std::size_t kDirtyBitmap = 4;

}  // namespace hive
