#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace keys {

// The 24 characters a product key is written in, by digit value.
inline constexpr char keyDigits[] = "BCDFGHJKMPQRTVWXY2346789";

// Decodes the 15-byte packed key window (little-endian, 120 bits) into the
// grouped key "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX": the window's value modulo
// 24^25, written in base 24 over keyDigits. Every window has a result.
std::string decodeProductKey(std::array<std::uint8_t, 15> window);

}  // namespace keys
