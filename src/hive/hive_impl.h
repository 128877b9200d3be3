#pragma once

// What an open hive holds: its records' reader, what its base block gave and
// what became of its logs; and the subkey lookup over its lists.

#include <optional>
#include <string>
#include <vector>

#include "hive/hive.h"
#include "hive/records.h"

namespace hive {

// What one pass over a leaf found; `passedOver`: entries whose hash or hint
// did not fit were left for the second pass.
struct LeafMatch {
  std::optional<KeyNode> key;
  bool passedOver = false;
};

struct Hive::Impl : RecordReader {
  std::uint32_t rootCell = 0;
  std::u16string embeddedName;
  HiveState state = HiveState::clean;
  bool logFiles = false;
  std::string logReport;

  Result<std::optional<KeyNode>> findSubkey(const KeyNode& parent,
                                            const std::u16string& name) const;

 private:
  Result<std::vector<std::uint32_t>> leavesOf(const SubkeyList& indexRoot) const;
  Result<LeafMatch> searchLeaf(const SubkeyList& leaf, const std::u16string& name,
                               std::uint32_t hash, bool filtered) const;
};

}  // namespace hive
