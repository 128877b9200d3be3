// Clipboard, printing and the shell as the main window's commands use them,
// each checked from outside: the clipboard by a second process, the page by
// the PDF that CUPS writes (check_printout.py), the web address by the
// recording xdg-open that wine-run.sh puts first on the PATH.
#include <windows.h>
#include <shellapi.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <future>
#include <set>
#include <string>

#include "platform/clipboard.h"
#include "platform/print_window.h"
#include "platform/shell.h"
#include "win/peer_process.h"
#include "win/printout.h"
#include "win/win_test_support.h"

namespace {

using peer::clipboardSeenByAnotherProcess;
using peer::Helper;

// Leaves the clipboard holding only 8-bit text, as older programs put it there.
void placeAnsiText(HWND owner, const char* text) {
  ASSERT_TRUE(OpenClipboard(owner));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
  std::strcpy(static_cast<char*>(GlobalLock(memory)), text);
  GlobalUnlock(memory);
  EXPECT_NE(SetClipboardData(CF_TEXT, memory), nullptr);
  CloseClipboard();
}

class ClipboardText : public ::testing::Test {
 protected:
  void SetUp() override {
    // Wine keeps the clipboard only while its desktop process runs, and that
    // process stays only while some window exists.
    owner_ = CreateWindowExA(0, "STATIC", "clipboard owner", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10,
                             nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner_, nullptr);
    wintest::pumpMessages();
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
    placeAnsiText(owner_, "previous text");
    EXPECT_EQ(platform::setClipboardText(owner_, c.text), platform::ClipboardResult::placed)
        << c.what;
    EXPECT_EQ(clipboardSeenByAnotherProcess(),
              "unicode:" + peer::toUtf8(c.text) + "\nansi:" + peer::toAnsi(c.text) + "\n")
        << c.what;
  }
}

TEST_F(ClipboardText, HeldOpenByAnotherProgramGivesUpAsBusy) {
  Helper holder(peer::kHoldClipboard);
  ASSERT_TRUE(holder.started());
  ASSERT_EQ(holder.readLine(), "held");

  auto attempt = std::async(std::launch::async, [this] {
    return platform::setClipboardText(owner_, L"BCDFG-HJKMP-QRTVW-XY234-6789B");
  });
  // A guard against waiting for ever, not a measure of the retries.
  const bool gaveUp = wintest::pumpUntil(
      [&] { return attempt.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
      20000);
  if (!gaveUp) holder.closeInput();  // so that the attempt ends and the test with it
  ASSERT_TRUE(gaveUp) << "still trying to open the clipboard after 20 s";
  EXPECT_EQ(attempt.get(), platform::ClipboardResult::busy);

  holder.closeInput();
  ASSERT_TRUE(holder.exitedWithin(10000));
  EXPECT_EQ(platform::setClipboardText(owner_, L"after release"),
            platform::ClipboardResult::placed);
  EXPECT_EQ(clipboardSeenByAnotherProcess(), "unicode:after release\nansi:after release\n");
}

// A stand-in for the main window: light grey, a band in the highlight colour
// with a text in it, and a child button below the band.
constexpr int kClientWidth = 400;
constexpr int kClientHeight = 300;
constexpr RECT kBand = {0, 0, kClientWidth, 80};
constexpr RECT kButton = {24, 200, 24 + 120, 200 + 32};
constexpr COLORREF kGrey = RGB(200, 200, 200);

LRESULT CALLBACK paintTestWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

class TestWindow {
 public:
  TestWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = paintTestWindow;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = background_;
    windowClass.lpszClassName = "TamsketPrintTest";
    RegisterClassA(&windowClass);
    window_ = CreateWindowExA(0, "TamsketPrintTest", "Tamsket", WS_POPUP | WS_VISIBLE, 40, 40,
                              kClientWidth, kClientHeight, nullptr, nullptr, nullptr, nullptr);
    CreateWindowExA(0, "BUTTON", "Copy", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, kButton.left,
                    kButton.top, kButton.right - kButton.left, kButton.bottom - kButton.top,
                    window_, nullptr, nullptr, nullptr);
    wintest::pumpMessages();
    UpdateWindow(window_);
  }
  ~TestWindow() {
    DestroyWindow(window_);
    UnregisterClassA("TamsketPrintTest", GetModuleHandleA(nullptr));
    DeleteObject(background_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND handle() const { return window_; }

 private:
  HBRUSH background_ = CreateSolidBrush(kGrey);
  HWND window_ = nullptr;
};

// Prints, waits for the job's PDF and leaves check_printout.py a record of
// which file it is and what it should show.
TEST(PrintWindowImage, SendsTheWindowToTheDefaultPrinter) {
  char printer[256];
  DWORD size = sizeof(printer);
  ASSERT_TRUE(GetDefaultPrinterA(printer, &size))
      << "no default printer: wine_env_up sets up the CUPS queue PDF";
  const std::string record = printout::recordPath();
  const std::string pdfFolder = wintest::windowsPathFromEnv("TAMSKET_PDF_DIR");
  ASSERT_FALSE(record.empty() || pdfFolder.empty()) << "run this under wine-run.sh";
  DeleteFileA(record.c_str());  // an earlier run's record must not stand in for this one

  TestWindow window;
  ASSERT_NE(window.handle(), nullptr);
  RECT client{};
  GetClientRect(window.handle(), &client);
  ASSERT_EQ(client.right, kClientWidth);
  ASSERT_EQ(client.bottom, kClientHeight);
  HDC screen = GetDC(window.handle());
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(window.handle(), screen);

  const std::set<std::string> before = printout::tamsketPdfs(pdfFolder);
  ASSERT_EQ(platform::printWindowImage(window.handle()), platform::PrintResult::printed);
  const std::set<std::string> added = printout::waitForNewPdfs(pdfFolder, before);
  ASSERT_FALSE(added.empty()) << "no new Tamsket*.pdf in " << pdfFolder << " within 60 s";
  ASSERT_EQ(added.size(), 1u) << "more than one job printed";

  printout::Record page;
  page.pdfName = *added.begin();
  page.dpi = dpi;
  page.client = {0, 0, kClientWidth, kClientHeight};
  page.band = kBand;
  page.bandColour = GetSysColor(COLOR_HIGHLIGHT);
  page.background = kGrey;
  page.button = kButton;
  ASSERT_TRUE(printout::writeRecord(record, page)) << "cannot write " << record;
}

// Runs as win_platform_ui_no_printer, with CUPS out of Wine's reach.
TEST(WithoutPrinter, PrintWindowImageReportsNoPrinter) {
  char printer[256];
  DWORD size = sizeof(printer);
  const BOOL found = GetDefaultPrinterA(printer, &size);
  const DWORD error = GetLastError();
  ASSERT_FALSE(found) << "this run should see no printer, but the default is " << printer;
  ASSERT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  TestWindow window;
  EXPECT_EQ(platform::printWindowImage(window.handle()), platform::PrintResult::noPrinter);
}

bool logHasLine(const std::string& path, const std::string& expected) {
  std::ifstream log(path);
  std::string line;
  while (std::getline(log, line)) {
    if (line == expected) return true;
  }
  return false;
}

TEST(ShellOpen, OpensAWebAddressInTheBrowserAndPassesFailuresBack) {
  const std::string log = wintest::windowsPathFromEnv("TAMSKET_XDG_OPEN_LOG");
  ASSERT_FALSE(log.empty()) << "run this under wine-run.sh";
  // Unique per run, so that an earlier run's line does not count.
  const std::string address = "http://tamsket.test/" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetTickCount());

  const auto opened = reinterpret_cast<INT_PTR>(
      platform::shellExecuteA(nullptr, nullptr, address.c_str(), nullptr, nullptr, SW_HIDE));
  EXPECT_GT(opened, 32);
  // xdg-open runs in the background, after ShellExecuteA has returned.
  EXPECT_TRUE(wintest::pumpUntil([&] { return logHasLine(log, address); }, 10000))
      << address << " did not reach xdg-open within 10 s";

  const auto missing = reinterpret_cast<INT_PTR>(platform::shellExecuteA(
      nullptr, nullptr, "Z:\\nonexistent\\tamsket.txt", nullptr, nullptr, SW_HIDE));
  EXPECT_EQ(missing, SE_ERR_FNF);
}

}  // namespace
