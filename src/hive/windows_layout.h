#pragma once

// Where a Windows installation keeps its SOFTWARE hive, below the root of its
// volume. Windows 2000 installs into WINNT, later versions into Windows; the
// names are matched in any letter case.

namespace hive {

constexpr const char* kSystemRoots[] = {"Windows", "WINNT"};
constexpr const char* kSoftwareHivePath[] = {"System32", "config", "SOFTWARE"};

}  // namespace hive
