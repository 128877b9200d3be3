#pragma once

// A byte source read in whole pages, the most recently used of them kept:
// for sources where each read costs far more than a memory copy.

#include <memory>
#include <vector>

#include "hive/hive.h"

namespace image {

class PageCachedSource : public hive::ByteSource {
 public:
  // Reads `inner` in pages of `pageSize` bytes, holding at most `maxPages`.
  PageCachedSource(std::unique_ptr<hive::ByteSource> inner, std::size_t pageSize,
                   std::size_t maxPages);
  std::uint64_t size() const override { return inner_->size(); }
  hive::ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override;

 private:
  struct Page {
    std::uint64_t index = 0;
    std::uint64_t lastUse = 0;
    std::vector<std::uint8_t> bytes;  // empty: not read
  };
  hive::ReadStatus pageAt(std::uint64_t index, const Page*& found) const;

  std::unique_ptr<hive::ByteSource> inner_;
  std::size_t pageSize_;
  std::size_t maxPages_;
  mutable std::vector<Page> pages_;
  mutable std::uint64_t clock_ = 0;
};

}  // namespace image
