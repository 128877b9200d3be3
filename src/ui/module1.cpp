#include "ui/module1.h"

#include <commctrl.h>

#include "ui/main_window.h"

namespace ui::Module1 {

// Looked up at run time: a system library without the entry point must not
// stop the program from starting, and its result does not matter either.
void initCommonControls() {
  HMODULE comctl32 = LoadLibraryW(L"comctl32.dll");
  if (!comctl32) return;
  using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<InitCommonControlsExFn>(
      reinterpret_cast<void*>(GetProcAddress(comctl32, "InitCommonControlsEx")));
  if (!init) return;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = 8;
  controls.dwICC = ICC_USEREX_CLASSES;
  init(&controls);
}

int main(HINSTANCE instance, int showCommand) {
  initCommonControls();
  MainWindow* frmMain = MainWindow::create(instance);
  if (!frmMain) return 1;
  HWND window = frmMain->handle();
  frmMain->show(showCommand);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace ui::Module1
