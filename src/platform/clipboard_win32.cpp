#include "platform/clipboard.h"

#include <windows.h>

#include <cstring>

#include "handle/unique_handle.h"

namespace platform {

namespace {

// Clipboard viewers and managers open the clipboard for a moment after every
// change: a short wait gets past them, a program that keeps it open does not.
constexpr int kOpenAttempts = 10;
constexpr DWORD kRetryDelayMs = 50;

bool openClipboard(HWND owner) {
  for (int attempt = 1;; ++attempt) {
    if (OpenClipboard(owner)) return true;
    if (attempt == kOpenAttempts) return false;
    Sleep(kRetryDelayMs);
  }
}

class OpenedClipboard {
 public:
  OpenedClipboard() = default;
  ~OpenedClipboard() { CloseClipboard(); }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
};

// Global memory that is freed unless the clipboard took it over.
using UniqueGlobal = tamsket::UniqueHandle<HGLOBAL, GlobalFree>;

}  // namespace

ClipboardStatus setClipboardText(HWND owner, const std::wstring& text) noexcept {
  const auto failed = [] {
    return tamsket::SystemFailure<ClipboardProblem>{ClipboardProblem::failed, GetLastError()};
  };
  // The copy is made first, so that the clipboard stays open only briefly.
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (!memory.get()) return failed();
  void* const locked = GlobalLock(memory.get());
  if (!locked) return failed();
  std::memcpy(locked, text.c_str(), bytes);
  GlobalUnlock(memory.get());

  if (!openClipboard(owner)) {
    return tamsket::SystemFailure<ClipboardProblem>{ClipboardProblem::busy, GetLastError()};
  }
  const OpenedClipboard opened;
  if (!EmptyClipboard()) return failed();
  if (!SetClipboardData(CF_UNICODETEXT, memory.get())) return failed();
  memory.release();
  return {};
}

}  // namespace platform
