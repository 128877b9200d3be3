#pragma once

// Where Exchange Setup keeps its product id, and how that value is laid out:
// the one place every reader of it (the window, the console program, the
// hive files) takes this from.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace keys {

inline constexpr char kProductName[] = "Microsoft Exchange";
// The key below HKEY_LOCAL_MACHINE, and below SOFTWARE (the root of a SOFTWARE hive).
inline constexpr char kSetupKey[] = "SOFTWARE\\Microsoft\\Exchange\\Setup";
inline constexpr const char* kSetupKeyInSoftware = kSetupKey + sizeof "SOFTWARE\\" - 1;
inline constexpr char kProductIdValueName[] = "DigitalProductId";

// The packed key: the 15 bytes at offsets 52 to 66 of the value.
inline constexpr std::size_t kKeyWindowOffset = 52;
inline constexpr std::size_t kKeyWindowSize = 15;

// The key window of a value of `size` bytes; bytes past the value's end read
// as zero, as a zeroed buffer the value was read into holds them. Inline: the
// window program needs only this, not the parser below.
inline std::array<std::uint8_t, kKeyWindowSize> keyWindowOf(const std::uint8_t* data,
                                                            std::size_t size) {
  std::array<std::uint8_t, kKeyWindowSize> window{};
  for (std::size_t i = 0; i < window.size() && kKeyWindowOffset + i < size; ++i) {
    window[i] = data[kKeyWindowOffset + i];
  }
  return window;
}

// A DigitalProductId value of any size, read apart.
struct ProductIdValue {
  // The product id text at offset 8 ("00371-OEM-8992671-00437"): printable
  // ASCII ended by a NUL before the packed key begins; none when anything
  // else lies there.
  std::optional<std::string> productId;
  // The decoded key, when the value holds the whole key window (67 bytes or more).
  std::optional<std::string> key;
};
ProductIdValue parseProductIdValue(const std::uint8_t* data, std::size_t size);

}  // namespace keys
