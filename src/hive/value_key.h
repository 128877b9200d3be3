#pragma once

// A value record (vk): its name, type and where its data lies.

#include <cstddef>
#include <cstdint>

namespace hive {

// Byte offsets of the fields within a value record's cell payload ("vk" at 0).
namespace vk_field {
constexpr std::size_t kNameLength = 2;  // in bytes
constexpr std::size_t kDataSize = 4;
constexpr std::size_t kDataOffset = 8;  // a cell, or the data itself when kDataInline
constexpr std::size_t kType = 12;
constexpr std::size_t kFlags = 16;
constexpr std::size_t kName = 20;
}  // namespace vk_field

// The name is Latin-1, one byte per character, else UTF-16LE.
constexpr std::uint16_t kValueCompName = 0x0001;
// Set in the data size: up to 4 bytes kept in the data offset field, from its first byte.
constexpr std::uint32_t kDataInline = 0x80000000;

}  // namespace hive
