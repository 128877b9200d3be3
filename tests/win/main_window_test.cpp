// frmMain in-process: layout at the DPI in force, fonts, texts, tab order,
// what is painted, the pointer, and the load step against the real registry.
// Run twice by ctest: in a 96 dpi prefix and in a 120 dpi one (TAMSKET_DPI).
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/product_id_values.h"
#include "ui/module1.h"
#include "win/win_test_support.h"

namespace {

using layout::ControlId;
using wintest::pumpMessages;

int expectedDpi() {
  const char* dpi = std::getenv("TAMSKET_DPI");
  return dpi ? std::atoi(dpi) : 96;
}

// The layout's twips divided by 15 (96 dpi) and by 12 (120 dpi), rounded.
struct Expected {
  ControlId id;
  const wchar_t* windowClass;
  const wchar_t* text;
  RECT at96;
  RECT at120;
  LONG fontHeight96, fontHeight120;
  LONG weight;
  DWORD style;  // beyond WS_CHILD | WS_VISIBLE | WS_TABSTOP
};

// clang-format off
constexpr Expected kWindowed[] = {
    {ControlId::txtKey, L"Edit", nullptr, {144, 128, 393, 153}, {180, 160, 491, 191}, -11, -14, 400, ES_AUTOHSCROLL},
    {ControlId::txtVer, L"Edit", L"Microsoft Exchange", {144, 80, 393, 105}, {180, 100, 491, 131}, -11, -14, 400, ES_AUTOHSCROLL},
    {ControlId::cmdPrint, L"Button", L"Print", {16, 128, 121, 145}, {20, 160, 151, 181}, -11, -14, 700, BS_PUSHBUTTON},
    {ControlId::cmdSave, L"Button", L"Save", {16, 104, 121, 121}, {20, 130, 151, 151}, -11, -14, 700, BS_PUSHBUTTON},
    {ControlId::cmdCopy, L"Button", L"Copy", {16, 80, 121, 97}, {20, 100, 151, 121}, -11, -14, 700, BS_PUSHBUTTON},
};
// clang-format on

// Points of interest in twips, converted here the way a person would with a ruler.
POINT twips(int x, int y, int dpi) { return {MulDiv(x, dpi, 1440), MulDiv(y, dpi, 1440)}; }

RECT twipsRect(int left, int top, int width, int height, int dpi) {
  const POINT a = twips(left, top, dpi);
  return {a.x, a.y, a.x + MulDiv(width, dpi, 1440), a.y + MulDiv(height, dpi, 1440)};
}

std::wstring textOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The real pointer stays out of the window, so that only the test's own
    // mouse messages reach it.
    SetCursorPos(0, 0);
    wintest::removeExchangeKey();
    wintest::writeProductId(REG_BINARY, realisticValue());
    Module1::initCommonControls();
    frm = MainWindow::create(GetModuleHandleW(nullptr));
    ASSERT_NE(frm, nullptr);
    window = frm->handle();
    frm->show(SW_SHOWNORMAL);
    pumpMessages(200);
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    pumpMessages();
    wintest::removeExchangeKey();
  }
  HWND control(ControlId id) const { return frm->control(id); }

  MainWindow* frm = nullptr;
  HWND window = nullptr;
};

TEST_F(MainWindowTest, RunsAtTheDpiOfItsPrefix) {
  EXPECT_EQ(frm->dpi(), expectedDpi());
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), expectedDpi());
  ReleaseDC(nullptr, screen);
}

TEST_F(MainWindowTest, ClientAreaFrameAndTitle) {
  const bool at96 = expectedDpi() == 96;
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, at96 ? 408 : 510);
  EXPECT_EQ(client.bottom, at96 ? 186 : 233);
  EXPECT_EQ(textOf(window), L"");
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0);
  // Centred on the work area.
  RECT frame, work;
  GetWindowRect(window, &frame);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 2);
  EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 2);
}

TEST_F(MainWindowTest, ControlsAreLaidOutWithTheirClassesTextsAndFonts) {
  const bool at96 = expectedDpi() == 96;
  for (const auto& e : kWindowed) {
    HWND child = control(e.id);
    ASSERT_TRUE(IsWindow(child)) << static_cast<int>(e.id);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    EXPECT_STREQ(className, e.windowClass);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    const DWORD required = WS_CHILD | WS_VISIBLE | WS_TABSTOP | e.style;
    EXPECT_EQ(style & required, required) << std::hex << style;
    if (e.style == ES_AUTOHSCROLL) {
      EXPECT_FALSE(style & (ES_MULTILINE | ES_READONLY)) << "text boxes are single-line, editable";
    }
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    const RECT want = at96 ? e.at96 : e.at120;
    EXPECT_EQ(r.left, want.left) << className;
    EXPECT_EQ(r.top, want.top) << className;
    EXPECT_EQ(r.right, want.right) << className;
    EXPECT_EQ(r.bottom, want.bottom) << className;
    if (e.text) {
      EXPECT_EQ(textOf(child), e.text);
    }

    LOGFONTW font{};
    ASSERT_EQ(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)),
                         sizeof font, &font),
              static_cast<int>(sizeof font));
    EXPECT_STREQ(font.lfFaceName, L"Verdana");
    EXPECT_EQ(font.lfHeight, at96 ? e.fontHeight96 : e.fontHeight120);
    EXPECT_EQ(font.lfWeight, e.weight);
    EXPECT_FALSE(font.lfUnderline);
    EXPECT_FALSE(font.lfItalic);
    EXPECT_EQ(font.lfCharSet, 0);
  }
}

TEST_F(MainWindowTest, KeyBoxHasTheFocusAndTabCyclesInOrder) {
  EXPECT_EQ(GetFocus(), control(ControlId::txtKey));
  const ControlId cycle[] = {ControlId::txtKey,   ControlId::cmdCopy, ControlId::cmdSave,
                             ControlId::cmdPrint, ControlId::txtVer,  ControlId::txtKey};
  for (std::size_t i = 0; i + 1 < std::size(cycle); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(window, control(cycle[i]), FALSE), control(cycle[i + 1])) << i;
    EXPECT_EQ(GetNextDlgTabItem(window, control(cycle[i + 1]), TRUE), control(cycle[i])) << i;
  }
  // And through the message loop's dialog handling, as the user presses Tab.
  for (std::size_t i = 1; i < std::size(cycle); ++i) {
    MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(window, &tab));
    pumpMessages(10);
    EXPECT_EQ(GetFocus(), control(cycle[i])) << i;
  }
}

TEST_F(MainWindowTest, LoadStepShowsTheInstalledKey) {
  EXPECT_EQ(textOf(control(ControlId::txtKey)), L"M3R7T-JV33T-PWDB4-F9XM2-RYBVD");
  EXPECT_EQ(textOf(control(ControlId::txtVer)), L"Microsoft Exchange");
}

TEST_F(MainWindowTest, PaintsTheBandLabelsAndBackground) {
  const int dpi = expectedDpi();
  const wintest::Capture shot = wintest::captureClient(window);
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF grey = RGB(0xE0, 0xE0, 0xE0);
  ASSERT_NE(highlight, grey);
  const POINT bandTop = twips(30, 30, dpi);
  const POINT bandRightEnd = twips(6100, 700, dpi);
  const POINT belowBand = twips(30, 760, dpi);
  const POINT bottomRight = twips(6100, 2780, dpi);
  EXPECT_EQ(shot.at(bandTop.x, bandTop.y), highlight);
  EXPECT_EQ(shot.at(bandRightEnd.x, bandRightEnd.y), highlight) << "Label2 draws nothing";
  EXPECT_EQ(shot.at(belowBand.x, belowBand.y), grey);
  EXPECT_EQ(shot.at(bottomRight.x, bottomRight.y), grey);
  // The band ends at 735 twips: its last row and the first grey one.
  const int bandEnd = MulDiv(735, dpi, 1440);
  EXPECT_EQ(shot.at(bandTop.x, bandEnd - 1), highlight);
  EXPECT_EQ(shot.at(bandTop.x, bandEnd), grey);
  // Title and link are written in light grey inside the band.
  EXPECT_GT(shot.count(twipsRect(120, 120, 5775, 600, dpi), grey), 200) << "title text";
  EXPECT_GT(shot.count(twipsRect(3960, 480, 1935, 255, dpi), grey), 40) << "link text";
  EXPECT_EQ(shot.count(twipsRect(0, 0, 100, 735, dpi), grey), 0) << "left of the title";
  // The captions above the boxes are dark text on grey.
  const COLORREF buttonText = GetSysColor(COLOR_BTNTEXT);
  EXPECT_GT(shot.count(twipsRect(2160, 960, 1932, 252, dpi), buttonText), 20) << "Product";
  EXPECT_GT(shot.count(twipsRect(2160, 1680, 852, 252, dpi), buttonText), 20) << "CD Key";

  const std::string path = wintest::windowsPathFromEnv("TAMSKET_SCREENSHOT");
  if (!path.empty()) {
    EXPECT_TRUE(wintest::writeBmp(shot, path));
  }
}

TEST_F(MainWindowTest, PointingHandOverTheLinkOnlyAndUnderlineFollowsTheMouse) {
  const int dpi = expectedDpi();
  ASSERT_NE(frm->pointingHand(), nullptr);
  const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  ASSERT_NE(frm->pointingHand(), arrow);
  struct Step {
    const char* where;
    POINT at;
    bool hand;
    bool underlined;
  };
  // The link starts underlined and keeps it across the band; only the
  // uncovered grey background takes it off.
  EXPECT_TRUE(frm->linkUnderlined()) << "at start";
  const Step steps[] = {
      {"onto the link", twips(4500, 560, dpi), true, true},
      {"band beside the link", twips(3000, 300, dpi), false, true},
      {"title", twips(600, 300, dpi), false, true},
      {"grey background", twips(1000, 2600, dpi), false, false},
      {"product caption", twips(2300, 1050, dpi), false, false},
      {"link again", twips(4000, 500, dpi), true, true},
      {"link's last pixel",
       {MulDiv(3960, dpi, 1440) + MulDiv(1935, dpi, 1440) - 1,
        MulDiv(480, dpi, 1440) + MulDiv(255, dpi, 1440) - 1},
       true,
       true},
      {"grey just below the band", twips(100, 760, dpi), false, false},
  };
  for (const auto& step : steps) {
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(step.at.x, step.at.y));
    POINT screen = step.at;
    ClientToScreen(window, &screen);
    SetCursorPos(screen.x, screen.y);
    SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), step.hand ? frm->pointingHand() : arrow) << step.where;
    EXPECT_EQ(frm->linkUnderlined(), step.underlined) << step.where;
  }
}

TEST(MainWindowLoad, WithoutExchangeTheKeyBoxIsEmpty) {
  wintest::removeExchangeKey();
  MainWindow* frm = MainWindow::create(GetModuleHandleW(nullptr));
  ASSERT_NE(frm, nullptr);
  HWND window = frm->handle();
  EXPECT_EQ(textOf(frm->control(ControlId::txtKey)), L"");
  EXPECT_EQ(textOf(frm->control(ControlId::txtVer)), L"Microsoft Exchange");
  DestroyWindow(window);
  pumpMessages();
}

// As a user runs it: a separate process, closed from outside, exits cleanly.
TEST(TamsketExe, ShowsTheKeyAndExitsZeroWhenClosed) {
  const std::string exe = wintest::windowsPathFromEnv("TAMSKET_EXE");
  ASSERT_FALSE(exe.empty()) << "TAMSKET_EXE names the program";
  wintest::writeProductId(REG_BINARY, realisticValue());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + exe + "\"";
  ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process));
  HWND found = nullptr;
  const bool shown = wintest::pumpUntil([&] {
    found = wintest::findProcessWindow(process.dwProcessId, L"TamsketMain");
    if (!found || !IsWindowVisible(found)) return false;
    HWND key = FindWindowExW(found, nullptr, L"Edit", nullptr);
    // Another process's edit text is only had by asking the edit itself.
    return key && SendMessageW(key, WM_GETTEXTLENGTH, 0, 0) == 29;
  });
  EXPECT_TRUE(shown);
  if (found) PostMessageW(found, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
  DWORD exitCode = 1234;
  GetExitCodeProcess(process.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  if (exitCode == STILL_ACTIVE) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  wintest::removeExchangeKey();
}

}  // namespace
