// Keeps Wine's desktop process running for the whole test run. Wine starts it
// for the first window of a prefix and ends it about a second after the last
// window closes; started by a test program, it holds that program's output
// pipe meanwhile, and ctest waits for the pipe. One hidden window, owned by
// this process started with its descriptors closed, keeps it up instead.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CreateWindowExA(0, "STATIC", "desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                  nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
