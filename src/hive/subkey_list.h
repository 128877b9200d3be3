#pragma once

// Subkey lists: li (cell offsets), lf (offsets and 4-character hints), lh
// (offsets and name hashes), and ri, an index root listing leaves of the others.

#include <cstddef>
#include <cstdint>

namespace hive {

// Byte offsets within a subkey list's cell payload (two signature letters at 0).
namespace list_field {
constexpr std::size_t kCount = 2;  // 16 bits
constexpr std::size_t kEntries = 4;
constexpr std::size_t kEntryTag = 4;  // within an lf or lh entry: the hint or the hash
}  // namespace list_field

// Bytes per entry: an offset alone (li, ri), or an offset and its tag (lf, lh).
constexpr std::size_t kOffsetEntry = 4;
constexpr std::size_t kTaggedEntry = 8;

}  // namespace hive
