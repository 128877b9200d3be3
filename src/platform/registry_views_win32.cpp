// Whole values in either view, of this machine or another: the console
// program's reads. Kept apart from the 8-bit calls, which the window uses alone.
#include <windows.h>

#include <string>

#include "platform/registry.h"
#include "text/windows_text.h"

namespace platform {

namespace {

using UniqueHkey = tamsket::UniqueHandle<HKEY, RegCloseKey>;

// A value that keeps changing size between the size query and the read is
// given up on after this many tries.
constexpr int kQueryAttempts = 8;

}  // namespace

RegistryValue readRegistryValue(RegKey root, RegistryView view, const char* subKey,
                                const char* valueName) {
  RegistryValue value;
  const REGSAM sam =
      KEY_QUERY_VALUE | (view == RegistryView::bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
  UniqueHkey key;
  value.status = RegOpenKeyExW(reinterpret_cast<HKEY>(root), text::utf8ToWide(subKey).c_str(), 0,
                               sam, key.receive());
  if (value.status != ERROR_SUCCESS) {
    value.inKey = true;
    return value;
  }
  // Sized by asking: the first query gives the size, and a value that grew
  // in between answers ERROR_MORE_DATA with its new size.
  const std::wstring name = text::utf8ToWide(valueName);
  for (int attempt = 0; attempt < kQueryAttempts; ++attempt) {
    DWORD size = static_cast<DWORD>(value.data.size());
    value.status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type,
                                    value.data.empty() ? nullptr : value.data.data(), &size);
    if (value.status == ERROR_MORE_DATA ||
        (value.status == ERROR_SUCCESS && value.data.empty() && size > 0)) {
      value.data.resize(size);
      continue;
    }
    if (value.status == ERROR_SUCCESS) value.data.resize(size);
    break;
  }
  if (value.status != ERROR_SUCCESS) value.data.clear();
  return value;
}

// 64-bit Windows keeps the 32-bit view under SOFTWARE\Wow6432Node of the 64-bit one;
// 32-bit Windows ignores KEY_WOW64_64KEY and has no such key.
bool hasTwoViews(RegKey root) {
  UniqueHkey key;
  return RegOpenKeyExW(reinterpret_cast<HKEY>(root), L"SOFTWARE\\Wow6432Node", 0,
                       KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.receive()) != ERROR_FILE_NOT_FOUND;
}

long connectRegistry(const wchar_t* computer, RegKey* root) {
  HKEY connected = nullptr;
  const LONG status = RegConnectRegistryW(computer, HKEY_LOCAL_MACHINE, &connected);
  *root = reinterpret_cast<RegKey>(connected);
  return status;
}

}  // namespace platform
