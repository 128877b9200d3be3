#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

HINSTANCE shellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand) {
  return ShellExecuteA(owner, verb, file, parameters, directory, showCommand);
}

}  // namespace platform
