#include "keys/product_key_decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "common/key_oracle.h"

namespace {

using keys::decodeProductKey;

using Window = std::array<std::uint8_t, 15>;

// The window holding a small integer value.
Window windowOf(std::uint64_t value) {
  Window w{};
  for (std::size_t i = 0; i < 8; ++i) w[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return w;
}

// 24^25 = 3^25 * 2^75, little-endian.
constexpr Window k24Pow25 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x18, 0x55, 0xB1, 0x32, 0x2A, 0x06};

Window minusOne(Window w) {
  for (auto& byte : w) {
    if (byte-- != 0) break;
  }
  return w;
}

struct KnownKey {
  const char* what;
  Window window;
  const char* key;
};

const KnownKey kKnownKeys[] = {
    {"zero", windowOf(0), "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"},
    {"one", windowOf(1), "BBBBB-BBBBB-BBBBB-BBBBB-BBBBC"},
    {"23, the last digit", windowOf(23), "BBBBB-BBBBB-BBBBB-BBBBB-BBBB9"},
    {"24 carries", windowOf(24), "BBBBB-BBBBB-BBBBB-BBBBB-BBBCB"},
    {"24^5 crosses a group", windowOf(7962624), "BBBBB-BBBBB-BBBBB-BBBBC-BBBBB"},
    {"24^25 wraps to zero", k24Pow25, "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"},
    {"24^25 - 1 is all nines", minusOne(k24Pow25), "99999-99999-99999-99999-99999"},
    {"bytes 1 to 15",
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
     "QWXBG-9RBY2-MCG7P-KT6GW-XP4VP"},
    {"all bits set",
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     "TW7HQ-JY9P9-CFDMG-RH9H7-9BKDX"},
};

TEST(DecodeProductKey, GivesTheKnownKeys) {
  for (const auto& known : kKnownKeys) {
    EXPECT_EQ(decodeProductKey(known.window), known.key) << known.what;
  }
}

// Only the value modulo 24^25 shows: adding 24^25 changes nothing.
TEST(DecodeProductKey, IgnoresMultiplesOf24Pow25) {
  for (std::uint64_t value : {0ull, 1ull, 23ull, 123456789ull}) {
    Window w = windowOf(value);
    unsigned carry = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
      carry += w[i] + k24Pow25[i];
      w[i] = static_cast<std::uint8_t>(carry);
      carry >>= 8;
    }
    EXPECT_EQ(decodeProductKey(w), decodeProductKey(windowOf(value))) << value;
  }
}

// Every key has 25 alphabet characters in five groups, dashes at positions
// 6, 12, 18 and 24 (from 1) and nowhere else.
void expectWellFormed(const std::string& key) {
  ASSERT_EQ(key.size(), 29u) << key;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if ((i + 1) % 6 == 0) {
      EXPECT_EQ(key[i], '-') << key << " at " << i;
    } else {
      EXPECT_NE(std::string("BCDFGHJKMPQRTVWXY2346789").find(key[i]), std::string::npos)
          << key << " at " << i;
    }
  }
}

TEST(DecodeProductKey, MatchesLongDivisionOnEveryBitAndByte) {
  for (int bit = 0; bit < 120; ++bit) {
    Window w{};
    w[bit / 8] = static_cast<std::uint8_t>(1u << (bit % 8));
    EXPECT_EQ(decodeProductKey(w), decodeByLongDivision(w)) << "bit " << bit;
  }
  for (std::size_t at = 0; at < 15; ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      Window w{};
      w[at] = static_cast<std::uint8_t>(byte);
      ASSERT_EQ(decodeProductKey(w), decodeByLongDivision(w)) << "byte " << byte << " at " << at;
    }
  }
}

TEST(DecodeProductKey, MatchesLongDivisionOnAMillionRandomWindows) {
  std::mt19937_64 random(20261208);
  for (int n = 0; n < 1000000; ++n) {
    Window w;
    for (auto& byte : w) byte = static_cast<std::uint8_t>(random());
    const Window before = w;
    const std::string key = decodeProductKey(w);
    ASSERT_EQ(key, decodeByLongDivision(w)) << "window #" << n;
    ASSERT_EQ(w, before);
    if (n % 1000 == 0) expectWellFormed(key);
  }
}

}  // namespace
