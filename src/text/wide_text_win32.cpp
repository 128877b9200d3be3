// Apart from the code-page conversions, so that the window program, which
// needs only those, does not link the portable conversions with them.
#include <string>

#include "text/text.h"
#include "text/windows_text.h"

namespace text {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds UTF-16 on Windows");

std::string wideToUtf8(std::wstring_view text) {
  return utf16ToUtf8(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

std::wstring utf8ToWide(std::string_view text) {
  const std::u16string wide = utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string systemErrorLine(unsigned long error) {
  std::wstring words = systemErrorText(error);
  while (!words.empty() && words.back() == L'.') words.pop_back();
  const std::string message = words.empty() ? "" : wideToUtf8(words) + " ";
  return message + "(error " + std::to_string(error) + ")";
}

}  // namespace text
