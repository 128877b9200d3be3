#include "hive/cells.h"

#include "hive/base_block.h"
#include "hive/hive_bin.h"
#include "hive/little_endian.h"
#include "text/text.h"

namespace hive {

namespace {

// How far back from a cell the start of its bin is searched for: bins larger
// than this are not read (Windows splits large data into big-data segments).
constexpr std::uint64_t kMaxBinPages = 16384;  // 64 MiB

// Bins start at 4 KiB boundaries: the bin holding `at` is the nearest valid
// "hbin" header at or before it. A header counts only when its offset field
// names its own position and its size is whole pages within the hive bins.
Result<Bin> findBin(const CellReader& file, std::uint64_t at, const char* what) {
  for (const Bin& b : file.recentBins) {
    if (b.end && at >= b.start + kBinHeaderSize && at < b.end) return b;
  }
  std::string damagedHeader;
  std::uint64_t page = at & ~std::uint64_t{0xFFF};
  for (std::uint64_t steps = 0; page >= kBinsStart && steps < kMaxBinPages;
       ++steps, page -= kPageSize) {
    std::uint8_t h[kBinHeaderSize];
    if (auto e = file.readAt(page, h, sizeof h)) return *e;
    const BinHeader header = parseBinHeader(h);
    if (!header.signature) continue;
    const std::uint32_t size = header.size;
    std::string why;
    switch (binFault(header, page, file.binsEnd)) {
      case BinFault::none: break;
      case BinFault::misplaced:
        why = "its offset field is " + hex(header.offset) + " instead of " + hex(page - kBinsStart);
        break;
      case BinFault::notWholePages: why = "its size " + hex(size) + " is " + notWholePages(); break;
      case BinFault::pastBinsEnd:
        why =
            "its size " + hex(size) + " runs past the end of the hive bins at " + hex(file.binsEnd);
        break;
    }
    if (!why.empty()) {
      // Data inside a large bin can look like a header; look further back.
      if (damagedHeader.empty()) {
        damagedHeader = corruptAt("hive bin", page, why).message;
      }
      continue;
    }
    if (at < page + kBinHeaderSize) {
      return corruptAt(what, at, "it lies inside the header of the hive bin at " + hex(page));
    }
    if (at >= page + size) break;
    Bin found{page, page + size};
    file.recentBins[file.nextBin++ % 8] = found;
    return found;
  }
  if (!damagedHeader.empty()) return Error{ErrorCode::corrupt, damagedHeader};
  return corruptAt(what, at, "it lies in no valid hive bin");
}

}  // namespace

std::string hex(std::uint64_t v) { return text::hexText(v); }

Error corruptAt(const char* what, std::uint64_t fileOffset, const std::string& why) {
  return Error{ErrorCode::corrupt,
               std::string("corrupt ") + what + " at offset " + hex(fileOffset) + ": " + why};
}

std::string bytes(std::uint64_t n) { return std::to_string(n) + " bytes"; }

std::string notWholePages() {
  return "not a whole number of " + std::to_string(kPageSize) + "-byte pages";
}

// A read that does not fill its buffer is the file having shrunk since it
// was opened (`truncated`), or the system failing it (`readError`).
std::optional<Error> CellReader::readAt(std::uint64_t pos, void* out, std::size_t length) const {
  const ReadStatus status = source->read(pos, out, length);
  if (status.outcome == ReadStatus::Outcome::complete) return std::nullopt;
  const std::string what = "cannot read " + bytes(length) + " at offset " + hex(pos) + ": ";
  if (status.outcome == ReadStatus::Outcome::pastEnd) {
    return Error{ErrorCode::truncated, what + "the file is shorter than when it was opened"};
  }
  return Error{ErrorCode::readError, what + status.reason};
}

Result<Cell> CellReader::cell(std::uint32_t offset, const char* what) const {
  const std::uint64_t at = kBinsStart + offset;
  if (offset == kNoCell) {
    return Error{ErrorCode::corrupt, std::string("corrupt ") + what + ": a needed cell is missing"};
  }
  if (offset % kCellAlignment != 0) return corruptAt(what, at, "the offset is not a multiple of 8");
  if (std::uint64_t{offset} + 8 > binsSize) {
    return corruptAt(what, at, "it lies past the end of the hive bins at " + hex(binsEnd));
  }
  Result<Bin> bin = findBin(*this, at, what);
  if (!bin) return bin.error();
  std::uint8_t raw[4];
  if (auto e = readAt(at, raw, 4)) return *e;
  const std::int64_t signedSize = static_cast<std::int32_t>(le32(raw));
  if (signedSize == 0) return corruptAt(what, at, "the cell's size is 0");
  if (signedSize > 0) return corruptAt(what, at, "the cell is marked free");
  const std::uint64_t size = static_cast<std::uint64_t>(-signedSize);
  if (size % kCellAlignment != 0)
    return corruptAt(what, at, "the cell's size " + hex(size) + " is not a multiple of 8");
  if (at + size > bin.value().end) {
    return corruptAt(what, at,
                     "the cell's size " + hex(size) + " crosses the end of its hive bin at " +
                         hex(bin.value().end));
  }
  return Cell{at + 4, static_cast<std::uint32_t>(size - 4)};
}

}  // namespace hive
