#pragma once

// The Windows tests' shared harness, in the manner of Wine's own conformance
// tests: the registry, message pumping, texts and files, layout units, and
// the real main window as a fixture.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "common/product_id_values.h"
#include "ui/main_window.h"
#include "ui/module1.h"

namespace wintest {

inline constexpr char kSetupKey[] = "SOFTWARE\\Microsoft\\Exchange\\Setup";
// What the load step shows for realisticValue().
inline constexpr wchar_t kInstalledKey[] = L"M3R7T-JV33T-PWDB4-F9XM2-RYBVD";

inline void removeExchangeKey() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Exchange");
}

inline void writeProductId(DWORD type, const std::vector<std::uint8_t>& data) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSetupKey, "DigitalProductId", type, data.data(),
                            static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
}

// The same in one view of the registry, KEY_WOW64_32KEY or KEY_WOW64_64KEY,
// whichever view this build reads by default.
inline void removeExchangeKeyFromView(REGSAM view) {
  HKEY software = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) == 0) {
    RegDeleteTreeA(software, "Microsoft\\Exchange");
    RegCloseKey(software);
  }
}

inline void writeProductIdInView(REGSAM view, const std::vector<std::uint8_t>& data) {
  HKEY setup = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSetupKey, 0, nullptr, 0, KEY_SET_VALUE | view,
                            nullptr, &setup, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(setup, "DigitalProductId", 0, REG_BINARY, data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(setup);
}

// Dispatches what is pending, for at least `milliseconds`, so that paints and
// posted messages have happened before a check.
inline void pumpMessages(DWORD milliseconds = 50) {
  const DWORD start = GetTickCount();
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(5);
  } while (GetTickCount() - start < milliseconds);
}

// Pumps until `done` holds or the time is up; returns whether it held.
template <typename Condition>
bool pumpUntil(Condition done, DWORD milliseconds = 5000) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > milliseconds) return false;
    pumpMessages(10);
  }
  return true;
}

inline std::wstring textOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

inline std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> linesOf(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A Unix path as Wine's Z: drive shows it.
inline std::string windowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

inline std::string windowsPathFromEnv(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value ? windowsPath(value) : std::string();
}

// The DPI of the prefix the test runs in (wine-run.sh picks it by TAMSKET_DPI).
inline int expectedDpi() {
  const char* dpi = std::getenv("TAMSKET_DPI");
  return dpi ? std::atoi(dpi) : 96;
}

// Layout positions in twips, converted the way a person would with a ruler.
inline int px(int twips) { return MulDiv(twips, expectedDpi(), 1440); }
inline POINT twips(int x, int y) { return {px(x), px(y)}; }
inline RECT twipsRect(int left, int top, int width, int height) {
  return {px(left), px(top), px(left) + px(width), px(top) + px(height)};
}
inline std::array<LONG, 4> corners(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

// frmMain as the program opens it, with the realistic key installed.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The real pointer stays out of the window, so that only the tests' own
    // mouse messages reach it.
    SetCursorPos(0, 0);
    removeExchangeKey();
    writeProductId(REG_BINARY, realisticValue());
    open();
  }
  void TearDown() override {
    DestroyWindow(window);
    pumpMessages();
    removeExchangeKey();
  }
  void open() {
    ui::Module1::initCommonControls();
    frm = ui::MainWindow::create(GetModuleHandleW(nullptr));
    const char* display = std::getenv("DISPLAY");
    if (!frm && !(display && *display)) GTEST_SKIP() << "no display: DISPLAY is not set";
    ASSERT_NE(frm, nullptr);
    window = frm->handle();
    frm->show(SW_SHOWNORMAL);
    pumpMessages(100);
  }
  HWND control(ui::layout::ControlId id) const { return frm->control(id); }

  ui::MainWindow* frm = nullptr;
  HWND window = nullptr;
};

}  // namespace wintest
