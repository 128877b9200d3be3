#pragma once

struct HWND__;       // HWND
struct HINSTANCE__;  // HINSTANCE

namespace platform {

// ShellExecuteA: same arguments, same result (greater than 32 on success).
HINSTANCE__* shellExecuteA(HWND__* owner, const char* verb, const char* file,
                           const char* parameters, const char* directory, int showCommand);

}  // namespace platform
