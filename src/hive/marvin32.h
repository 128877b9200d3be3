#pragma once

// Marvin32, the hash Microsoft publishes for hash tables and checksums;
// transaction log entries are checked with it.

#include <cstddef>
#include <cstdint>

namespace hive {

// The 64-bit result: the second state word in the high half, the first in the low.
std::uint64_t marvin32(std::uint64_t seed, const std::uint8_t* data, std::size_t length);

}  // namespace hive
