#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(const char16_t* text, std::size_t length);
// UTF-8 to UTF-16; each byte that does not start a valid sequence becomes U+FFFD.
std::u16string utf8ToUtf16(const std::string& text);
// The text with every byte that does not start a valid UTF-8 sequence (stray
// continuation bytes, overlong forms, surrogates, beyond U+10FFFF) replaced by U+FFFD.
std::string sanitizeUtf8(const std::string& text);

// The text as a terminal may show it, one line that does what it says: control
// characters (C0, DEL, C1), line and paragraph separators and bidirectional
// overrides escaped as \n, \r, \t, \x1b, \u009b, \u202e; each byte that is not
// UTF-8 as \xff, so that two names that differ never look the same.
std::string escapeForTerminal(const std::string& text);

// Whether two texts are the same but for the letter case of ASCII letters.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Decodes the UTF-8 sequence at `at`, moving past it. A byte that starts no
// valid sequence is consumed alone and gives nothing.
std::optional<char32_t> decodeUtf8(const std::string& text, std::size_t& at);

}  // namespace cli
