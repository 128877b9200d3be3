#pragma once

#include <windows.h>

// Start-up: prepares the common controls, creates and shows frmMain, and runs
// the message loop until the window is closed. Returns the exit code.
namespace ui::Module1 {

void initCommonControls();
int main(HINSTANCE instance, int showCommand);

}  // namespace ui::Module1
