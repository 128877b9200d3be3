#pragma once

#include <array>
#include <cstdint>
#include <string>

// The decoding rule as plain byte-by-byte long division by 24: 25 passes over
// the window, most significant byte first, each remainder a key character
// placed in front, a dash before every fifth. Slow and obviously right; the
// tests hold the real decoder to it.
inline std::string decodeByLongDivision(std::array<std::uint8_t, 15> w) {
  static const char alphabet[] = "BCDFGHJKMPQRTVWXY2346789";
  std::string result;
  for (int n = 24; n >= 0; --n) {
    int cur = 0;
    for (int j = 14; j >= 0; --j) {
      cur = (cur * 256) ^ w[j];
      w[j] = static_cast<std::uint8_t>(cur / 24);
      cur %= 24;
    }
    result.insert(result.begin(), alphabet[cur]);
    if (n % 5 == 0 && n != 0) result.insert(result.begin(), '-');
  }
  return result;
}
