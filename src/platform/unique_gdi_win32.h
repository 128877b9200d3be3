#pragma once

#include <windows.h>

#include "handle/unique_handle.h"

namespace platform {

// GDI objects (fonts, brushes, bitmaps) and the device contexts made with
// CreateDC or CreateCompatibleDC.
template <typename Object>
using UniqueGdi = tamsket::UniqueHandle<Object, DeleteObject>;
using UniqueDc = tamsket::UniqueHandle<HDC, DeleteDC>;

// A window's device context (the screen's for no window), released with the
// window it belongs to.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace platform
