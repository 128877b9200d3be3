#include "platform/registry.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(RegDword) == sizeof(DWORD), "RegDword must be DWORD");

long regOpenKeyA(RegKey root, const char* subKey, RegKey* result) {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyA(reinterpret_cast<HKEY>(root), subKey, &opened);
  *result = reinterpret_cast<RegKey>(opened);
  return status;
}

long regQueryValueExA(RegKey key, const char* valueName, RegDword* reserved, RegDword* type,
                      std::uint8_t* data, RegDword* size) {
  return RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName, reserved, type, data, size);
}

long regCloseKey(RegKey key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

}  // namespace platform
