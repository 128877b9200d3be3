#include "platform/module_handle.h"

#include <windows.h>

namespace platform {

void* getModuleHandleA(const char* moduleName) { return GetModuleHandleA(moduleName); }

}  // namespace platform
