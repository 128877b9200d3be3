#include "platform/system_error.h"

#include <windows.h>

namespace platform {

std::string describeSystemError(unsigned long error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string words(text ? text : "", length);
  LocalFree(text);
  // The system ends its texts with a line break.
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) {
    words.pop_back();
  }
  return words;
}

}  // namespace platform
