#pragma once

// A big-data record (db): value data kept in segments, listed in one cell.

#include <cstddef>
#include <cstdint>

namespace hive {

// Byte offsets of the fields within a big-data record's cell payload ("db" at 0).
namespace db_field {
constexpr std::size_t kSegmentCount = 2;  // 16 bits
constexpr std::size_t kSegmentList = 4;
constexpr std::size_t kEnd = 8;
}  // namespace db_field

// Data bytes per segment; the last segment holds the rest.
constexpr std::uint32_t kSegmentSize = 16344;

}  // namespace hive
