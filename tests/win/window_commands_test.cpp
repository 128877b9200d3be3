// frmMain's commands on the real window, in-process: buttons clicked, modal
// boxes answered by dialog_driver.h, and each effect seen from outside the
// window: the clipboard by a second process, the printed page by
// check_printout.py, the report on disk, the web address by the recording
// xdg-open. Print also runs at 120 dpi (TAMSKET_DPI), and once more with no
// printer at all (TAMSKET_NO_PRINTER).
#include "ui/main_window.h"

#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/product_id_values.h"
#include "ui/module1.h"
#include "win/dialog_driver.h"
#include "win/peer_process.h"
#include "win/printout.h"
#include "win/win_test_support.h"

namespace {

using dialogs::Answer;
using dialogs::cancelFileDialog;
using dialogs::pressButton;
using dialogs::saveAs;
using dialogs::SeenDialog;
using layout::ControlId;
using wintest::pumpMessages;

// What the load step shows for realisticValue().
constexpr wchar_t kInstalledKey[] = L"M3R7T-JV33T-PWDB4-F9XM2-RYBVD";

int expectedDpi() {
  const char* dpi = std::getenv("TAMSKET_DPI");
  return dpi ? std::atoi(dpi) : 96;
}

// Layout positions in twips, converted the way a person would with a ruler.
int px(int twips) { return MulDiv(twips, expectedDpi(), 1440); }
POINT twips(int x, int y) { return {px(x), px(y)}; }
RECT twipsRect(int left, int top, int width, int height) {
  return {px(left), px(top), px(left) + px(width), px(top) + px(height)};
}

std::wstring textOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

// Replaces a text box's content as a user does: select all, then type over it
// (a backspace for the empty text).
void typeInto(HWND box, const std::wstring& text) {
  SetFocus(box);
  SendMessageW(box, EM_SETSEL, 0, -1);
  if (text.empty()) SendMessageW(box, WM_CHAR, VK_BACK, 1);
  for (const wchar_t c : text) SendMessageW(box, WM_CHAR, c, 1);
  pumpMessages(10);
}

// Leaves the clipboard holding `text`, as another program would.
void placeOnClipboard(HWND owner, const std::wstring& text) {
  ASSERT_TRUE(OpenClipboard(owner));
  EmptyClipboard();
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  EXPECT_NE(SetClipboardData(CF_UNICODETEXT, memory), nullptr);
  CloseClipboard();
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> linesOf(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::optional<std::string> defaultPrinter() {
  char name[256];
  DWORD size = sizeof name;
  if (!GetDefaultPrinterA(name, &size)) return std::nullopt;
  return std::string(name);
}

class WindowCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    wintest::removeExchangeKey();
    wintest::writeProductId(REG_BINARY, realisticValue());
    Module1::initCommonControls();
    frm = MainWindow::create(GetModuleHandleW(nullptr));
    ASSERT_NE(frm, nullptr);
    window = frm->handle();
    frm->show(SW_SHOWNORMAL);
    pumpMessages(100);
    ASSERT_EQ(textOf(control(ControlId::txtKey)), kInstalledKey);
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    pumpMessages();
    wintest::removeExchangeKey();
  }

  HWND control(ControlId id) const { return frm->control(id); }

  // Clicks a button with any modal box it opens answered by `script`, and
  // returns what those boxes showed.
  std::vector<SeenDialog> click(ControlId button, std::vector<Answer> script = {}) {
    dialogs::DialogDriver driver(std::move(script));
    SendMessageW(control(button), BM_CLICK, 0, 0);
    driver.finish();
    for (const auto& problem : driver.problems()) ADD_FAILURE() << problem;
    pumpMessages();
    return driver.seen();
  }

  // A message box of the program's own, modal to the window, with one OK.
  void expectNotice(const SeenDialog& seen, const std::string& text) {
    EXPECT_FALSE(seen.isFileDialog);
    EXPECT_EQ(seen.title, "Tamsket");
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(seen.owner, window);
    EXPECT_FALSE(seen.ownerEnabled);
  }

  // The window outlived what went wrong: it takes input and copies again.
  void expectAliveAndUsable() {
    ASSERT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowEnabled(window)) << "given back by the message box";
    typeInto(control(ControlId::txtKey), L"still here");
    EXPECT_TRUE(click(ControlId::cmdCopy).empty());
    EXPECT_EQ(peer::clipboardSeenByAnotherProcess(), peer::clipboardReport(L"still here"));
  }

  MainWindow* frm = nullptr;
  HWND window = nullptr;
};

TEST_F(WindowCommands, EveryButtonLeavesTheFocusOnTheProductBox) {
  const struct {
    const char* what;
    ControlId button;
    std::vector<Answer> answers;
  } buttons[] = {
      {"Copy", ControlId::cmdCopy, {}},
      {"Save, its dialog cancelled", ControlId::cmdSave, {cancelFileDialog()}},
      {"Print, answered No", ControlId::cmdPrint, {pressButton(IDNO)}},
  };
  for (const auto& b : buttons) {
    for (const ControlId start : {ControlId::txtKey, b.button}) {
      SetFocus(control(start));
      pumpMessages(10);
      ASSERT_EQ(GetFocus(), control(start)) << b.what;
      click(b.button, b.answers);
      EXPECT_EQ(GetFocus(), control(ControlId::txtVer))
          << b.what << ", from the focus on "
          << (start == ControlId::txtKey ? "txtKey" : "the button");
    }
  }
}

// Each case starts from a clipboard that holds something else, so that a Copy
// that places nothing shows.
TEST_F(WindowCommands, CopyPlacesWhatTheKeyBoxHoldsNow) {
  const struct {
    const char* what;
    std::optional<std::wstring> typed;
    std::wstring expected;
  } cases[] = {
      {"as loaded", std::nullopt, L"M3R7T-JV33T-PWDB4-F9XM2-RYBVD"},
      {"after the user typed over it", L"BCDFG-HJKMP", L"BCDFG-HJKMP"},
      {"after the user cleared it", L"", L""},
  };
  for (const auto& c : cases) {
    placeOnClipboard(window, L"left by another program");
    if (c.typed) {
      typeInto(control(ControlId::txtKey), *c.typed);
      ASSERT_EQ(textOf(control(ControlId::txtKey)), *c.typed) << c.what;
    }
    EXPECT_TRUE(click(ControlId::cmdCopy).empty()) << c.what << ": no message";
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(peer::clipboardSeenByAnotherProcess(), peer::clipboardReport(c.expected)) << c.what;
  }
}

TEST_F(WindowCommands, CopyWhileAnotherProgramHoldsTheClipboardTellsTheUser) {
  {
    peer::Helper holder(peer::kHoldClipboard);
    ASSERT_TRUE(holder.started());
    ASSERT_EQ(holder.readLine(), "held");
    const auto seen = click(ControlId::cmdCopy, {pressButton(IDOK)});
    holder.closeInput();
    ASSERT_TRUE(holder.exitedWithin(10000));
    ASSERT_EQ(seen.size(), 1u);
    expectNotice(seen[0],
                 "The key could not be copied: another program is using the clipboard. "
                 "Please try again in a moment.");
  }
  expectAliveAndUsable();
}

// The report comes from the registry at the moment of saving, whatever the
// boxes show; the save flow itself is key_report_test's.
TEST_F(WindowCommands, SaveWritesTheInstalledKeyNotTheBoxes) {
  const std::string folder =
      "Z:\\tmp\\tamsket-window-" + std::to_string(GetCurrentProcessId()) + "\\";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
  const struct {
    const char* what;
    const char* name;
    bool keyInstalled;
    std::string expected;
  } cases[] = {
      {"text typed into both boxes", "typed", true,
       "Product: Microsoft Exchange\r\nM3R7T-JV33T-PWDB4-F9XM2-RYBVD\r\n"},
      {"the key removed after the window opened", "removed", false,
       "Product: Microsoft Exchange\r\n\r\n"},
  };
  for (const auto& c : cases) {
    typeInto(control(ControlId::txtVer), L"Microsoft Access");
    typeInto(control(ControlId::txtKey), L"BCDFG-HJKMP-QRTVW-XY234-6789B");
    ASSERT_EQ(textOf(control(ControlId::txtVer)), L"Microsoft Access");
    ASSERT_EQ(textOf(control(ControlId::txtKey)), L"BCDFG-HJKMP-QRTVW-XY234-6789B");
    if (!c.keyInstalled) wintest::removeExchangeKey();
    const auto seen = click(ControlId::cmdSave, {saveAs(folder + c.name)});
    ASSERT_EQ(seen.size(), 1u) << c.what;
    EXPECT_TRUE(seen[0].isFileDialog) << c.what;
    EXPECT_EQ(seen[0].owner, window) << c.what;
    EXPECT_FALSE(seen[0].ownerEnabled) << c.what << ": modal to the window";
    const std::string path = folder + c.name + ".txt";
    EXPECT_EQ(readFile(path), c.expected) << c.what;
    DeleteFileA(path.c_str());
  }
  RemoveDirectoryA(folder.c_str());
}

// The link is a windowless label: the window itself sees the mouse over it.
// A click is a press and a release both on the link.
TEST_F(WindowCommands, OnlyAClickOnTheLinkOpensTheMakersSite) {
  const std::string log = wintest::windowsPathFromEnv("TAMSKET_XDG_OPEN_LOG");
  ASSERT_FALSE(log.empty()) << "run this under wine-run.sh";
  const std::size_t linesBefore = linesOf(log).size();
  const RECT link = twipsRect(3960, 480, 1935, 255);
  const POINT onLink = {(link.left + link.right) / 2, (link.top + link.bottom) / 2};
  const POINT onBackground = twips(1000, 2600);
  const POINT onTitle = twips(600, 300);
  const auto press = [&](POINT down, POINT up) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(down.x, down.y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(up.x, up.y));
    pumpMessages(10);
  };

  const struct {
    const char* what;
    POINT down, up;
  } notClicks[] = {
      {"pressed on the link, released on the background", onLink, onBackground},
      {"pressed on the link, released on the title", onLink, onTitle},
      {"pressed on the background, released on the link", onBackground, onLink},
  };
  for (const auto& n : notClicks) press(n.down, n.up);
  press(onLink, onLink);

  // The shell hands the address to xdg-open in the background; whatever the
  // presses above handed over would be there by the time the click's is.
  ASSERT_TRUE(wintest::pumpUntil([&] { return linesOf(log).size() > linesBefore; }, 10000))
      << "nothing reached xdg-open within 10 s";
  pumpMessages(500);
  const std::vector<std::string> lines = linesOf(log);
  // Wine's shell turns the bare address into a URL before handing it over.
  EXPECT_EQ(std::vector<std::string>(lines.begin() + linesBefore, lines.end()),
            std::vector<std::string>{"http://www.example.com/"})
      << "one click, one address; none for the presses that ended elsewhere";
}

class WindowPrint : public WindowCommands {};

// A job reaches CUPS before the print call returns (EndDoc hands it over);
// its PDF takes a moment longer.
TEST_F(WindowPrint, AnsweredNoAsksFirstAndPrintsNothing) {
  const std::string pdfFolder = wintest::windowsPathFromEnv("TAMSKET_PDF_DIR");
  const auto printer = defaultPrinter();
  ASSERT_TRUE(printer && !pdfFolder.empty()) << "wine_env_up sets up the CUPS queue PDF";
  const auto jobsBefore = printout::cupsJobs(*printer);
  ASSERT_TRUE(jobsBefore) << "lpstat could not be asked";
  const auto pdfsBefore = printout::tamsketPdfs(pdfFolder);

  const auto seen = click(ControlId::cmdPrint, {pressButton(IDNO)});
  ASSERT_EQ(seen.size(), 1u) << "the question, nothing after it";
  EXPECT_FALSE(seen[0].isFileDialog);
  EXPECT_EQ(seen[0].title, "Tamsket");
  EXPECT_EQ(seen[0].text, "Are you sure you want to print this form?");
  EXPECT_EQ(seen[0].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(seen[0].defaultButton, IDYES);
  EXPECT_FALSE(seen[0].hasIcon);
  EXPECT_EQ(seen[0].owner, window);
  EXPECT_FALSE(seen[0].ownerEnabled) << "modal to the window";

  EXPECT_EQ(printout::cupsJobsAddedSince(*printer, *jobsBefore), std::set<std::string>{})
      << "a print job was sent";
  pumpMessages(500);
  EXPECT_EQ(printout::pdfsAddedSince(pdfFolder, pdfsBefore), std::set<std::string>{});
}

// Leaves check_printout.py (win_window_printout) the page to compare with the
// window: the band across the top with its texts, grey between it and the
// captions, the Copy button.
TEST_F(WindowPrint, AnsweredYesPrintsTheWindowOnOnePage) {
  const std::string record = printout::recordPath("window");
  const std::string pdfFolder = wintest::windowsPathFromEnv("TAMSKET_PDF_DIR");
  const auto printer = defaultPrinter();
  ASSERT_TRUE(printer && !pdfFolder.empty() && !record.empty())
      << "run this under wine-run.sh, after wine_env_up";
  DeleteFileA(record.c_str());  // an earlier run's record must not stand in for this one
  const auto jobsBefore = printout::cupsJobs(*printer);
  ASSERT_TRUE(jobsBefore) << "lpstat could not be asked";
  const auto pdfsBefore = printout::tamsketPdfs(pdfFolder);
  HDC screen = GetDC(window);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(window, screen);
  ASSERT_EQ(dpi, expectedDpi());
  RECT client{};
  GetClientRect(window, &client);
  ASSERT_EQ(client.right, px(6120));
  ASSERT_EQ(client.bottom, px(2795));

  const auto seen = click(ControlId::cmdPrint, {pressButton(IDYES)});
  ASSERT_EQ(seen.size(), 1u) << "the question, and no message after printing";
  EXPECT_EQ(seen[0].text, "Are you sure you want to print this form?");

  // Already with CUPS, as the No case above relies on.
  const auto jobsAdded = printout::cupsJobsAddedSince(*printer, *jobsBefore);
  ASSERT_TRUE(jobsAdded) << "lpstat could not be asked";
  ASSERT_EQ(jobsAdded->size(), 1u) << "one job";
  const std::set<std::string> added = printout::waitForNewPdfs(pdfFolder, pdfsBefore);
  ASSERT_FALSE(added.empty()) << "no new Tamsket*.pdf in " << pdfFolder << " within 60 s";
  EXPECT_EQ(added.size(), 1u) << "more than one document printed";

  printout::Record page;
  page.pdfName = *added.begin();
  page.dpi = dpi;
  page.client = {0, 0, px(6120), px(2795)};
  page.band = {0, 0, px(6120), px(735)};  // Label1 reaches past the right edge
  page.bandColour = GetSysColor(COLOR_HIGHLIGHT);
  page.bandPlain = RECT{0, px(480), px(3960), px(735)};  // below the title, left of the link
  page.background = RGB(0xE0, 0xE0, 0xE0);
  page.button = twipsRect(240, 1200, 1575, 255);
  page.grey = RECT{0, px(735), px(6120), px(960)};  // down to the "Product" caption
  ASSERT_TRUE(printout::writeRecord(record, page)) << "cannot write " << record;
}

// Runs as win_window_commands_no_printer, with CUPS out of Wine's reach.
class WithoutPrinter : public WindowCommands {};

TEST_F(WithoutPrinter, PrintTellsTheUserAndTheWindowCarriesOn) {
  char name[256];
  DWORD size = sizeof name;
  const BOOL found = GetDefaultPrinterA(name, &size);
  const DWORD error = GetLastError();
  ASSERT_FALSE(found) << "this run should see no printer, but the default is " << name;
  ASSERT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  const auto seen = click(ControlId::cmdPrint, {pressButton(IDYES), pressButton(IDOK)});
  ASSERT_EQ(seen.size(), 2u) << "the question, then one message";
  EXPECT_EQ(seen[0].text, "Are you sure you want to print this form?");
  expectNotice(seen[1], "There is no printer to print to. Set up a default printer and try again.");
  expectAliveAndUsable();
}

}  // namespace
