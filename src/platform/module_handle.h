#pragma once

// GetModuleHandleA: nullptr names the program's own module, whose handle is
// the application's instance.
namespace platform {

void* getModuleHandleA(const char* moduleName);

}  // namespace platform
