// Clipboard, printing and the shell as the main window's commands use them,
// each checked from outside: the clipboard by a second process, the page by
// the PDF that CUPS writes (check_printout.py), the web address by the
// recording xdg-open that wine-run.sh puts first on the PATH.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/clipboard.h"
#include "platform/print_window.h"
#include "platform/shell.h"
#include "win/peer_process.h"
#include "win/printout.h"
#include "win/win_test_support.h"

namespace {

// "placed", "busy" or "failed"; a failure must come with the error that caused it.
std::string placeText(HWND owner, const std::wstring& text) {
  const platform::ClipboardStatus placed = platform::setClipboardText(owner, text);
  if (placed) return "placed";
  EXPECT_NE(placed.error().error, 0u);
  return placed.error().problem == platform::ClipboardProblem::busy ? "busy" : "failed";
}

// "printed", "no printer" or "failed", which must come with its error.
std::string print(HWND window) {
  const platform::PrintStatus printed = platform::printWindowImage(window);
  if (printed) return "printed";
  if (printed.error().problem == platform::PrintProblem::noPrinter) {
    EXPECT_EQ(printed.error().error, 0u);
    return "no printer";
  }
  EXPECT_NE(printed.error().error, 0u);
  return "failed";
}

class ClipboardText : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = CreateWindowExA(0, "STATIC", "clipboard owner", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10,
                             nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override { DestroyWindow(owner_); }
  HWND owner_ = nullptr;
};

// The text replaces what was there in every format: 8-bit text left behind
// would be what older programs paste.
TEST_F(ClipboardText, AnotherProcessReadsExactlyTheTextPlaced) {
  const struct {
    const char* what;
    std::wstring text;
  } cases[] = {
      {"a product key", L"BCDFG-HJKMP-QRTVW-XY234-6789B"},
      {"letters beyond ASCII", L"Schl\u00fcssel \u00e9t\u00e9"},
      {"the empty text, replacing the previous one", L""},
  };
  for (const auto& c : cases) {
    peer::placeAnsiText(owner_, "previous text");
    EXPECT_EQ(placeText(owner_, c.text), "placed") << c.what;
    EXPECT_EQ(peer::clipboardSeenByAnotherProcess(), peer::clipboardReport(c.text)) << c.what;
  }
}

TEST_F(ClipboardText, HeldOpenByAnotherProgramGivesUpAsBusy) {
  peer::Peer holder(peer::kHoldClipboard);
  ASSERT_EQ(holder.read(), "held\n");
  EXPECT_EQ(placeText(owner_, L"BCDFG-HJKMP-QRTVW-XY234-6789B"), "busy");
  ASSERT_TRUE(holder.end());
  EXPECT_EQ(placeText(owner_, L"after release"), "placed");
  EXPECT_EQ(peer::clipboardSeenByAnotherProcess(), peer::clipboardReport(L"after release"));
}

// A stand-in for the main window: light grey, a band in the highlight colour
// with a text in it, and a child button below the band.
constexpr RECT kBand = {0, 0, 400, 80};
constexpr RECT kButton = {24, 200, 144, 232};
constexpr COLORREF kGrey = RGB(200, 200, 200);

LRESULT CALLBACK paintStandIn(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  FillRect(dc, &kBand, GetSysColorBrush(COLOR_HIGHLIGHT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  RECT text = kBand;
  DrawTextA(dc, "Microsoft Exchange", -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  EndPaint(window, &paint);
  return 0;
}

HWND createStandIn() {
  static const ATOM standIn = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = paintStandIn;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = CreateSolidBrush(kGrey);
    windowClass.lpszClassName = "TamsketPrintTest";
    return RegisterClassA(&windowClass);
  }();
  HWND window = CreateWindowExA(0, MAKEINTATOM(standIn), "Tamsket", WS_POPUP | WS_VISIBLE, 40, 40,
                                400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  CreateWindowExA(0, "BUTTON", "Copy", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, kButton.left,
                  kButton.top, kButton.right - kButton.left, kButton.bottom - kButton.top, window,
                  nullptr, nullptr, nullptr);
  wintest::pumpMessages();
  UpdateWindow(window);
  return window;
}

TEST(PrintWindowImage, SendsTheWindowToTheDefaultPrinter) {
  HWND window = createStandIn();
  const printout::Page page{
      {0, 0, 400, 300}, kBand, GetSysColor(COLOR_HIGHLIGHT), kGrey, kButton, {}, {}, {}};
  printout::printAndRecord("", page, [&] { EXPECT_EQ(print(window), "printed"); });
  DestroyWindow(window);
}

// Runs as win_platform_ui_no_printer, with CUPS out of Wine's reach.
TEST(WithoutPrinter, PrintWindowImageReportsNoPrinter) {
  ASSERT_EQ(printout::defaultPrinter(), std::nullopt) << "this run should see no printer";
  HWND window = createStandIn();
  EXPECT_EQ(print(window), "no printer");
  DestroyWindow(window);
}

TEST(ShellOpen, OpensAWebAddressInTheBrowserAndPassesFailuresBack) {
  const std::string log = wintest::windowsPathFromEnv("TAMSKET_XDG_OPEN_LOG");
  ASSERT_FALSE(log.empty()) << "run this under wine-run.sh";
  // Unique per run, so that an earlier run's line does not count.
  const std::string address = "http://tamsket.test/" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetTickCount());
  EXPECT_GT(reinterpret_cast<INT_PTR>(platform::shellExecuteA(nullptr, nullptr, address.c_str(),
                                                              nullptr, nullptr, SW_HIDE)),
            32);
  // xdg-open runs in the background, after ShellExecuteA has returned.
  EXPECT_TRUE(wintest::pumpUntil(
      [&] {
        const auto lines = wintest::linesOf(log);
        return std::find(lines.begin(), lines.end(), address) != lines.end();
      },
      10000))
      << address << " did not reach xdg-open within 10 s";
  EXPECT_EQ(reinterpret_cast<INT_PTR>(platform::shellExecuteA(
                nullptr, nullptr, "Z:\\nonexistent\\tamsket.txt", nullptr, nullptr, SW_HIDE)),
            SE_ERR_FNF);
}

}  // namespace
