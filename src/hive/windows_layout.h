#pragma once

// Where a Windows installation keeps its SOFTWARE hive, below the root of its
// volume. Windows 2000 installs into WINNT, later versions into Windows; the
// names are matched in any letter case, as Windows matches them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hive/folder.h"

namespace hive {

constexpr const char* kSystemRoots[] = {"Windows", "WINNT"};
constexpr const char* kSoftwareHivePath[] = {"System32", "config", "SOFTWARE"};

// The paths, name by name, at which a SOFTWARE hive may lie below a folder:
// in each system root, as below the root of a volume, and, with `inWindows`,
// in the folder itself, as in a Windows folder. Every one is looked in: a
// volume upgraded or set up to start either may hold both roots.
std::vector<std::vector<const char*>> softwareHivePaths(bool inWindows);
// "System32\config\SOFTWARE", as messages spell the path below a root.
std::string softwareHivePathText();

// Of `names`, the one that is `wanted` in any letter case: the exact spelling
// when it is there, else the first of the others in sorted order, so that a
// folder copied from Windows (which ignores case) reads the same every run.
std::optional<std::string> chooseName(const std::vector<std::string>& names,
                                      const std::string& wanted);

// A SOFTWARE hive found, to be opened in place with the logs beside it.
struct FoundHive {
  // "server.vhdx, partition 2 at 1048576 (NTFS): \Windows\System32\config\SOFTWARE"
  std::string location;
  std::unique_ptr<Folder> folder;  // the folder it lies in (config)
  std::string name;                // its name there
};

// The SOFTWARE hives below `root` (at softwareHivePaths(inWindows)), each
// located as `root` names it, and each folder on the way that could not be read.
struct SoftwareHives {
  std::vector<FoundHive> hives;
  std::vector<std::string> failures;
};
SoftwareHives findSoftwareHives(const Folder& root, bool inWindows);

}  // namespace hive
