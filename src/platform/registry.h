#pragma once

#include <cstdint>
#include <vector>

#include "handle/unique_handle.h"

// The registry, the one way both programs reach it. The window keeps its
// 8-bit calls (RegOpenKeyA, RegQueryValueExA) with their arguments and status
// codes; the console program reads whole values in either view, of this
// machine or of one connected over the network. The Windows build forwards to
// advapi32; natively the tests bring a stand-in for the 8-bit calls.
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
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;
inline constexpr RegDword kRegBinary = 3;

long regOpenKeyA(RegKey root, const char* subKey, RegKey* result);
long regQueryValueExA(RegKey key, const char* valueName, RegDword* reserved, RegDword* type,
                      std::uint8_t* data, RegDword* size);
long regCloseKey(RegKey key);
// An opened key, closed with regCloseKey however its reader ends.
using UniqueKey = tamsket::UniqueHandle<RegKey, regCloseKey>;

// The two registry views of 64-bit Windows; 32-bit Windows has one, which
// both name.
enum class RegistryView { bits32, bits64 };

// A value read whole, however large, or the status of the call that failed:
// opening the key (`inKey`) or reading the value. kErrorFileNotFound: no such
// key or value.
struct RegistryValue {
  long status = kErrorSuccess;
  bool inKey = false;
  RegDword type = 0;
  std::vector<std::uint8_t> data;
};
// `subKey` and `valueName` in UTF-8.
RegistryValue readRegistryValue(RegKey root, RegistryView view, const char* subKey,
                                const char* valueName);

// Whether `root` (HKEY_LOCAL_MACHINE) keeps a 32-bit view beside the 64-bit
// one, as 64-bit Windows does.
bool hasTwoViews(RegKey root);

// HKEY_LOCAL_MACHINE of `computer`, through the Remote Registry service;
// closed with regCloseKey.
long connectRegistry(const wchar_t* computer, RegKey* root);

}  // namespace platform
