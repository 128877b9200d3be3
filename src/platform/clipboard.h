#pragma once

#include <string>

#include "result/result.h"

struct HWND__;  // HWND, declared here so that callers need no <windows.h> for this header

namespace platform {

enum class ClipboardProblem {
  busy,    // another program kept the clipboard open through every retry
  failed,  // opened, but emptying it or placing the text failed
};
using ClipboardStatus = tamsket::Status<tamsket::SystemFailure<ClipboardProblem>>;

// Empties the clipboard and places text on it as Unicode text (an empty text
// included); Windows offers it in the 8-bit text format too. owner becomes
// the clipboard's owner and may be null. A failure carries the error of the
// call that failed. Never throws.
ClipboardStatus setClipboardText(HWND__* owner, const std::wstring& text) noexcept;

}  // namespace platform
