#include "ui/main_window.h"

#include "keys/installed_key_source.h"
#include "platform/clipboard.h"
#include "platform/print_window.h"
#include "platform/shell.h"
#include "platform/system_function_win32.h"
#include "report/key_report.h"
#include "res/resource.h"
#include "text/windows_text.h"
#include "ui/accessible_text_box.h"

namespace ui {

using layout::ControlId;
using layout::ControlKind;
using layout::ControlSpec;

namespace {

constexpr wchar_t kWindowClass[] = L"TamsketMain";
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL
constexpr char kTitle[] = "Tamsket";

std::size_t indexOf(ControlId id) { return static_cast<std::size_t>(id); }

int screenDpi() {
  const platform::WindowDc screen(nullptr);
  return GetDeviceCaps(screen.get(), LOGPIXELSX);
}

// The DPI the window is shown at: its monitor's where the system tells it
// (per-monitor awareness), the screen's otherwise. The DPI functions came with
// Windows 8.1 and 10: looked up at run time, so that the program still starts
// on older systems.
int dpiOf(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  const auto getDpiForWindow =
      platform::systemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
  const UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
  return dpi ? static_cast<int>(dpi) : screenDpi();
}

// The outer size of a window whose client area is the layout's at `dpi`.
SIZE frameSize(int dpi) {
  RECT frame{0, 0, layout::toPixels(layout::kClientWidth, dpi),
             layout::toPixels(layout::kClientHeight, dpi)};
  using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  const auto adjustForDpi =
      platform::systemFunction<AdjustForDpiFn>(L"user32.dll", "AdjustWindowRectExForDpi");
  if (!adjustForDpi || !adjustForDpi(&frame, kFrameStyle, FALSE, 0, static_cast<UINT>(dpi))) {
    AdjustWindowRectEx(&frame, kFrameStyle, FALSE, 0);
  }
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// "The key could not be copied to the clipboard: Access is denied."
std::string withReason(const char* what, unsigned long error) {
  const std::string words = text::narrowToAnsi(text::systemErrorText(error));
  return std::string(what) + (words.empty() ? "." : ": " + words);
}

platform::UniqueGdi<HFONT> createFont(const layout::FontSpec& font, bool underline, int dpi) {
  return platform::UniqueGdi<HFONT>(CreateFontW(
      layout::fontHeight(font.centipoints, dpi), 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE,
      underline, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
      DEFAULT_PITCH | FF_DONTCARE, layout::kFontFace));
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, int dpi)
    : instance_(instance),
      dpi_(dpi),
      background_(CreateSolidBrush(layout::resolveColour(layout::kBackground))),
      pointingHand_(LoadCursorW(instance, MAKEINTRESOURCEW(IDC_POINTING_HAND))) {}

MainWindow* MainWindow::create(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_TAMSKET));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TAMSKET),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);  // fails harmlessly when already registered

  // The window does not exist yet to be asked; onCreate corrects the size
  // should its monitor's DPI differ.
  const int dpi = screenDpi();
  const SIZE frame = frameSize(dpi);
  const int width = frame.cx;
  const int height = frame.cy;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - width) / 2;
  const int y = work.top + (work.bottom - work.top - height) / 2;
  // The window takes the object over at WM_NCCREATE and deletes it when
  // destroyed; should creation fail before that, it is freed here.
  std::unique_ptr<MainWindow> window(new MainWindow(instance, dpi));
  HWND handle = CreateWindowExW(0, kWindowClass, L"", kFrameStyle, x, y, width, height, nullptr,
                                nullptr, instance, &window);
  return handle ? fromHandle(handle) : nullptr;
}

MainWindow* MainWindow::fromHandle(HWND window) {
  return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void MainWindow::show(int showCommand) {
  ShowWindow(frmMain_, showCommand);
  UpdateWindow(frmMain_);
  SetFocus(control(ControlId::txtKey));
}

HWND MainWindow::control(ControlId id) const { return children_[indexOf(id)]; }

std::string MainWindow::getExchangeVersion() const { return keys::getExchangeVersion(); }
std::string MainWindow::getExchangeKey() const { return keys::getExchangeKey(); }

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* created = reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams;
    MainWindow* self = static_cast<std::unique_ptr<MainWindow>*>(created)->release();
    self->frmMain_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  MainWindow* self = fromHandle(window);
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    delete self;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->handleMessage(message, wParam, lParam);
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (message) {
    case WM_CREATE: onCreate(); return 0;
    case WM_ERASEBKGND: eraseBackground(reinterpret_cast<HDC>(wParam)); return 1;
    case WM_PRINTCLIENT: printClient(reinterpret_cast<HDC>(wParam)); return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      paintLabels(BeginPaint(frmMain_, &paint));
      EndPaint(frmMain_, &paint);
      return 0;
    }
    case WM_COMMAND: onCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_MOUSEMOVE: onMouseMove(point); return 0;
    case WM_LBUTTONDOWN: onButtonDown(point); return 0;
    case WM_LBUTTONUP: onButtonUp(point); return 0;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) != frmMain_ || LOWORD(lParam) != HTCLIENT) break;
      onSetCursor();
      return TRUE;
    case WM_ACTIVATE: onActivate(LOWORD(wParam) != WA_INACTIVE); return 0;
    case WM_DPICHANGED: onDpiChanged(LOWORD(wParam), *reinterpret_cast<RECT*>(lParam)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcW(frmMain_, message, wParam, lParam);
}

void MainWindow::onCreate() {
  const int dpi = dpiOf(frmMain_);
  if (dpi != dpi_) {
    dpi_ = dpi;
    RECT outer;
    GetWindowRect(frmMain_, &outer);
    fitFrame({outer.left, outer.top});
  }
  createControls();
  Form_Load();
}

// Moved to a monitor of another DPI (or the scale changed): everything is laid
// out again from the table at the new DPI, where the system suggests. The
// size is the layout's own, so that the client area matches it exactly.
void MainWindow::onDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  makeFonts();
  for (std::size_t i = 0; i < kControlCount; ++i) {
    if (!children_[i]) continue;
    const RECT r = rectOf(layout::kControls[i]);
    SetWindowPos(children_[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(children_[i], WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[i].get()), TRUE);
  }
  fitFrame({suggested.left, suggested.top});
  InvalidateRect(frmMain_, nullptr, TRUE);
}

// Puts the window's top left at `topLeft`, sized so that its client area is
// the layout's at the current DPI. The frame actually drawn may differ from
// the one the system computes for that DPI (some systems keep drawing it at
// the old scale), so the client area is measured and the size corrected.
void MainWindow::fitFrame(POINT topLeft) {
  const SIZE frame = frameSize(dpi_);
  SetWindowPos(frmMain_, nullptr, topLeft.x, topLeft.y, frame.cx, frame.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  GetClientRect(frmMain_, &client);
  const int wider = layout::toPixels(layout::kClientWidth, dpi_) - client.right;
  const int taller = layout::toPixels(layout::kClientHeight, dpi_) - client.bottom;
  if (wider == 0 && taller == 0) return;
  SetWindowPos(frmMain_, nullptr, 0, 0, frame.cx + wider, frame.cy + taller,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Fonts at the current DPI for every row that draws text in a font of its own.
void MainWindow::makeFonts() {
  for (std::size_t i = 0; i < kControlCount; ++i) {
    const ControlSpec& row = layout::kControls[i];
    fonts_[i] = layout::needsFont(row) ? createFont(row.font, row.font.underline, dpi_)
                                       : platform::UniqueGdi<HFONT>();
  }
  linkFontPlain_ = createFont(layout::specOf(ControlId::lblURL).font, false, dpi_);
}

// Drawing into a DC handed in, as when a themed button paints its corners.
void MainWindow::printClient(HDC dc) {
  eraseBackground(dc);
  paintLabels(dc);
}

void MainWindow::createControls() {
  makeFonts();
  linkUnderlined_ = layout::specOf(ControlId::lblURL).font.underline;

  // Windowed controls are created in tab order: the dialog manager tabs
  // through child windows in creation order.
  for (int tab = 0;; ++tab) {
    const ControlSpec* next = nullptr;
    for (const auto& row : layout::kControls) {
      if (row.kind != ControlKind::label && row.tabIndex >= tab &&
          (!next || row.tabIndex < next->tabIndex)) {
        next = &row;
      }
    }
    if (!next) break;
    tab = next->tabIndex;
    const bool textBox = next->kind == ControlKind::textBox;
    const RECT r = rectOf(*next);
    const std::size_t index = indexOf(next->id);
    HWND child = CreateWindowExW(
        textBox ? WS_EX_CLIENTEDGE : 0, textBox ? L"EDIT" : L"BUTTON", next->text,
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | (textBox ? ES_LEFT | ES_AUTOHSCROLL : BS_PUSHBUTTON),
        r.left, r.top, r.right - r.left, r.bottom - r.top, frmMain_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)), instance_, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[index].get()), FALSE);
    children_[index] = child;
  }
  // A screen reader names each box after the caption painted above it.
  nameTextBox(control(ControlId::txtVer), layout::specOf(ControlId::lblVer).text);
  nameTextBox(control(ControlId::txtKey), layout::specOf(ControlId::lblKey).text);
}

void MainWindow::Form_Load() {
  SetWindowTextW(control(ControlId::txtVer), text::widenAnsi(getExchangeVersion()).c_str());
  SetWindowTextW(control(ControlId::txtKey), text::widenAnsi(getExchangeKey()).c_str());
}

void MainWindow::Form_MouseMove() { setLinkUnderline(false); }

void MainWindow::lblURL_MouseMove() { setLinkUnderline(true); }

void MainWindow::cmdCopy_Click() {
  HWND txtVer = control(ControlId::txtVer);
  if (IsWindowVisible(txtVer)) SetFocus(txtVer);
  const HWND txtKey = control(ControlId::txtKey);
  std::wstring key(static_cast<std::size_t>(GetWindowTextLengthW(txtKey)) + 1, L'\0');
  key.resize(
      static_cast<std::size_t>(GetWindowTextW(txtKey, key.data(), static_cast<int>(key.size()))));
  const platform::ClipboardStatus copied = platform::setClipboardText(frmMain_, key);
  if (copied) return;
  if (copied.error().problem == platform::ClipboardProblem::busy) {
    tellUser(
        "The key could not be copied: another program is using the clipboard. "
        "Please try again in a moment.");
  } else {
    tellUser(withReason("The key could not be copied to the clipboard", copied.error().error));
  }
}

void MainWindow::cmdSave_Click() {
  SetFocus(control(ControlId::txtVer));
  report::saveKeyReport(frmMain_);
}

void MainWindow::cmdPrint_Click() {
  SetFocus(control(ControlId::txtVer));
  if (MessageBoxA(frmMain_, "Are you sure you want to print this form?", kTitle, MB_YESNO) !=
      IDYES) {
    return;
  }
  const platform::PrintStatus printed = platform::printWindowImage(frmMain_);
  if (printed) return;
  if (printed.error().problem == platform::PrintProblem::noPrinter) {
    tellUser("There is no printer to print to. Set up a default printer and try again.");
  } else {
    tellUser(withReason("The window could not be printed", printed.error().error));
  }
}

// Opened in the user's browser, shown normally.
void MainWindow::lblURL_Click() {
  platform::shellExecuteA(nullptr, nullptr, text::narrowToAnsi(layout::kMakerSite).c_str(), nullptr,
                          nullptr, SW_SHOWNORMAL);
}

void MainWindow::tellUser(const std::string& text) {
  MessageBoxA(frmMain_, text.c_str(), kTitle, MB_OK | MB_ICONWARNING);
}

void MainWindow::onCommand(int id, int notification) {
  if (notification != BN_CLICKED) return;
  const auto index = static_cast<std::size_t>(id - kFirstControlId);
  if (index >= kControlCount) return;
  switch (layout::kControls[index].id) {
    case ControlId::cmdCopy: cmdCopy_Click(); break;
    case ControlId::cmdSave: cmdSave_Click(); break;
    case ControlId::cmdPrint: cmdPrint_Click(); break;
    default: break;
  }
}

void MainWindow::onMouseMove(POINT point) {
  const ControlSpec* label = labelAt(point);
  if (!label) {
    Form_MouseMove();
  } else if (label->id == ControlId::lblURL) {
    lblURL_MouseMove();
  }
}

// A label is clicked when the button goes down and comes up over it.
void MainWindow::onButtonDown(POINT point) {
  pressedLabel_ = labelAt(point);
  if (pressedLabel_) SetCapture(frmMain_);
}

void MainWindow::onButtonUp(POINT point) {
  const ControlSpec* pressed = std::exchange(pressedLabel_, nullptr);
  if (GetCapture() == frmMain_) ReleaseCapture();
  if (pressed && pressed == labelAt(point) && pressed->id == ControlId::lblURL) lblURL_Click();
}

void MainWindow::onSetCursor() {
  POINT point{};
  GetCursorPos(&point);
  ScreenToClient(frmMain_, &point);
  const ControlSpec* label = labelAt(point);
  SetCursor(label && label->pointingHand ? pointingHand_ : LoadCursorA(nullptr, IDC_ARROW));
}

// Like a dialog, the window gives the focus back to the control that had it.
void MainWindow::onActivate(bool active) {
  if (!active) {
    HWND focus = GetFocus();
    if (focus && IsChild(frmMain_, focus)) focusBeforeDeactivation_ = focus;
  } else if (focusBeforeDeactivation_ && IsWindow(focusBeforeDeactivation_)) {
    SetFocus(focusBeforeDeactivation_);
  }
}

void MainWindow::eraseBackground(HDC dc) {
  RECT client;
  GetClientRect(frmMain_, &client);
  FillRect(dc, &client, background_.get());
}

// Back to front, so that labels nearer the front are drawn over the others.
void MainWindow::paintLabels(HDC dc) {
  const int saved = SaveDC(dc);
  SetBkMode(dc, TRANSPARENT);
  for (std::size_t i = kControlCount; i-- > 0;) {
    const ControlSpec& row = layout::kControls[i];
    if (row.kind != ControlKind::label) continue;
    RECT r = rectOf(row);
    if (row.colours.opaque) {
      platform::UniqueGdi<HBRUSH> brush(CreateSolidBrush(layout::resolveColour(row.colours.back)));
      FillRect(dc, &r, brush.get());
    }
    if (!row.text || !*row.text) continue;
    HFONT font = fontFor(row);
    if (font) SelectObject(dc, font);
    SetTextColor(dc, layout::resolveColour(row.colours.text));
    DrawTextW(dc, row.text, -1, &r, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
  }
  RestoreDC(dc, saved);
}

void MainWindow::setLinkUnderline(bool underlined) {
  if (underlined == linkUnderlined_) return;
  linkUnderlined_ = underlined;
  const RECT r = rectOf(layout::specOf(ControlId::lblURL));
  InvalidateRect(frmMain_, &r, TRUE);
}

// Front to back: the first label under the point is the one it is over.
const ControlSpec* MainWindow::labelAt(POINT point) const {
  for (const auto& row : layout::kControls) {
    if (row.kind != ControlKind::label) continue;
    const RECT r = rectOf(row);
    if (PtInRect(&r, point)) return &row;
  }
  return nullptr;
}

HFONT MainWindow::fontFor(const ControlSpec& row) const {
  if (row.id == ControlId::lblURL && !linkUnderlined_) return linkFontPlain_.get();
  return fonts_[indexOf(row.id)].get();
}

}  // namespace ui
