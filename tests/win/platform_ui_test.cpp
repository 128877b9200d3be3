// Clipboard, printing and the shell as the main window's commands use them,
// each checked from outside: the clipboard by a second process, the page by
// the PDF that CUPS writes (check_printout.py), the web address by the
// recording xdg-open that wine-run.sh puts first on the PATH.
#include <windows.h>
#include <shellapi.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <set>
#include <string>

#include "platform/clipboard.h"
#include "platform/print_window.h"
#include "platform/shell.h"
#include "win/win_test_support.h"

namespace {

// Roles of this program when it runs as the second process.
constexpr char kReadClipboard[] = "--read-clipboard";  // prints the clipboard text
constexpr char kHoldClipboard[] = "--hold-clipboard";  // keeps it open until stdin closes

std::string toUtf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
  result.resize(size - 1);
  return result;
}

std::string toAnsi(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
  result.resize(size - 1);
  return result;
}

void writeOut(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

// One line per format: "unicode:" and "ansi:" followed by the text (UTF-8 and
// the 8-bit code page), or "<format> absent".
int readClipboard() {
  if (!OpenClipboard(nullptr)) return 2;
  std::string report;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    report += "unicode:" + toUtf8(static_cast<const wchar_t*>(GlobalLock(data))) + "\n";
    GlobalUnlock(data);
  } else {
    report += "unicode absent\n";
  }
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    report += std::string("ansi:") + static_cast<const char*>(GlobalLock(data)) + "\n";
    GlobalUnlock(data);
  } else {
    report += "ansi absent\n";
  }
  CloseClipboard();
  writeOut(report);
  return 0;
}

int holdClipboard() {
  if (!OpenClipboard(nullptr)) return 2;
  writeOut("held\n");
  char byte;
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
  }
  CloseClipboard();
  return 0;
}

class UniqueHandle {
 public:
  UniqueHandle() = default;
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* receive() { return &handle_; }
  void reset() {
    if (handle_) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// This program run again in one of the roles above, its stdin and stdout piped.
// Waiting for it, the test handles its messages as a window's thread does: a
// Wine program opening the clipboard first asks the clipboard owner's window
// to sync with X11, and waits 5 s for a thread that is merely blocked.
class Helper {
 public:
  explicit Helper(const char* role) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueHandle childIn, childOut;
    if (!CreatePipe(childIn.receive(), toChild_.receive(), &inherit, 0) ||
        !CreatePipe(fromChild_.receive(), childOut.receive(), &inherit, 0)) {
      return;
    }
    SetHandleInformation(toChild_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild_.get(), HANDLE_FLAG_INHERIT, 0);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = std::string("\"") + self + "\" " + role;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn.get();
    startup.hStdOutput = childOut.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &info)) {
      *process_.receive() = info.hProcess;
      CloseHandle(info.hThread);
    }
  }
  ~Helper() {
    if (process_.get() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 1);
    }
  }
  bool started() const { return process_.get() != nullptr; }

  // Everything the helper writes, up to its exit.
  std::string output() {
    if (!exitedWithin(10000)) return "helper still running after 10 s";
    std::string text;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(fromChild_.get(), buffer, sizeof(buffer), &read, nullptr) && read != 0) {
      text.append(buffer, read);
    }
    return text;
  }
  std::string readLine() {
    wintest::pumpUntil(
        [this] {
          DWORD available = 0;
          return !PeekNamedPipe(fromChild_.get(), nullptr, 0, nullptr, &available, nullptr) ||
                 available != 0;
        },
        10000);
    std::string line;
    char c;
    DWORD read = 0;
    while (ReadFile(fromChild_.get(), &c, 1, &read, nullptr) && read != 0 && c != '\n') {
      line += c;
    }
    return line;
  }
  void closeInput() { toChild_.reset(); }
  bool exitedWithin(DWORD ms) {
    return wintest::pumpUntil(
        [this] { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }, ms);
  }

 private:
  UniqueHandle toChild_, fromChild_, process_;
};

std::string clipboardSeenByAnotherProcess() {
  Helper reader(kReadClipboard);
  if (!reader.started()) return "helper did not start";
  return reader.output();
}

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
              "unicode:" + toUtf8(c.text) + "\nansi:" + toAnsi(c.text) + "\n")
        << c.what;
  }
}

TEST_F(ClipboardText, HeldOpenByAnotherProgramGivesUpAsBusy) {
  Helper holder(kHoldClipboard);
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

std::string rgb(COLORREF colour) {
  return std::to_string(GetRValue(colour)) + " " + std::to_string(GetGValue(colour)) + " " +
         std::to_string(GetBValue(colour));
}

std::string rect(const RECT& r) {
  return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
         " " + std::to_string(r.bottom);
}

// The PDF files cups-pdf has written for documents named Tamsket.
std::set<std::string> tamsketPdfs(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\Tamsket*.pdf").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.insert(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// Prints, waits for the job's PDF and leaves check_printout.py a record of
// which file it is and what it should show.
TEST(PrintWindowImage, SendsTheWindowToTheDefaultPrinter) {
  char printer[256];
  DWORD size = sizeof(printer);
  ASSERT_TRUE(GetDefaultPrinterA(printer, &size))
      << "no default printer: wine_env_up sets up the CUPS queue PDF";
  const std::string record = wintest::windowsPathFromEnv("TAMSKET_PRINTOUT_RECORD");
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

  const std::set<std::string> before = tamsketPdfs(pdfFolder);
  ASSERT_EQ(platform::printWindowImage(window.handle()), platform::PrintResult::printed);
  std::set<std::string> added;
  const bool landed = wintest::pumpUntil(
      [&] {
        added.clear();
        for (const auto& name : tamsketPdfs(pdfFolder)) {
          if (!before.count(name)) added.insert(name);
        }
        return !added.empty();
      },
      60000);
  ASSERT_TRUE(landed) << "no new Tamsket*.pdf in " << pdfFolder << " within 60 s";
  ASSERT_EQ(added.size(), 1u) << "more than one job printed";

  std::ofstream out(record, std::ios::trunc);
  out << "pdf " << std::getenv("TAMSKET_PDF_DIR") << "/" << *added.begin() << "\n"
      << "dpi " << dpi << "\n"
      << "client 0 0 " << kClientWidth << " " << kClientHeight << "\n"
      << "band " << rect(kBand) << " " << rgb(GetSysColor(COLOR_HIGHLIGHT)) << "\n"
      << "background " << rgb(kGrey) << "\n"
      << "button " << rect(kButton) << "\n";
  ASSERT_TRUE(out.good()) << "cannot write " << record;
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

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == kReadClipboard) return readClipboard();
  if (argc == 2 && std::string(argv[1]) == kHoldClipboard) return holdClipboard();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
