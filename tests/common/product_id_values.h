#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "common/key_oracle.h"
#include "common/sample_product_id.h"  // generated from tools/sample_product_id.py

// Registry values of DigitalProductId shapes the key lookup must handle, with
// the key each must give. Shared by the native tests (stand-in registry) and
// the Windows tests (real registry), so both check the same boundaries.
struct ProductIdCase {
  std::string what;
  unsigned long type;  // REG_BINARY = 3, REG_SZ = 1
  std::vector<std::uint8_t> data;
  std::string expectedKey;
};

// A value of `size` bytes whose every byte is distinct from its neighbours, so
// a misplaced window shows.
inline std::vector<std::uint8_t> patternedValue(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  return data;
}

// The key expected from bytes 52..66 of a value, zeros past its end.
inline std::string keyFromValueBytes(const std::vector<std::uint8_t>& data) {
  std::array<std::uint8_t, 15> window{};
  for (std::size_t i = 0; i < window.size() && 52 + i < data.size(); ++i) window[i] = data[52 + i];
  return decodeByLongDivision(window);
}

// The made-up sample value of tools/sample_product_id.py, laid out as a real
// one: total size at offset 0, version 3 at 4, product id text at 8, the
// packed key at 52.
inline std::vector<std::uint8_t> realisticValue() {
  return {std::begin(kSampleProductId), std::end(kSampleProductId)};
}

inline std::vector<ProductIdCase> productIdCases() {
  const std::string allB = "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB";
  std::vector<std::uint8_t> sixty(60, 0);
  for (std::size_t i = 52; i < 60; ++i) sixty[i] = static_cast<std::uint8_t>(0xF0 + i - 52);
  std::vector<std::uint8_t> text(patternedValue(100));
  for (auto& byte : text) byte = static_cast<std::uint8_t>('A' + byte % 26);
  text.back() = 0;
  return {
      {"empty value", 3, {}, allB},
      {"52 bytes end before the window", 3, patternedValue(52), allB},
      {"60 bytes, the window's tail reads as zero", 3, sixty,
       decodeByLongDivision({0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7})},
      {"67 bytes end with the window", 3, patternedValue(67),
       keyFromValueBytes(patternedValue(67))},
      {"164 bytes fill the room given", 3, patternedValue(164),
       keyFromValueBytes(patternedValue(164))},
      {"165 bytes do not fit", 3, patternedValue(165), ""},
      {"a string-typed value is still decoded", 1, text, keyFromValueBytes(text)},
      {"a realistic value", 3, realisticValue(), "M3R7T-JV33T-PWDB4-F9XM2-RYBVD"},
  };
}
