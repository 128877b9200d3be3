#pragma once

#include <windows.h>

#include <string>

namespace platform {

// The address of `name` in the system DLL `dll`, which is loaded from the
// system folder on first use and stays loaded; nullptr when either is
// missing. The operations only a click asks for (save dialog, printer, shell)
// reach their DLLs this way, so that starting the program does not load them.
template <typename Function>
Function systemFunction(const wchar_t* dll, const char* name) {
  HMODULE module = GetModuleHandleW(dll);
  if (!module) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    module = LoadLibraryW((std::wstring(folder, length) + L"\\" + dll).c_str());
  }
  if (!module) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace platform
