#include "platform/print_window.h"

#include <windows.h>
#include <winspool.h>

#include <string>

#include "platform/system_function_win32.h"
#include "platform/unique_gdi_win32.h"

namespace platform {

namespace {

constexpr char kDocumentName[] = "Tamsket";

// Keeps an object selected into a DC for one scope.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() {
    if (previous_) SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  bool ok() const { return previous_ != nullptr; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// Hides this thread's caret, wherever it is, for one scope.
class HiddenCaret {
 public:
  HiddenCaret() : hidden_(HideCaret(nullptr) != FALSE) {}
  ~HiddenCaret() {
    if (hidden_) ShowCaret(nullptr);
  }
  HiddenCaret(const HiddenCaret&) = delete;
  HiddenCaret& operator=(const HiddenCaret&) = delete;

 private:
  bool hidden_;
};

// A print job that is cancelled unless it was finished.
class PrintJob {
 public:
  explicit PrintJob(HDC printer) : printer_(printer) {
    DOCINFOA info{};
    info.cbSize = sizeof(info);
    info.lpszDocName = kDocumentName;
    started_ = StartDocA(printer_, &info) > 0;
  }
  ~PrintJob() {
    if (started_) AbortDoc(printer_);
  }
  PrintJob(const PrintJob&) = delete;
  PrintJob& operator=(const PrintJob&) = delete;
  bool started() const { return started_; }
  bool finish() {
    started_ = false;
    return EndDoc(printer_) > 0;
  }

 private:
  HDC printer_;
  bool started_ = false;
};

}  // namespace

PrintStatus printWindowImage(HWND window) {
  // The error is taken as the failing call left it, before anything is undone.
  const auto failed = [] {
    return tamsket::SystemFailure<PrintProblem>{PrintProblem::failed, GetLastError()};
  };
  const auto getDefaultPrinter =
      systemFunction<decltype(&GetDefaultPrinterA)>(L"winspool.drv", "GetDefaultPrinterA");
  if (!getDefaultPrinter) return failed();
  DWORD nameSize = 0;
  if (!getDefaultPrinter(nullptr, &nameSize)) {
    const DWORD why = GetLastError();
    if (why == ERROR_FILE_NOT_FOUND)
      return tamsket::SystemFailure<PrintProblem>{PrintProblem::noPrinter, 0};
    if (why != ERROR_INSUFFICIENT_BUFFER) return failed();
  }
  std::string printerName(nameSize, '\0');
  if (!getDefaultPrinter(printerName.data(), &nameSize)) return failed();

  // The picture is read back from what the window shows rather than redrawn
  // (PrintWindow under Wine leaves the child controls out), so whatever still
  // waits to be painted, in the window or its controls (say, where the
  // question's box just was), is painted first. The text cursor of the box
  // with the focus belongs on screen, not on paper.
  const HiddenCaret hiddenCaret;
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT client{};
  if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) {
    return failed();
  }
  const WindowDc screen(window);
  if (!screen.get()) return failed();
  BITMAPINFO picture{};
  picture.bmiHeader.biSize = sizeof(picture.bmiHeader);
  picture.bmiHeader.biWidth = client.right;
  picture.bmiHeader.biHeight = -client.bottom;  // top-down rows
  picture.bmiHeader.biPlanes = 1;
  picture.bmiHeader.biBitCount = 32;
  picture.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const UniqueGdi<HBITMAP> bitmap(
      CreateDIBSection(screen.get(), &picture, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap.get()) return failed();
  {
    const UniqueDc memory(CreateCompatibleDC(screen.get()));
    if (!memory.get()) return failed();
    const Selection selected(memory.get(), bitmap.get());
    if (!selected.ok() ||
        !BitBlt(memory.get(), 0, 0, client.right, client.bottom, screen.get(), 0, 0, SRCCOPY)) {
      return failed();
    }
  }
  GdiFlush();
  const int screenDpiX = GetDeviceCaps(screen.get(), LOGPIXELSX);
  const int screenDpiY = GetDeviceCaps(screen.get(), LOGPIXELSY);

  const UniqueDc printer(CreateDCA(nullptr, printerName.c_str(), nullptr, nullptr));
  if (!printer.get()) return failed();
  // Same physical size as on screen; the origin is the printable area's corner.
  const int width = MulDiv(client.right, GetDeviceCaps(printer.get(), LOGPIXELSX), screenDpiX);
  const int height = MulDiv(client.bottom, GetDeviceCaps(printer.get(), LOGPIXELSY), screenDpiY);
  PrintJob job(printer.get());
  if (!job.started() || StartPage(printer.get()) <= 0) return failed();
  const int lines = StretchDIBits(printer.get(), 0, 0, width, height, 0, 0, client.right,
                                  client.bottom, bits, &picture, DIB_RGB_COLORS, SRCCOPY);
  if (lines <= 0) return failed();  // 0, or GDI_ERROR (-1) from some drivers
  if (EndPage(printer.get()) <= 0) return failed();
  if (!job.finish()) return failed();
  return {};
}

}  // namespace platform
