#include "image/page_cache.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Outcome = hive::ReadStatus::Outcome;

// 100 bytes, byte i holding i, read 4 pages of 16 at a time; counts the reads
// reaching the source and fails those touching `failAt`.
struct Cached : hive::ByteSource {
  std::uint64_t size() const override { return 100; }
  hive::ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    ++reads;
    if (failAt >= offset && failAt < offset + length) return hive::ReadStatus::failed("bad");
    for (std::size_t i = 0; i < length; ++i) static_cast<std::uint8_t*>(out)[i] = offset + i;
    return {};
  }
  mutable int reads = 0;
  std::uint64_t failAt = 1000;
};

struct Fixture {
  Cached* inner = new Cached;
  image::PageCachedSource cache{std::unique_ptr<hive::ByteSource>(inner), 16, 4};
  // The outcome of a read, and whether each byte came right.
  Outcome read(std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> out(length);
    const hive::ReadStatus status = cache.read(offset, out.data(), length);
    for (std::size_t i = 0; status.outcome == Outcome::complete && i < length; ++i) {
      EXPECT_EQ(out[i], offset + i) << offset << "+" << length;
    }
    return status.outcome;
  }
};

TEST(PageCache, GivesTheBytesOfAnyRange) {
  const struct {
    std::uint64_t offset;
    std::size_t length;
    Outcome outcome;
  } cases[] = {{0, 1, Outcome::complete},  {15, 2, Outcome::complete},  {10, 60, Outcome::complete},
               {96, 4, Outcome::complete}, {100, 0, Outcome::complete}, {97, 4, Outcome::pastEnd},
               {101, 0, Outcome::pastEnd}};
  for (const auto& c : cases) EXPECT_EQ(Fixture().read(c.offset, c.length), c.outcome);
}

TEST(PageCache, HoldsTheMostRecentlyUsedPagesOnly) {
  Fixture f;
  // The page read, and the reads that have reached the source after it.
  const int steps[][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {0, 4},
                          {4, 5}, {0, 5}, {1, 6}, {2, 7}, {0, 7}};
  for (const auto& step : steps) {
    f.read(step[0] * 16 + 3, 2);
    EXPECT_EQ(f.inner->reads, step[1]) << "page " << step[0];
  }
}

TEST(PageCache, AFailedReadIsReportedAndTriedAgain) {
  Fixture f;
  f.inner->failAt = 40;
  EXPECT_EQ(f.read(33, 2), Outcome::failed);
  f.inner->failAt = 1000;
  EXPECT_EQ(f.read(33, 2), Outcome::complete);
  EXPECT_EQ(f.inner->reads, 2);
}

}  // namespace
