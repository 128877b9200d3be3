// Imports a function Windows XP lacks, so that the executable check can be
// seen to refuse it. Never run.
#define _WIN32_WINNT 0x0A00
#include <windows.h>

int main() { return static_cast<int>(GetDpiForWindow(nullptr)); }
