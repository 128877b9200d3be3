// frmMain in-process: layout at the DPI in force, fonts, texts, tab order,
// what is painted, the pointer, and the load step against the real registry.
// Run twice by ctest: in a 96 dpi prefix and in a 120 dpi one (TAMSKET_DPI).
#include "ui/main_window.h"

#include <oleacc.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "win/win_test_support.h"

namespace {

using ui::layout::ControlId;
using wintest::corners;
using wintest::expectedDpi;
using wintest::px;
using wintest::textOf;
using wintest::twips;
using wintest::twipsRect;
using MainWindowTest = wintest::WindowTest;

// A window's client area as it is on screen: a top-down 32-bit DIB.
struct Capture {
  BITMAPINFOHEADER header;
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB
  COLORREF at(int x, int y) const {
    const std::uint32_t rgb = pixels[static_cast<std::size_t>(y) * header.biWidth + x];
    return RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
  }
  // Pixels of exactly `colour` inside `r`.
  int count(const RECT& r, COLORREF colour) const {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) n += at(x, y) == colour;
    }
    return n;
  }
};

Capture captureClient(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  Capture shot{{sizeof shot.header, client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0},
               std::vector<std::uint32_t>(static_cast<std::size_t>(client.right) * client.bottom)};
  HDC windowDc = GetDC(window);
  HDC memory = CreateCompatibleDC(windowDc);
  HBITMAP bitmap = CreateCompatibleBitmap(windowDc, client.right, client.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, client.right, client.bottom, windowDc, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  GetDIBits(memory, bitmap, 0, client.bottom, shot.pixels.data(),
            reinterpret_cast<BITMAPINFO*>(&shot.header), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, windowDc);
  return shot;
}

// For a person to look at: the capture as a 32-bit BMP, where `variable` says.
void saveForAPerson(const Capture& shot, const char* variable) {
  const std::string path = wintest::windowsPathFromEnv(variable);
  if (path.empty()) return;
  const DWORD imageSize = static_cast<DWORD>(shot.pixels.size() * 4);
  const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof shot.header;
  const BITMAPFILEHEADER file{0x4D42, offset + imageSize, 0, 0, offset};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&shot.header), sizeof shot.header);
  out.write(reinterpret_cast<const char*>(shot.pixels.data()), imageSize);
  EXPECT_TRUE(out.good()) << path;
}

TEST_F(MainWindowTest, TakesTheDpiOfItsPrefixInACentredFixedFrame) {
  const bool at96 = expectedDpi() == 96;
  EXPECT_EQ(frm->dpi(), expectedDpi());
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, at96 ? 408 : 510);
  EXPECT_EQ(client.bottom, at96 ? 186 : 233);
  EXPECT_EQ(textOf(window), L"");
  const LONG frame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
  EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & frame, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
  EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0);
  // Centred on the work area.
  RECT outer, work;
  GetWindowRect(window, &outer);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((outer.left + outer.right) - (work.left + work.right)), 2);
  EXPECT_LE(std::abs((outer.top + outer.bottom) - (work.top + work.bottom)), 2);
}

TEST_F(MainWindowTest, ControlsAreLaidOutWithTheirClassesStylesTextsAndFonts) {
  // The layout's twips divided by 15 (96 dpi) and by 12 (120 dpi), rounded;
  // the texts after the load step, with the key installed.
  const struct {
    ControlId id;
    const wchar_t* windowClass;
    const wchar_t* text;
    RECT at96, at120;
    LONG fontHeight96, fontHeight120, weight;
  } controls[] = {
      // clang-format off
      {ControlId::txtKey, L"Edit", wintest::kInstalledKey, {144, 128, 393, 153}, {180, 160, 491, 191}, -11, -14, 400},
      {ControlId::txtVer, L"Edit", L"Microsoft Exchange", {144, 80, 393, 105}, {180, 100, 491, 131}, -11, -14, 400},
      {ControlId::cmdPrint, L"Button", L"Print", {16, 128, 121, 145}, {20, 160, 151, 181}, -11, -14, 700},
      {ControlId::cmdSave, L"Button", L"Save", {16, 104, 121, 121}, {20, 130, 151, 151}, -11, -14, 700},
      {ControlId::cmdCopy, L"Button", L"Copy", {16, 80, 121, 97}, {20, 100, 151, 121}, -11, -14, 700},
      // clang-format on
  };
  const bool at96 = expectedDpi() == 96;
  for (const auto& c : controls) {
    HWND child = control(c.id);
    ASSERT_TRUE(IsWindow(child)) << static_cast<int>(c.id);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    EXPECT_STREQ(className, c.windowClass);
    // Text boxes are single-line and editable; buttons plain push buttons.
    const bool edit = std::wstring(c.windowClass) == L"Edit";
    const LONG always = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    const LONG kind = edit ? ES_AUTOHSCROLL | ES_MULTILINE | ES_READONLY : BS_TYPEMASK;
    EXPECT_EQ(GetWindowLongW(child, GWL_STYLE) & (always | kind),
              always | (edit ? ES_AUTOHSCROLL : BS_PUSHBUTTON))
        << className;
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(corners(r), corners(at96 ? c.at96 : c.at120)) << className;
    EXPECT_EQ(textOf(child), c.text);

    LOGFONTW font{};
    ASSERT_EQ(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)),
                         sizeof font, &font),
              static_cast<int>(sizeof font));
    EXPECT_STREQ(font.lfFaceName, L"Verdana");
    EXPECT_EQ(font.lfHeight, at96 ? c.fontHeight96 : c.fontHeight120);
    EXPECT_EQ(font.lfWeight, c.weight);
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
    wintest::pumpMessages(10);
    EXPECT_EQ(GetFocus(), control(cycle[i])) << i;
  }
}

// With the key installed, the texts above show it.
TEST_F(MainWindowTest, LoadStepWithoutExchangeLeavesTheKeyBoxEmpty) {
  wintest::removeExchangeKey();
  DestroyWindow(window);
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(textOf(control(ControlId::txtKey)), L"");
  EXPECT_EQ(textOf(control(ControlId::txtVer)), L"Microsoft Exchange");
}

TEST_F(MainWindowTest, PaintsTheBandLabelsAndBackground) {
  const Capture shot = captureClient(window);
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF grey = RGB(0xE0, 0xE0, 0xE0);
  const struct {
    const char* where;
    POINT at;
    COLORREF colour;
  } points[] = {
      {"band", twips(30, 30), highlight},
      {"band's right end, where Label2 draws nothing", twips(6100, 700), highlight},
      {"band's last row, 735 twips down", {px(30), px(735) - 1}, highlight},
      {"first row below the band", {px(30), px(735)}, grey},
      {"below the band", twips(30, 760), grey},
      {"bottom right", twips(6100, 2780), grey},
  };
  for (const auto& p : points) EXPECT_EQ(shot.at(p.at.x, p.at.y), p.colour) << p.where;
  // Title and link are written in light grey inside the band; the captions
  // above the boxes are dark text on grey.
  EXPECT_GT(shot.count(twipsRect(120, 120, 5775, 600), grey), 200) << "title text";
  EXPECT_GT(shot.count(twipsRect(3960, 480, 1935, 255), grey), 40) << "link text";
  EXPECT_EQ(shot.count(twipsRect(0, 0, 100, 735), grey), 0) << "left of the title";
  const COLORREF buttonText = GetSysColor(COLOR_BTNTEXT);
  EXPECT_GT(shot.count(twipsRect(2160, 960, 1932, 252), buttonText), 20) << "Product";
  EXPECT_GT(shot.count(twipsRect(2160, 1680, 852, 252), buttonText), 20) << "CD Key";

  saveForAPerson(shot, "TAMSKET_SCREENSHOT");
}

// Moved to a monitor of another scale, the window lays itself out again at
// the new DPI rather than being stretched: every place and size of the design,
// in twips, times dpi / 1440, each rounded on its own (worked out by hand into
// the pixels below, one rectangle per monitor); fonts of 8.25 points.
TEST_F(MainWindowTest, LaysItselfOutAgainAtTheDpiOfANewMonitor) {
  const struct {
    int dpi;
    SIZE client;      // 6120 x 2795 twips
    LONG fontHeight;  // 8.25 points
  } monitors[] = {{120, {510, 233}, -14}, {144, {612, 280}, -17}, {192, {816, 373}, -22}};
  const struct {
    ControlId id;
    RECT at[3];  // at 120, 144 and 192 dpi
    bool windowed;
  } controls[] = {
      // clang-format off
      {ControlId::txtKey,   {{180, 160, 491, 191}, {216, 192, 590, 230}, {288, 256, 786, 306}}, true},
      {ControlId::txtVer,   {{180, 100, 491, 131}, {216, 120, 590, 158}, {288, 160, 786, 210}}, true},
      {ControlId::cmdPrint, {{20, 160, 151, 181},  {24, 192, 182, 218},  {32, 256, 242, 290}},  true},
      {ControlId::cmdSave,  {{20, 130, 151, 151},  {24, 156, 182, 182},  {32, 208, 242, 242}},  true},
      {ControlId::cmdCopy,  {{20, 100, 151, 121},  {24, 120, 182, 146},  {32, 160, 242, 194}},  true},
      {ControlId::lblURL,   {{330, 40, 491, 61},   {396, 48, 590, 74},   {528, 64, 786, 98}},   false},
      {ControlId::lblKey,   {{180, 140, 251, 161}, {216, 168, 301, 193}, {288, 224, 402, 258}}, false},
      {ControlId::lblVer,   {{180, 80, 341, 101},  {216, 96, 409, 121},  {288, 128, 546, 162}}, false},
      {ControlId::lblTitle, {{10, 10, 491, 71},    {12, 12, 590, 86},    {16, 16, 786, 114}},   false},
      {ControlId::Label1,   {{0, 0, 511, 61},      {0, 0, 614, 74},      {0, 0, 818, 98}},      false},
      // clang-format on
  };

  SetFocus(control(ControlId::cmdSave));
  for (std::size_t monitor = 0; monitor < std::size(monitors); ++monitor) {
    const auto& m = monitors[monitor];
    SCOPED_TRACE("at " + std::to_string(m.dpi) + " dpi");
    RECT before;
    GetWindowRect(window, &before);
    // Where the system would put the window: its size is the system's guess.
    RECT suggested{before.left + 8, before.top + 6, before.left + 8 + 900, before.top + 6 + 500};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(m.dpi, m.dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    wintest::pumpMessages(100);

    EXPECT_EQ(frm->dpi(), m.dpi);
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    EXPECT_EQ(std::make_pair(outer.left, outer.top), std::make_pair(suggested.left, suggested.top));
    EXPECT_EQ(std::make_pair(client.right, client.bottom),
              std::make_pair(m.client.cx, m.client.cy));
    const auto at = [&](int twips) { return MulDiv(twips, m.dpi, 1440); };
    for (const auto& c : controls) {
      const RECT& expected = c.at[monitor];
      RECT r = frm->labelRect(c.id);
      if (c.windowed) {
        GetWindowRect(control(c.id), &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control(c.id), WM_GETFONT, 0, 0)),
                   sizeof font, &font);
        EXPECT_EQ(font.lfHeight, m.fontHeight) << static_cast<int>(c.id);
      }
      EXPECT_EQ(corners(r), corners(expected)) << static_cast<int>(c.id);
    }
    EXPECT_EQ(GetFocus(), control(ControlId::cmdSave)) << "focus kept";
    EXPECT_TRUE(frm->linkUnderlined()) << "underline kept";

    // Painted at the new size: the band down to 735 twips, grey below, the
    // captions' dark text where they now are.
    UpdateWindow(window);
    const Capture shot = captureClient(window);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF grey = RGB(0xE0, 0xE0, 0xE0);
    EXPECT_EQ(shot.at(at(30), at(30)), highlight);
    EXPECT_EQ(shot.at(at(6100), at(735) - 1), highlight);
    EXPECT_EQ(shot.at(at(30), at(735)), grey);
    EXPECT_EQ(shot.at(m.client.cx - 1, m.client.cy - 1), grey);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    const RECT product{at(2160), at(960), at(2160) + at(1932), at(960) + at(252)};
    EXPECT_GT(shot.count(product, text), 20 * m.dpi / 96) << "Product";
    if (m.dpi == 192) saveForAPerson(shot, "TAMSKET_SCREENSHOT_192");
  }
}

// The link starts underlined and keeps it across the band; only the
// uncovered grey background takes it off.
TEST_F(MainWindowTest, PointingHandOverTheLinkOnlyAndUnderlineFollowsTheMouse) {
  const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  ASSERT_NE(frm->pointingHand(), nullptr);
  ASSERT_NE(frm->pointingHand(), arrow);
  EXPECT_TRUE(frm->linkUnderlined()) << "at start";
  const RECT link = twipsRect(3960, 480, 1935, 255);
  const struct {
    const char* where;
    POINT at;
    bool hand, underlined;
  } steps[] = {
      {"onto the link", twips(4500, 560), true, true},
      {"band beside the link", twips(3000, 300), false, true},
      {"title", twips(600, 300), false, true},
      {"grey background", twips(1000, 2600), false, false},
      {"product caption", twips(2300, 1050), false, false},
      {"link again", twips(4000, 500), true, true},
      {"link's last pixel", {link.right - 1, link.bottom - 1}, true, true},
      {"grey just below the band", twips(100, 760), false, false},
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

// What a screen reader is told about a control, read the way it reads it.
struct Heard {
  HRESULT found = E_FAIL;  // AccessibleObjectFromWindow's answer
  std::wstring name, value;
  LONG role = 0, state = 0;
  RECT place{};  // screen pixels
};

std::wstring taken(BSTR text) {
  std::wstring copy = text ? text : L"";
  SysFreeString(text);
  return copy;
}

Heard hear(HWND control) {
  Heard heard;
  IAccessible* object = nullptr;
  heard.found = AccessibleObjectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                           reinterpret_cast<void**>(&object));
  if (FAILED(heard.found)) return heard;
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR text = nullptr;
  if (SUCCEEDED(object->get_accName(self, &text))) heard.name = taken(text);
  text = nullptr;
  if (SUCCEEDED(object->get_accValue(self, &text))) heard.value = taken(text);
  VARIANT role{}, state{};
  if (SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4) heard.role = role.lVal;
  if (SUCCEEDED(object->get_accState(self, &state)) && state.vt == VT_I4) heard.state = state.lVal;
  LONG left = 0, top = 0, width = 0, height = 0;
  if (SUCCEEDED(object->accLocation(&left, &top, &width, &height, self))) {
    heard.place = {left, top, left + width, top + height};
  }
  object->Release();
  return heard;
}

// The client area, inside the border: where the client object is.
RECT screenClientOf(HWND control) {
  RECT r;
  GetClientRect(control, &r);
  MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The captions are painted, not windows: each box is named after its own;
// all else a screen reader hears of a box is the system's.
TEST_F(MainWindowTest, ScreenReadersHearEachBoxNamedAfterItsCaption) {
  SetWindowTextW(control(ControlId::txtKey), L"BCDFG-HJKMP-QRTVW-XY234-6789B");  // as typed
  SetFocus(control(ControlId::txtKey));
  const struct {
    ControlId id;
    const wchar_t *name, *value;
    LONG state;
  } boxes[] = {
      {ControlId::txtVer, L"Product", L"Microsoft Exchange", STATE_SYSTEM_FOCUSABLE},
      {ControlId::txtKey, L"CD Key", L"BCDFG-HJKMP-QRTVW-XY234-6789B",
       STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED},
  };
  for (const auto& box : boxes) {
    const Heard heard = hear(control(box.id));
    ASSERT_EQ(heard.found, S_OK) << static_cast<int>(box.id);
    EXPECT_EQ(heard.name, box.name);
    EXPECT_EQ(heard.value, box.value) << box.name;
    EXPECT_EQ(heard.role, ROLE_SYSTEM_TEXT) << box.name;
    EXPECT_EQ(heard.state, box.state) << box.name;
    EXPECT_EQ(corners(heard.place), corners(screenClientOf(control(box.id)))) << box.name;
  }
}

// The buttons' names are their own texts, given by the system's objects.
TEST_F(MainWindowTest, ScreenReadersHearTheButtonsByTheirTexts) {
  const std::pair<ControlId, const wchar_t*> buttons[] = {{ControlId::cmdCopy, L"Copy"},
                                                          {ControlId::cmdSave, L"Save"},
                                                          {ControlId::cmdPrint, L"Print"}};
  for (const auto& [id, name] : buttons) {
    const Heard heard = hear(control(id));
    ASSERT_EQ(heard.found, S_OK) << name;
    EXPECT_EQ(heard.name, name);
  }
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
  EXPECT_TRUE(wintest::pumpUntil([&] {
    found = FindWindowW(L"TamsketMain", nullptr);
    DWORD owner = 0;
    GetWindowThreadProcessId(found, &owner);
    HWND key = FindWindowExW(found, nullptr, L"Edit", nullptr);
    // Another process's edit text is only had by asking the edit itself.
    return owner == process.dwProcessId && IsWindowVisible(found) &&
           SendMessageW(key, WM_GETTEXTLENGTH, 0, 0) == 29;
  }));
  PostMessageW(found, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
  DWORD exitCode = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  TerminateProcess(process.hProcess, 1);  // still running only when the test has failed
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  wintest::removeExchangeKey();
}

}  // namespace
