#include "hive/names.h"

namespace hive {

char16_t upcaseUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c < 0xB5) return c;
  if (c == 0xB5) return 0x039C;  // MICRO SIGN -> GREEK CAPITAL LETTER MU
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x0178;  // y with diaeresis -> its capital
  return c;
}

bool namesEqual(const std::uint8_t* stored, std::size_t length, bool compressed,
                const std::u16string& want) {
  if (compressed) {
    if (length != want.size()) return false;
    for (std::size_t i = 0; i < length; ++i) {
      if (upcaseUnit(stored[i]) != upcaseUnit(want[i])) return false;
    }
    return true;
  }
  if (length != want.size() * 2) return false;
  for (std::size_t i = 0; i < want.size(); ++i) {
    const auto unit = static_cast<char16_t>(stored[2 * i] | stored[2 * i + 1] << 8);
    if (upcaseUnit(unit) != upcaseUnit(want[i])) return false;
  }
  return true;
}

std::uint32_t nameHash(const std::u16string& name) {
  std::uint32_t h = 0;
  for (char16_t c : name) h = h * 37 + upcaseUnit(c);
  return h;
}

bool hintFits(const std::uint8_t* hint, const std::u16string& name) {
  for (std::size_t i = 0; i < 4 && i < name.size(); ++i) {
    if (name[i] >= 0x80) continue;
    if (upcaseUnit(name[i]) != upcaseUnit(hint[i])) return false;
  }
  return true;
}

}  // namespace hive
