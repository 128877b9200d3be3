#pragma once

// Marvin32, the hash Microsoft publishes for hash tables and checksums;
// transaction log entries are checked with it.

#include <cstddef>
#include <cstdint>

namespace hive {

// The log entries' hash seed: "82 EF 4D 88 7A 4E 55 C5" in the format document's "Log entries".
constexpr std::uint64_t kLogEntrySeed = 0x82EF4D887A4E55C5;

// The low half of `seed` starts the first state word; that word ends as the result's low half.
std::uint64_t marvin32(std::uint64_t seed, const std::uint8_t* data, std::size_t length);

}  // namespace hive
