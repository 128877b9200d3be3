#pragma once

// A key node (nk): a key's counts and lists, then its name.

#include <cstddef>
#include <cstdint>

namespace hive {

// Byte offsets of the fields within a key node's cell payload ("nk" at 0).
namespace nk_field {
constexpr std::size_t kFlags = 2;
constexpr std::size_t kSubkeyCount = 20;
constexpr std::size_t kSubkeyList = 28;
constexpr std::size_t kValueCount = 36;
constexpr std::size_t kValueList = 40;
constexpr std::size_t kNameLength = 72;  // in bytes
constexpr std::size_t kName = 76;        // the name follows the fixed fields
}  // namespace nk_field

// The name is Latin-1, one byte per character, else UTF-16LE.
constexpr std::uint16_t kKeyCompName = 0x0020;

}  // namespace hive
