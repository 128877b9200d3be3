#include "hive/marvin32.h"

#include "hive/little_endian.h"

namespace hive {

namespace {

std::uint32_t rotl(std::uint32_t v, int n) { return v << n | v >> (32 - n); }

void mix(std::uint32_t& s0, std::uint32_t& s1) {
  s1 ^= s0;
  s0 = rotl(s0, 20);
  s0 += s1;
  s1 = rotl(s1, 9);
  s1 ^= s0;
  s0 = rotl(s0, 27);
  s0 += s1;
  s1 = rotl(s1, 19);
}

}  // namespace

std::uint64_t marvin32(std::uint64_t seed, const std::uint8_t* data, std::size_t length) {
  std::uint32_t s0 = static_cast<std::uint32_t>(seed);
  std::uint32_t s1 = static_cast<std::uint32_t>(seed >> 32);
  std::size_t at = 0;
  for (; length - at >= 4; at += 4) {
    s0 += le32(data + at);
    mix(s0, s1);
  }
  // The last 0 to 3 bytes, then a 0x80 byte to end the data.
  std::uint32_t last = 0x80;
  for (std::size_t i = 0; at + i < length; ++i) {
    last = last << 8 | data[length - 1 - i];
  }
  s0 += last;
  mix(s0, s1);
  mix(s0, s1);
  return static_cast<std::uint64_t>(s1) << 32 | s0;
}

}  // namespace hive
