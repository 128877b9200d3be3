#include "image/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#ifndef TAMSKET_MODULE_PATH
#error "TAMSKET_MODULE_PATH gives the module's path relative to the program's folder"
#endif

namespace image {

namespace {

// The folder of the running program, whatever name or link started it, or
// "" when the system does not say.
std::string programFolder(std::string& failure) {
  std::vector<char> path(4096);
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
    failure = std::string("the program's own path cannot be read: ") +
              std::strerror(n < 0 ? errno : ENAMETOOLONG);
    return "";
  }
  std::string folder(path.data(), static_cast<std::size_t>(n));
  return folder.substr(0, folder.find_last_of('/') + 1);
}

std::string missing(const std::string& why) {
  return std::string("disk images are read by the package ") + kModulePackage +
         ", which is not installed or cannot be loaded: " + why;
}

}  // namespace

tamsket::Result<const ModuleInterface*, std::string> loadModule(const std::string& programVersion) {
  std::string failure;
  const std::string folder = programFolder(failure);
  if (folder.empty()) return missing(failure);
  const std::string path = folder + TAMSKET_MODULE_PATH;
  // Never closed: what it returns lives as long as the program.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) return missing(::dlerror());
  using Entry = const ModuleInterface* (*)();
  const auto entry = reinterpret_cast<Entry>(::dlsym(module, kModuleEntryPoint));
  const ModuleInterface* table = entry ? entry() : nullptr;
  if (!table || table->interfaceVersion != kModuleInterfaceVersion ||
      programVersion != table->build) {
    return missing(path + " is of another version than tamsket-cli " + programVersion);
  }
  return table;
}

}  // namespace image
