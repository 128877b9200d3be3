#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text for every module: UTF-8 and UTF-16 both ways, hexadecimal numbers,
// and text made safe to show. One policy for what is not valid text: the
// lenient conversions put U+FFFD in place of each byte or unpaired surrogate
// that is not part of a character; the strict one refuses the whole text.
namespace text {

// A path as this system's file functions take it: UTF-16 on Windows; elsewhere
// the bytes of the name, UTF-8 as a rule but not always.
#ifdef _WIN32
using PathString = std::wstring;
#else
using PathString = std::string;
#endif

// A path as UTF-8, for messages: converted on Windows (an unpaired surrogate
// becomes U+FFFD); elsewhere its bytes as they are.
std::string pathToUtf8(const PathString& path);
// UTF-8 as a path: converted on Windows; elsewhere the same bytes.
PathString utf8ToPath(std::string_view text);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(const char16_t* text, std::size_t length);
// UTF-8 to UTF-16; each byte that does not start a valid sequence becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
// UTF-8 to UTF-16, or false for text that is not all valid UTF-8 (stray or
// overlong bytes, surrogates, beyond U+10FFFF), as names looked up must be.
bool utf8ToUtf16Strict(std::string_view text, std::u16string* out);
// The text with every byte that does not start a valid UTF-8 sequence (stray
// continuation bytes, overlong forms, surrogates, beyond U+10FFFF) replaced by U+FFFD.
std::string sanitizeUtf8(std::string_view text);

// The text as a terminal may show it, one line that does what it says: control
// characters (C0, DEL, C1), line and paragraph separators and bidirectional
// overrides escaped as \n, \r, \t, \x1b, \u009b, \u202e; each byte that is not
// UTF-8 as \xff, so that two names that differ never look the same.
std::string escapeForTerminal(std::string_view text);

// Whether two texts are the same but for the letter case of ASCII letters.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Decodes the UTF-8 sequence at `at`, moving past it. A byte that starts no
// valid sequence is consumed alone and gives nothing.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& at);

// "0x" and the value in upper-case hexadecimal, at least `digits` digits: 0x1F, 0x0003.
std::string hexText(std::uint64_t value, int digits = 1);

}  // namespace text
