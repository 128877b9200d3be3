#pragma once

#include <string>
#include <string_view>

// Text the Windows programs need beside the portable conversions: UTF-16 as
// wchar_t, the system's ANSI code page, and the system's words for its error codes.
namespace text {

// UTF-16 as Windows' wide functions take and give it (wchar_t), to UTF-8 and
// back; what is not valid becomes U+FFFD, as in text.h.
std::string wideToUtf8(std::wstring_view text);
std::wstring utf8ToWide(std::string_view text);

// The window holds text as UTF-16; registry names, the report file and the
// 8-bit API calls use the system's ANSI code page.
std::wstring widenAnsi(const std::string& text);
std::string narrowToAnsi(const std::wstring& text);

// A Windows error code in the system's own words, in the user's language, as
// one line ("Access is denied."); empty when the system has no text for it.
std::wstring systemErrorText(unsigned long error);
// The same in UTF-8 without its full stop, and the code: "The network path was
// not found (error 53)", as the console program's messages give it.
std::string systemErrorLine(unsigned long error);

}  // namespace text
