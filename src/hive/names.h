#pragma once

// Key and value names as the hive stores them, compared as Windows compares
// them: case-insensitively for ASCII and Latin-1 letters, other UTF-16 code
// units exactly.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hive {

// The upper case of one UTF-16 code unit, for ASCII and Latin-1 letters
// (0xB5 and 0xFF have their capitals outside Latin-1); others unchanged.
char16_t upcaseUnit(char16_t c);

// Whether a stored name (Latin-1 bytes when `compressed`, else UTF-16LE) is `want`.
bool namesEqual(const std::uint8_t* stored, std::size_t length, bool compressed,
                const std::u16string& want);

// The hash an lh list keeps for a name: h = 37 * h + upper-cased code unit.
std::uint32_t nameHash(const std::u16string& name);

// Whether an lf list's 4-byte hint can belong to `name`: only its ASCII
// characters are held against the hint, case-insensitively.
bool hintFits(const std::uint8_t* hint, const std::u16string& name);

}  // namespace hive
