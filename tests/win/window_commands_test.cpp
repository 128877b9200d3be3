// frmMain's commands on the real window, in-process, each effect seen from
// outside it: the clipboard by a second process, the page by check_printout.py,
// the report on disk, the web address by the recording xdg-open.
#include "ui/main_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

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
using ui::layout::ControlId;
using wintest::px;
using wintest::textOf;
using wintest::twips;
using wintest::twipsRect;

constexpr char kQuestion[] = "Are you sure you want to print this form?";

class WindowCommands : public wintest::WindowTest {
 protected:
  // Clicks a button, with any modal box it opens answered by `script`, and
  // returns what those boxes showed.
  std::vector<SeenDialog> click(ControlId button, std::vector<Answer> script = {}) {
    const auto seen = dialogs::answering(std::move(script),
                                         [&] { SendMessageW(control(button), BM_CLICK, 0, 0); });
    wintest::pumpMessages();
    return seen;
  }

  // Replaces a text box's content as a user does: select all, then type over
  // it (a backspace for the empty text).
  void typeInto(ControlId box, const std::wstring& text) {
    SetFocus(control(box));
    SendMessageW(control(box), EM_SETSEL, 0, -1);
    if (text.empty()) SendMessageW(control(box), WM_CHAR, VK_BACK, 1);
    for (const wchar_t c : text) SendMessageW(control(box), WM_CHAR, c, 1);
    wintest::pumpMessages(10);
    ASSERT_EQ(textOf(control(box)), text);
  }

  // A message box of the program's own, modal to the window, with one OK.
  void expectNotice(const SeenDialog& seen, const std::string& text) {
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
    typeInto(ControlId::txtKey, L"still here");
    EXPECT_TRUE(click(ControlId::cmdCopy).empty());
    EXPECT_EQ(peer::clipboardSeenByAnotherProcess(), peer::clipboardReport(L"still here"));
  }
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
      wintest::pumpMessages(10);
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
    peer::placeAnsiText(window, "left by another program");
    if (c.typed) typeInto(ControlId::txtKey, *c.typed);
    EXPECT_TRUE(click(ControlId::cmdCopy).empty()) << c.what << ": no message";
    EXPECT_EQ(peer::clipboardSeenByAnotherProcess(), peer::clipboardReport(c.expected)) << c.what;
  }
}

TEST_F(WindowCommands, CopyWhileAnotherProgramHoldsTheClipboardTellsTheUser) {
  peer::Peer holder(peer::kHoldClipboard);
  ASSERT_EQ(holder.read(), "held\n");
  const auto seen = click(ControlId::cmdCopy, {pressButton(IDOK)});
  ASSERT_TRUE(holder.end());
  ASSERT_EQ(seen.size(), 1u);
  expectNotice(seen[0],
               "The key could not be copied: another program is using the clipboard. "
               "Please try again in a moment.");
  expectAliveAndUsable();
}

// The report comes from the registry at the moment of saving, whatever the
// boxes show; the save flow itself is key_report_test's.
TEST_F(WindowCommands, SaveWritesTheInstalledKeyNotTheBoxes) {
  const std::string name = "Z:\\tmp\\tamsket-window-" + std::to_string(GetCurrentProcessId());
  typeInto(ControlId::txtVer, L"Microsoft Access");
  typeInto(ControlId::txtKey, L"BCDFG-HJKMP-QRTVW-XY234-6789B");
  const auto seen = click(ControlId::cmdSave, {saveAs(name)});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].owner, window);
  EXPECT_FALSE(seen[0].ownerEnabled) << "modal to the window";
  EXPECT_EQ(wintest::readFile(name + ".txt"),
            "Product: Microsoft Exchange\r\nM3R7T-JV33T-PWDB4-F9XM2-RYBVD\r\n");
  DeleteFileA((name + ".txt").c_str());
}

// The link is a windowless label: the window itself sees the mouse over it.
// A click is a press and a release both on the link.
TEST_F(WindowCommands, OnlyAClickOnTheLinkOpensTheMakersSite) {
  const std::string log = wintest::windowsPathFromEnv("TAMSKET_XDG_OPEN_LOG");
  ASSERT_FALSE(log.empty()) << "run this under wine-run.sh";
  const std::size_t linesBefore = wintest::linesOf(log).size();
  const RECT link = twipsRect(3960, 480, 1935, 255);
  const POINT onLink = {(link.left + link.right) / 2, (link.top + link.bottom) / 2};
  const POINT onBackground = twips(1000, 2600);
  const POINT onTitle = twips(600, 300);
  // Pressed here, released there: three that end elsewhere, then a click.
  const std::pair<POINT, POINT> presses[] = {
      {onLink, onBackground}, {onLink, onTitle}, {onBackground, onLink}, {onLink, onLink}};
  for (const auto& [down, up] : presses) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(down.x, down.y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(up.x, up.y));
    wintest::pumpMessages(10);
  }
  // xdg-open runs in the background: by the time the click's address is there,
  // any from the presses before it would be too.
  ASSERT_TRUE(wintest::pumpUntil([&] { return wintest::linesOf(log).size() > linesBefore; }, 10000))
      << "nothing reached xdg-open within 10 s";
  wintest::pumpMessages(500);
  const std::vector<std::string> lines = wintest::linesOf(log);
  // Wine's shell turns the bare address into a URL before handing it over.
  EXPECT_EQ(std::vector<std::string>(lines.begin() + linesBefore, lines.end()),
            std::vector<std::string>{"http://www.example.com/"})
      << "one click, one address; none for the presses that ended elsewhere";
}

// Also run at 120 dpi; check_printout.py (win_window_printout) compares the
// page with the window. Answered No, Print must send no job.
class WindowPrint : public WindowCommands {};

// The focus goes to the product box before the question: its text cursor,
// kept from blinking off meanwhile, must not be printed with the window.
TEST_F(WindowPrint, AnsweredNoPrintsNothingAndYesTheWindowOnOnePage) {
  const HWND txtVer = control(ControlId::txtVer);
  SetFocus(txtVer);
  SendMessageW(txtVer, EM_SETSEL, 18, 18);  // after "Microsoft Exchange"
  const UINT blink = GetCaretBlinkTime();
  SetCaretBlinkTime(60000);
  wintest::pumpMessages();
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  ASSERT_TRUE(GetGUIThreadInfo(GetCurrentThreadId(), &gui));
  ASSERT_EQ(gui.hwndCaret, txtVer);
  RECT caret = gui.rcCaret;
  ASSERT_GT(caret.bottom - caret.top, 4) << "a visible text cursor";
  MapWindowPoints(txtVer, window, reinterpret_cast<POINT*>(&caret), 2);
  const printout::Page page{
      {0, 0, px(6120), px(2795)},
      {0, 0, px(6120), px(735)},  // Label1 reaches past the right edge
      GetSysColor(COLOR_HIGHLIGHT),
      RGB(0xE0, 0xE0, 0xE0),
      twipsRect(240, 1200, 1575, 255),
      RECT{0, px(480), px(3960), px(735)},  // below the title, left of the link
      RECT{0, px(735), px(6120), px(960)},  // down to the "Product" caption
      caret,
  };
  printout::printAndRecord("window", page, [&] {
    const auto jobs = printout::cupsJobs(*printout::defaultPrinter());
    const auto no = click(ControlId::cmdPrint, {pressButton(IDNO)});
    EXPECT_EQ(printout::cupsJobs(*printout::defaultPrinter()), jobs) << "a job sent on No";
    ASSERT_EQ(no.size(), 1u) << "the question, nothing after it";
    EXPECT_EQ(no[0].title, "Tamsket");
    EXPECT_EQ(no[0].text, kQuestion);
    EXPECT_EQ(no[0].buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(no[0].defaultButton, IDYES);
    EXPECT_FALSE(no[0].hasIcon);
    EXPECT_EQ(no[0].owner, window);
    EXPECT_FALSE(no[0].ownerEnabled) << "modal to the window";
    const auto yes = click(ControlId::cmdPrint, {pressButton(IDYES)});
    ASSERT_EQ(yes.size(), 1u) << "the question, and no message after printing";
    EXPECT_EQ(yes[0].text, kQuestion);
  });
  SetCaretBlinkTime(blink);
}

// Runs as win_window_commands_no_printer, with CUPS out of Wine's reach.
class WithoutPrinter : public WindowCommands {};

TEST_F(WithoutPrinter, PrintTellsTheUserAndTheWindowCarriesOn) {
  ASSERT_EQ(printout::defaultPrinter(), std::nullopt) << "this run should see no printer";
  const auto seen = click(ControlId::cmdPrint, {pressButton(IDYES), pressButton(IDOK)});
  ASSERT_EQ(seen.size(), 2u) << "the question, then one message";
  EXPECT_EQ(seen[0].text, kQuestion);
  expectNotice(seen[1], "There is no printer to print to. Set up a default printer and try again.");
  expectAliveAndUsable();
}

}  // namespace
