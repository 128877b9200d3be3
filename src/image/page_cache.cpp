#include "image/page_cache.h"

#include <algorithm>
#include <cstring>

namespace image {

PageCachedSource::PageCachedSource(std::unique_ptr<hive::ByteSource> inner, std::size_t pageSize,
                                   std::size_t maxPages)
    : inner_(std::move(inner)), pageSize_(pageSize), maxPages_(maxPages) {}

hive::ReadStatus PageCachedSource::read(std::uint64_t offset, void* out, std::size_t length) const {
  const std::uint64_t size = inner_->size();
  if (offset > size || length > size - offset) return hive::ReadStatus::pastEnd();
  auto* to = static_cast<std::uint8_t*>(out);
  while (length) {
    const std::uint64_t index = offset / pageSize_;
    const Page* page = nullptr;
    hive::ReadStatus status = pageAt(index, page);
    if (status.outcome != hive::ReadStatus::Outcome::complete) return status;
    const std::size_t within = static_cast<std::size_t>(offset - index * pageSize_);
    const std::size_t n = std::min(length, page->bytes.size() - within);
    std::memcpy(to, page->bytes.data() + within, n);
    to += n;
    offset += n;
    length -= n;
  }
  return {};
}

// The page `index`, read now unless it is held; once maxPages are, the least
// recently used one makes way.
hive::ReadStatus PageCachedSource::pageAt(std::uint64_t index, const Page*& found) const {
  ++clock_;
  for (Page& page : pages_) {
    if (page.index == index && !page.bytes.empty()) {
      page.lastUse = clock_;
      found = &page;
      return {};
    }
  }
  Page* slot = nullptr;
  if (pages_.size() < maxPages_) {
    slot = &pages_.emplace_back();
  } else {
    slot = &*std::min_element(pages_.begin(), pages_.end(),
                              [](const Page& a, const Page& b) { return a.lastUse < b.lastUse; });
  }
  const std::uint64_t start = index * pageSize_;
  slot->bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(pageSize_, size() - start)));
  hive::ReadStatus status = inner_->read(start, slot->bytes.data(), slot->bytes.size());
  if (status.outcome != hive::ReadStatus::Outcome::complete) {
    slot->bytes.clear();
    return status;
  }
  slot->index = index;
  slot->lastUse = clock_;
  found = slot;
  return {};
}

}  // namespace image
