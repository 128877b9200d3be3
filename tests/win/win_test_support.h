#pragma once

// Shared by the Windows tests: registry set-up, message pumping and screen
// capture, in the manner of Wine's own conformance tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace wintest {

inline constexpr char kSetupKey[] = "SOFTWARE\\Microsoft\\Exchange\\Setup";

inline void removeExchangeKey() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Exchange");
}

inline void writeProductId(DWORD type, const std::vector<std::uint8_t>& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSetupKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "DigitalProductId", 0, type, data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
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

// A window's client area as it is on screen, 0x00BBGGRR per pixel, top row first.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  COLORREF at(int x, int y) const {
    const std::uint32_t bgrx = pixels[static_cast<std::size_t>(y) * width + x];
    return RGB((bgrx >> 16) & 0xFF, (bgrx >> 8) & 0xFF, bgrx & 0xFF);
  }
  // Pixels of exactly `colour` inside `r`.
  int count(const RECT& r, COLORREF colour) const {
    int n = 0;
    for (int y = r.top; y < r.bottom && y < height; ++y) {
      for (int x = r.left; x < r.right && x < width; ++x) n += at(x, y) == colour;
    }
    return n;
  }
};

inline Capture captureClient(HWND window) {
  Capture capture;
  RECT client;
  GetClientRect(window, &client);
  capture.width = client.right;
  capture.height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC windowDc = GetDC(window);
  HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(windowDc);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, capture.width, capture.height, windowDc, 0, 0, SRCCOPY);
  GdiFlush();
  const auto* first = static_cast<const std::uint32_t*>(bits);
  capture.pixels.assign(first, first + static_cast<std::size_t>(capture.width) * capture.height);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(window, windowDc);
  return capture;
}

// Writes the capture as a 32-bit BMP (for a person to look at).
inline bool writeBmp(const Capture& capture, const std::string& path) {
  const DWORD imageSize = static_cast<DWORD>(capture.pixels.size() * 4);
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + imageSize;
  header.biSize = sizeof header;
  header.biWidth = capture.width;
  header.biHeight = -capture.height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biSizeImage = imageSize;
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) &&
            WriteFile(out, &header, sizeof header, &written, nullptr) &&
            WriteFile(out, capture.pixels.data(), imageSize, &written, nullptr);
  CloseHandle(out);
  return ok;
}

// The top-level window of class `windowClass` that process `processId` owns.
inline HWND findProcessWindow(DWORD processId, const wchar_t* windowClass) {
  for (HWND w = FindWindowExW(nullptr, nullptr, windowClass, nullptr); w;
       w = FindWindowExW(nullptr, w, windowClass, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == processId) return w;
  }
  return nullptr;
}

// A Unix path from the environment as Wine's Z: drive path.
inline std::string windowsPathFromEnv(const char* variable) {
  const char* value = std::getenv(variable);
  if (!value || !*value) return {};
  std::string path = std::string("Z:") + value;
  for (auto& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace wintest
