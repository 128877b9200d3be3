#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "ui/layout.h"
#include "platform/unique_gdi_win32.h"

namespace ui {

// Names such as frmMain, cmdCopy_Click, txtKey and Module1 are the ones the
// window's design gives; they are kept so the design and the code can be read
// side by side.

// frmMain: the program's one window. Its text boxes and buttons are child
// windows; its labels are windowless, painted and hit-tested by the window
// itself from the layout table.
class MainWindow {
 public:
  // Creates the window and runs its load step; it is not shown yet.
  static MainWindow* create(HINSTANCE instance);
  static MainWindow* fromHandle(HWND window);

  // Shows the window for the first time, with the focus in the key box.
  void show(int showCommand);

  HWND handle() const { return frmMain_; }
  HWND control(layout::ControlId id) const;
  int dpi() const { return dpi_; }
  bool linkUnderlined() const { return linkUnderlined_; }
  HCURSOR pointingHand() const { return pointingHand_; }
  // Where a windowless label is painted and hit-tested, in client pixels.
  RECT labelRect(layout::ControlId id) const { return rectOf(layout::specOf(id)); }

  std::string getExchangeVersion() const;
  std::string getExchangeKey() const;

 private:
  static constexpr std::size_t kControlCount = std::size(layout::kControls);

  MainWindow(HINSTANCE instance, int dpi);
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  void onCreate();
  void printClient(HDC dc);
  void createControls();
  void Form_Load();
  void cmdCopy_Click();
  void cmdSave_Click();
  void cmdPrint_Click();
  void Form_MouseMove();
  void lblURL_MouseMove();
  void lblURL_Click();
  void tellUser(const std::string& text);
  void onDpiChanged(int dpi, const RECT& suggested);
  void makeFonts();
  void fitFrame(POINT topLeft);
  void onCommand(int id, int notification);
  void onMouseMove(POINT point);
  void onButtonDown(POINT point);
  void onButtonUp(POINT point);
  void onSetCursor();
  void onActivate(bool active);
  void eraseBackground(HDC dc);
  void paintLabels(HDC dc);
  void setLinkUnderline(bool underlined);
  const layout::ControlSpec* labelAt(POINT point) const;
  HFONT fontFor(const layout::ControlSpec& row) const;
  RECT rectOf(const layout::ControlSpec& row) const { return layout::toPixels(row, dpi_); }

  HINSTANCE instance_;
  int dpi_;
  HWND frmMain_ = nullptr;
  std::array<HWND, kControlCount> children_{};
  std::array<platform::UniqueGdi<HFONT>, kControlCount> fonts_{};
  platform::UniqueGdi<HFONT> linkFontPlain_;
  platform::UniqueGdi<HBRUSH> background_;
  HCURSOR pointingHand_ = nullptr;
  bool linkUnderlined_ = false;
  const layout::ControlSpec* pressedLabel_ = nullptr;
  HWND focusBeforeDeactivation_ = nullptr;
};

}  // namespace ui
