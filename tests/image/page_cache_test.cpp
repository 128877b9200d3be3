#include "image/page_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using hive::ReadStatus;

// 100 bytes, byte i holding i; counts the reads that reach it, and fails those
// that touch `failAt`.
class CountingSource : public hive::ByteSource {
 public:
  std::uint64_t size() const override { return 100; }
  ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    ++reads;
    if (offset + length > 100) return ReadStatus::pastEnd();
    if (failAt >= offset && failAt < offset + length) return ReadStatus::failed("bad sector");
    for (std::size_t i = 0; i < length; ++i) static_cast<std::uint8_t*>(out)[i] = offset + i;
    return {};
  }
  mutable int reads = 0;
  std::uint64_t failAt = ~0ull;
};

struct Cached {
  CountingSource* inner = new CountingSource;
  image::PageCachedSource source{std::unique_ptr<hive::ByteSource>(inner), 16, 4};
  std::vector<std::uint8_t> read(std::uint64_t offset, std::size_t length, ReadStatus* status) {
    std::vector<std::uint8_t> out(length);
    *status = source.read(offset, out.data(), length);
    return out;
  }
};

TEST(PageCache, GivesTheBytesOfAnyRange) {
  const struct {
    std::uint64_t offset;
    std::size_t length;
    ReadStatus::Outcome outcome;
  } cases[] = {
      {0, 1, ReadStatus::Outcome::complete},   {15, 2, ReadStatus::Outcome::complete},
      {10, 60, ReadStatus::Outcome::complete}, {96, 4, ReadStatus::Outcome::complete},
      {100, 0, ReadStatus::Outcome::complete}, {97, 4, ReadStatus::Outcome::pastEnd},
      {101, 0, ReadStatus::Outcome::pastEnd},
  };
  for (const auto& c : cases) {
    Cached cached;
    ReadStatus status;
    const auto bytes = cached.read(c.offset, c.length, &status);
    EXPECT_EQ(status.outcome, c.outcome) << c.offset << "+" << c.length;
    if (c.outcome != ReadStatus::Outcome::complete) continue;
    for (std::size_t i = 0; i < c.length; ++i) EXPECT_EQ(bytes[i], c.offset + i) << c.offset;
  }
}

TEST(PageCache, HoldsTheMostRecentlyUsedPagesOnly) {
  Cached cached;
  ReadStatus status;
  // page index read -> the inner reads counted after it
  const struct {
    std::uint64_t page;
    int reads;
  } steps[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {0, 4}, {4, 5}, {0, 5}, {1, 6}, {2, 7}, {0, 7}};
  for (const auto& step : steps) {
    cached.read(step.page * 16 + 3, 2, &status);
    EXPECT_EQ(cached.inner->reads, step.reads) << "page " << step.page;
  }
  // The last page is short: 4 bytes.
  EXPECT_EQ(cached.read(96, 4, &status)[3], 99);
}

TEST(PageCache, AFailedReadIsReportedAndTriedAgain) {
  Cached cached;
  cached.inner->failAt = 40;
  ReadStatus status;
  cached.read(33, 2, &status);
  EXPECT_EQ(status.outcome, ReadStatus::Outcome::failed);
  EXPECT_EQ(status.reason, "bad sector");
  cached.inner->failAt = ~0ull;
  EXPECT_EQ(cached.read(33, 2, &status)[1], 34);
  EXPECT_EQ(cached.inner->reads, 2);
}

}  // namespace
