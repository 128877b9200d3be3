// Which new-format log entries recover a hive: each row's scans beside the
// plan worked out by hand from the rule (from the hive's sequence number on,
// one by one across the files, none past the first missing or damaged).
#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hive/log_plan.h"

namespace {

using hive::ScannedLog;
using Place = std::pair<std::size_t, std::size_t>;  // file, index in it (1 = first)
constexpr Place kNone{99, 0};

ScannedLog clean(std::vector<std::uint32_t> sequences) { return {std::move(sequences)}; }
ScannedLog damagedAfter(std::vector<std::uint32_t> sequences, std::uint32_t claims) {
  return {std::move(sequences), true, true, claims};
}
ScannedLog unnumberedAfter(std::vector<std::uint32_t> sequences) {
  return {std::move(sequences), true, false, 0};
}

TEST(LogPlan, AppliesEntriesInSequenceAndStopsWhereOneIsMissingOrDamaged) {
  struct Case {
    const char* what;
    std::uint32_t hive;
    std::vector<ScannedLog> logs;
    std::vector<Place> apply;
    std::uint32_t next;
    std::vector<std::size_t> damaged;
    Place goesOn;
    bool complete;
  };
  // clang-format off
  const Case cases[] = {
      {"no entries", 5, {clean({}), clean({})}, {}, 5, {}, kNone, true},
      {"from the hive's number", 5, {clean({5, 6, 7})}, {{0, 1}, {0, 2}, {0, 3}}, 8, {}, kNone, true},
      {"older entries skipped", 5, {clean({3, 4, 5, 6})}, {{0, 3}, {0, 4}}, 7, {}, kNone, true},
      {"only older entries", 5, {clean({2, 3})}, {}, 5, {}, kNone, true},
      {"first entry later than the hive", 5, {clean({9, 10})}, {{0, 1}, {0, 2}}, 11, {}, kNone, true},
      {"gap", 5, {clean({5, 6, 8})}, {{0, 1}, {0, 2}}, 7, {}, {0, 3}, false},
      {"two files interleaved", 5, {clean({5, 7}), clean({6, 8})}, {{0, 1}, {1, 1}, {0, 2}, {1, 2}}, 9, {}, kNone, true},
      {"a number in both files: the first file's", 5, {clean({5, 6}), clean({6, 7})}, {{0, 1}, {0, 2}, {1, 2}}, 8, {}, kNone, true},
      {"damage at the stop, whatever it claims", 5, {damagedAfter({5, 6}, 2)}, {{0, 1}, {0, 2}}, 7, {0}, kNone, false},
      {"damage after a gap", 5, {clean({5}), damagedAfter({7}, 8)}, {{0, 1}}, 6, {1}, {1, 1}, false},
      {"older damage elsewhere", 5, {clean({5, 6}), damagedAfter({4}, 6)}, {{0, 1}, {0, 2}}, 7, {}, kNone, true},
      {"damage claiming the next number", 5, {clean({5, 6}), damagedAfter({4}, 7)}, {{0, 1}, {0, 2}}, 7, {1}, kNone, false},
      {"damage without a number", 5, {clean({5, 6}), unnumberedAfter({4})}, {{0, 1}, {0, 2}}, 7, {1}, kNone, false},
      {"a damaged first entry, nothing applied", 5, {damagedAfter({}, 2)}, {}, 5, {0}, kNone, false},
      {"a damaged first entry, the other file applied", 5, {clean({5}), damagedAfter({}, 3)}, {{0, 1}}, 6, {}, kNone, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const hive::LogPlan plan = hive::planLogEntries(c.logs, c.hive);
    std::vector<Place> applied;
    for (const hive::PlannedEntry& e : plan.apply) applied.emplace_back(e.file, e.index);
    EXPECT_EQ(applied, c.apply);
    EXPECT_EQ(plan.next, c.next);
    EXPECT_EQ(plan.damagedFiles, c.damaged);
    const Place goesOn = plan.goesOn ? Place(plan.after.file, plan.after.index) : kNone;
    EXPECT_EQ(goesOn, c.goesOn);
    EXPECT_EQ(plan.complete(), c.complete);
  }
}

}  // namespace
