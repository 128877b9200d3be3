// The baseline for start-up time: the least a Win32 program can do to show a
// window with a 29-character text box, built the same way as tamsket.exe.
#include <windows.h>

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"MinimalWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"MinimalWindow", L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 408, 186, nullptr, nullptr, instance, nullptr);
  CreateWindowExW(0, L"EDIT", L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB", WS_CHILD | WS_VISIBLE, 10, 10, 250,
                  25, window, nullptr, instance, nullptr);
  // Painted before the loop starts, as the classic skeleton and tamsket.exe do,
  // so that both are timed to a window drawn with its text.
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
