#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

// The native build's registry: an in-memory tree that answers the wrappers of
// registry.h as Windows does. Tests fill it.
namespace platform::standin {

void clearRegistry();
void setRegistryValue(RegKey root, const std::string& subKey, const std::string& name,
                      RegDword type, std::vector<std::uint8_t> data);
// Creates the key without values, so that it opens but every query misses.
void createRegistryKey(RegKey root, const std::string& subKey);
// Number of keys opened and not yet closed: shows handle leaks.
int openRegistryHandles();

}  // namespace platform::standin
