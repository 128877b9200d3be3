#include "text/text.h"

#include <algorithm>
#include <cstdint>

#ifdef _WIN32
#include "text/windows_text.h"
#endif

namespace text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  std::size_t length;
  char32_t c;
  char32_t minimum;
  if (lead < 0x80) {
    ++at;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  } else {
    ++at;
    return std::nullopt;
  }
  if (text.size() - at < length) {
    ++at;
    return std::nullopt;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      ++at;
      return std::nullopt;
    }
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++at;
    return std::nullopt;
  }
  at += length;
  return c;
}

namespace {

// A byte that starts no valid sequence gives U+FFFD.
char32_t nextCodePoint(std::string_view text, std::size_t& at) {
  return decodeUtf8(text, at).value_or(kReplacement);
}

bool escapedOnTerminal(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void appendHex(unsigned value, int digits, std::string& out) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out += "0123456789abcdef"[(value >> shift) & 0xF];
  }
}

}  // namespace

std::string utf16ToUtf8(const char16_t* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(c, out);
  }
  return out;
}

namespace {

void appendUtf16(char32_t c, std::u16string& out) {
  if (c >= 0x10000) {
    out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

}  // namespace

bool utf8ToUtf16Strict(std::string_view text, std::u16string* out) {
  out->clear();
  for (std::size_t at = 0; at < text.size();) {
    const std::optional<char32_t> c = decodeUtf8(text, at);
    if (!c) return false;
    appendUtf16(*c, *out);
  }
  return true;
}

#ifdef _WIN32
std::string pathToUtf8(const PathString& path) { return wideToUtf8(path); }
PathString utf8ToPath(std::string_view text) { return utf8ToWide(text); }
#else
std::string pathToUtf8(const PathString& path) { return path; }
PathString utf8ToPath(std::string_view text) { return PathString(text); }
#endif

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    appendUtf16(nextCodePoint(text, at), out);
  }
  return out;
}

std::string sanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) appendUtf8(nextCodePoint(text, at), out);
  return out;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](unsigned char x, unsigned char y) { return lower(x) == lower(y); });
}

std::string escapeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const std::optional<char32_t> c = decodeUtf8(text, at);
    if (!c) {
      out += "\\x";
      appendHex(static_cast<std::uint8_t>(text[start]), 2, out);
    } else if (!escapedOnTerminal(*c)) {
      out.append(text, start, at - start);
    } else if (*c == '\n') {
      out += "\\n";
    } else if (*c == '\r') {
      out += "\\r";
    } else if (*c == '\t') {
      out += "\\t";
    } else if (*c < 0x80) {
      out += "\\x";
      appendHex(*c, 2, out);
    } else {
      out += "\\u";
      appendHex(*c, 4, out);
    }
  }
  return out;
}

}  // namespace text
