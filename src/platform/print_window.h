#pragma once

struct HWND__;  // HWND

namespace platform {

enum class PrintResult {
  printed,    // the page went to the default printer's queue
  noPrinter,  // no default printer is set up
  failed,     // capturing the window or printing the page failed
};

// Prints the window's client area, child controls included, as they look now:
// one page on the default printer, at the size it has on screen, at the top
// left of the printable area. The document is named "Tamsket". When printing
// failed, `error` is the error of the call that failed.
PrintResult printWindowImage(HWND__* window, unsigned long& error);

}  // namespace platform
