#include "support/registry_standin.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>

namespace platform {
namespace {

struct Value {
  RegDword type;
  std::vector<std::uint8_t> data;
};

// Registry names compare without regard to case, as on Windows.
std::string foldCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct Key {
  std::map<std::string, Value> values;  // by folded name
};

struct Registry {
  std::map<std::pair<RegKey, std::string>, Key> keys;  // by root and folded path
  std::multiset<const Key*> open;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

namespace standin {

void clearRegistry() { registry() = Registry{}; }

void createRegistryKey(RegKey root, const std::string& subKey) {
  registry().keys[{root, foldCase(subKey)}];
}

void setRegistryValue(RegKey root, const std::string& subKey, const std::string& name,
                      RegDword type, std::vector<std::uint8_t> data) {
  registry().keys[{root, foldCase(subKey)}].values[foldCase(name)] = Value{type, std::move(data)};
}

int openRegistryHandles() { return static_cast<int>(registry().open.size()); }

}  // namespace standin

long regOpenKeyA(RegKey root, const char* subKey, RegKey* result) {
  auto& reg = registry();
  const auto found = reg.keys.find({root, foldCase(subKey ? subKey : "")});
  if (found == reg.keys.end()) {
    *result = nullptr;
    return kErrorFileNotFound;
  }
  reg.open.insert(&found->second);
  *result = reinterpret_cast<RegKey>(const_cast<Key*>(&found->second));
  return kErrorSuccess;
}

long regQueryValueExA(RegKey key, const char* valueName, RegDword* reserved, RegDword* type,
                      std::uint8_t* data, RegDword* size) {
  auto& reg = registry();
  const auto* opened = reinterpret_cast<const Key*>(key);
  if (reserved != nullptr || reg.open.count(opened) == 0) return kErrorInvalidHandle;
  const auto found = opened->values.find(foldCase(valueName ? valueName : ""));
  if (found == opened->values.end()) return kErrorFileNotFound;
  const Value& value = found->second;
  if (type) *type = value.type;
  if (!size) return data ? kErrorInvalidParameter : kErrorSuccess;
  const RegDword capacity = *size;
  *size = static_cast<RegDword>(value.data.size());
  if (!data) return kErrorSuccess;
  if (value.data.size() > capacity) return kErrorMoreData;
  std::copy(value.data.begin(), value.data.end(), data);
  return kErrorSuccess;
}

long regCloseKey(RegKey key) {
  auto& open = registry().open;
  const auto found = open.find(reinterpret_cast<const Key*>(key));
  if (found == open.end()) return kErrorInvalidHandle;
  open.erase(found);
  return kErrorSuccess;
}

}  // namespace platform
