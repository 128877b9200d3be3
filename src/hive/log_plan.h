#pragma once

// Which new-format log entries recover a hive, worked out from what scanning
// the logs found (each entry's file, place and sequence number, and the damage
// that ended a file) without reading a byte: from the hive's sequence number
// on, in sequence order across the files, stopping at the first that is
// missing or damaged.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hive {

// What one file's scan found: its sound entries' sequence numbers in file
// order (entry i + 1 holds sequences[i]), and whether damage ended it, in
// the entry after them, with the number it claims if its header could be read.
struct ScannedLog {
  std::vector<std::uint32_t> sequences;
  bool damaged = false;
  bool numbered = false;
  std::uint32_t damagedSequence = 0;
};

// An entry: its file (an index into the scans), its place there (1 for the
// first) and its sequence number.
struct PlannedEntry {
  std::size_t file = 0;
  std::size_t index = 0;
  std::uint32_t sequence = 0;
};

struct LogPlan {
  std::vector<PlannedEntry> apply;  // in the order they apply
  std::uint32_t next = 0;           // the sequence number needed after them
  // Files whose damage lies where an entry still needed could be.
  std::vector<std::size_t> damagedFiles;
  // The first entry past a gap, when the entries go on after one.
  bool goesOn = false;
  PlannedEntry after;
  bool empty = true;  // no file holds a sound entry
  // Applied to their end: no damage that matters and nothing past a gap.
  bool complete() const { return damagedFiles.empty() && !goesOn; }
};

// The plan for a hive at `firstSequence`.
LogPlan planLogEntries(const std::vector<ScannedLog>& logs, std::uint32_t firstSequence);

}  // namespace hive
