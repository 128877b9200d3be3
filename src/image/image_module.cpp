// The entry point of the image module, the one symbol it exports.
#include "image/image_module.h"

#ifndef TAMSKET_VERSION
#error "TAMSKET_VERSION names the sources the module is built from"
#endif

namespace {

constexpr image::ModuleInterface kInterface = {image::kModuleInterfaceVersion, TAMSKET_VERSION,
                                               &image::findHivesAtEachPoint};

}  // namespace

extern "C" __attribute__((visibility("default"))) const image::ModuleInterface*
tamsket_image_module() {
  return &kInterface;
}
