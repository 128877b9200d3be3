#pragma once

#include <cstdint>

// Thin wrappers over the 8-bit registry functions, with their arguments and
// status codes. Portable code uses these names; the Windows build forwards to
// advapi32, the native build to an in-memory stand-in registry.
namespace platform {

struct RegKeyTag;
using RegKey = RegKeyTag*;       // HKEY
using RegDword = unsigned long;  // DWORD: 32 bits on Windows

// Predefined root keys carry these handle values on Windows.
inline RegKey hkeyLocalMachine() {
  return reinterpret_cast<RegKey>(static_cast<std::intptr_t>(std::int32_t(0x80000002u)));
}
inline RegKey hkeyCurrentUser() {
  return reinterpret_cast<RegKey>(static_cast<std::intptr_t>(std::int32_t(0x80000001u)));
}

inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;
inline constexpr RegDword kRegBinary = 3;

long regOpenKeyA(RegKey root, const char* subKey, RegKey* result);
long regQueryValueExA(RegKey key, const char* valueName, RegDword* reserved, RegDword* type,
                      std::uint8_t* data, RegDword* size);
long regCloseKey(RegKey key);

}  // namespace platform
