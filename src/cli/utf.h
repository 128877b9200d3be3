#pragma once

#include <cstddef>
#include <string>

namespace cli {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(const char16_t* text, std::size_t length);
// UTF-8 to UTF-16; each byte that does not start a valid sequence becomes U+FFFD.
std::u16string utf8ToUtf16(const std::string& text);
// The text with every byte that does not start a valid UTF-8 sequence (stray
// continuation bytes, overlong forms, surrogates, beyond U+10FFFF) replaced by U+FFFD.
std::string sanitizeUtf8(const std::string& text);

}  // namespace cli
