#pragma once

// Disk-image support as a module loaded on first use: the program links no
// image library, so a run that reads no image never loads one. The module
// exports one C function, kModuleEntryPoint, that returns this table.

#include <cstdint>

#include "image/disk_image.h"

namespace image {

// Raised whenever the table, or a type passed through it, changes.
constexpr std::uint32_t kModuleInterfaceVersion = 2;

using FindHivesAtEachPoint = decltype(&findHivesAtEachPoint);

struct ModuleInterface {
  std::uint32_t interfaceVersion;
  const char* build;  // the version of the sources it was built from
  FindHivesAtEachPoint findHivesAtEachPoint;
};

constexpr char kModuleEntryPoint[] = "tamsket_image_module";
// The Debian package that installs the module.
constexpr char kModulePackage[] = "tamsket-cli-images";

}  // namespace image
