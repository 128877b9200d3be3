#pragma once

// Finds and loads the image module, relative to the program: in the package's
// private library folder, which a build tree lays out the same way.

#include <string>

#include "image/image_module.h"
#include "result/result.h"

namespace image {

// The module's table, or why it cannot be had, in words that say what to install.
tamsket::Result<const ModuleInterface*, std::string> loadModule(const std::string& programVersion);

}  // namespace image
