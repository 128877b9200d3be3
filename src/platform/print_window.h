#pragma once

#include "result/result.h"

struct HWND__;  // HWND

namespace platform {

enum class PrintProblem {
  noPrinter,  // no default printer is set up
  failed,     // capturing the window or printing the page failed
};
using PrintStatus = tamsket::Status<tamsket::SystemFailure<PrintProblem>>;

// Prints the window's client area, child controls included, as they look now:
// one page on the default printer, at the size it has on screen, at the top
// left of the printable area. The document is named "Tamsket". A failure
// carries the error of the call that failed (none for noPrinter).
PrintStatus printWindowImage(HWND__* window);

}  // namespace platform
