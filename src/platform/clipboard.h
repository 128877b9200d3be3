#pragma once

#include <string>

struct HWND__;  // HWND, declared here so that callers need no <windows.h> for this header

namespace platform {

enum class ClipboardResult {
  placed,  // the clipboard now holds exactly the text
  busy,    // another program kept the clipboard open through every retry
  failed,  // opened, but emptying it or placing the text failed
};

// Empties the clipboard and places text on it as Unicode text (an empty text
// included); Windows offers it in the 8-bit text format too. owner becomes
// the clipboard's owner and may be null. When it fails, `error` is the error
// of the call that failed. Never throws.
ClipboardResult setClipboardText(HWND__* owner, const std::wstring& text,
                                 unsigned long& error) noexcept;

}  // namespace platform
