#include "hive/recovered_source.h"

#include <algorithm>
#include <cstring>

#include "hive/little_endian.h"
#include "hive/log_entry.h"

namespace hive {

RecoveredSource::RecoveredSource(std::unique_ptr<ByteSource> primary, const std::uint8_t* base)
    : primary_(std::move(primary)), size_(primary_->size()) {
  std::memcpy(base_, base, kBaseBlockSize);
}

void RecoveredSource::setBinsSize(std::uint32_t binsSize) {
  size_ = std::max(primary_->size(), kBinsStart + binsSize);
}

void RecoveredSource::adoptBaseBlock(const std::uint8_t* logSector, std::uint32_t binsSize) {
  std::memcpy(base_, logSector, kSector);
  putLe32(base_ + base_field::kFileType, kPrimaryFile);
  storeBaseBlockChecksum(base_);
  setBinsSize(binsSize);
}

const std::uint8_t* RecoveredSource::hold(std::vector<std::uint8_t> bytes) {
  held_.push_back(std::move(bytes));  // its buffer stays where it is
  return held_.back().data();
}

void RecoveredSource::putSectors(std::uint64_t fileOffset, const std::uint8_t* held,
                                 std::size_t length) {
  for (std::size_t done = 0; done < length; done += kSector) {
    sectors_.push_back({(fileOffset + done) / kSector, sectors_.size(), held + done});
  }
  sorted_ = false;
}

const std::uint8_t* RecoveredSource::logged(std::uint64_t sector) const {
  if (!sorted_) {
    // The last laid of each sector first, then the others dropped (std::sort:
    // the lean Windows build has no temporary buffer for std::stable_sort).
    std::sort(sectors_.begin(), sectors_.end(), [](const Logged& a, const Logged& b) {
      return a.sector != b.sector ? a.sector < b.sector : a.order > b.order;
    });
    sectors_.erase(
        std::unique(sectors_.begin(), sectors_.end(),
                    [](const Logged& a, const Logged& b) { return a.sector == b.sector; }),
        sectors_.end());
    for (std::size_t i = 0; i < sectors_.size(); ++i) sectors_[i].order = i;
    sorted_ = true;
  }
  const auto at = std::lower_bound(sectors_.begin(), sectors_.end(), sector,
                                   [](const Logged& a, std::uint64_t s) { return a.sector < s; });
  return at != sectors_.end() && at->sector == sector ? at->bytes : nullptr;
}

ReadStatus RecoveredSource::read(std::uint64_t offset, void* out, std::size_t length) const {
  if (offset > size_ || length > size_ - offset) return ReadStatus::pastEnd();
  auto* p = static_cast<std::uint8_t*>(out);
  while (length) {
    std::size_t n = 0;
    if (offset < kBaseBlockSize) {
      n = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBaseBlockSize - offset));
      std::memcpy(p, base_ + offset, n);
    } else if (const std::uint8_t* sector = logged(offset / kSector)) {
      const std::size_t within = static_cast<std::size_t>(offset % kSector);
      n = std::min(length, kSector - within);
      std::memcpy(p, sector + within, n);
    } else {
      // As many following sectors as no log holds, in one read of the primary.
      n = std::min(length, kSector - static_cast<std::size_t>(offset % kSector));
      while (n < length && !logged((offset + n) / kSector)) {
        n = std::min(length, n + kSector);
      }
      const std::uint64_t primaryEnd = primary_->size();
      const std::size_t fromPrimary =
          offset >= primaryEnd
              ? 0
              : static_cast<std::size_t>(std::min<std::uint64_t>(n, primaryEnd - offset));
      if (fromPrimary) {
        ReadStatus status = primary_->read(offset, p, fromPrimary);
        if (status.outcome != ReadStatus::Outcome::complete) return status;
      }
      // A hive that grew in its logs: bytes no log holds past the primary's end.
      std::memset(p + fromPrimary, 0, n - fromPrimary);
    }
    p += n;
    offset += n;
    length -= n;
  }
  return {};
}

}  // namespace hive
