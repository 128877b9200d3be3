#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/system_function_win32.h"

namespace platform {

HINSTANCE shellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand) {
  const auto shellExecute =
      systemFunction<decltype(&ShellExecuteA)>(L"shell32.dll", "ShellExecuteA");
  if (!shellExecute) return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_DLLNOTFOUND));
  return shellExecute(owner, verb, file, parameters, directory, showCommand);
}

}  // namespace platform
