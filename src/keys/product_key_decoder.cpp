#include "keys/product_key_decoder.h"

namespace keys {

namespace {

constexpr std::uint32_t kBase = 24;
constexpr std::uint32_t kGroupLength = 5;
constexpr std::uint32_t kGroups = 5;
constexpr std::uint32_t kGroupRadix = kBase * kBase * kBase * kBase * kBase;  // 24^5

// The window as four 32-bit limbs, most significant first (the top one holds
// the last three bytes).
using Limbs = std::array<std::uint32_t, 4>;

Limbs loadLimbs(const std::array<std::uint8_t, 15>& w) {
  Limbs limbs{};
  for (std::size_t i = 0; i < w.size(); ++i) {
    limbs[3 - i / 4] |= std::uint32_t{w[i]} << (8 * (i % 4));
  }
  return limbs;
}

// Divides the limbs in place by 24^5 and returns the remainder: one whole
// group of five digits per pass instead of one digit. The running remainder
// stays below 2^23, so remainder * 2^32 + limb fits 64 bits and the
// division by a constant compiles to a multiplication.
std::uint32_t divideByGroupRadix(Limbs& limbs) {
  std::uint64_t remainder = 0;
  for (auto& limb : limbs) {
    const std::uint64_t current = (remainder << 32) | limb;
    limb = static_cast<std::uint32_t>(current / kGroupRadix);
    remainder = current % kGroupRadix;
  }
  return static_cast<std::uint32_t>(remainder);
}

}  // namespace

std::string decodeProductKey(std::array<std::uint8_t, 15> window) {
  constexpr std::size_t kKeyLength = kGroups * kGroupLength + (kGroups - 1);
  std::string key(kKeyLength, '-');
  Limbs limbs = loadLimbs(window);
  // The first remainder is the last group; what is left after five passes is
  // beyond 24^25 and does not show in the key.
  for (std::uint32_t group = kGroups; group-- > 0;) {
    std::uint32_t digits = divideByGroupRadix(limbs);
    for (std::uint32_t i = kGroupLength; i-- > 0;) {
      key[group * (kGroupLength + 1) + i] = keyDigits[digits % kBase];
      digits /= kBase;
    }
  }
  return key;
}

}  // namespace keys
