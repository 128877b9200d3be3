#include "hive/folder.h"

#include "hive/windows_layout.h"

#include <algorithm>

#include "text/text.h"

namespace hive {

std::optional<std::string> chooseName(const std::vector<std::string>& names,
                                      const std::string& wanted) {
  const std::string* chosen = nullptr;
  for (const std::string& name : names) {
    if (!text::equalsIgnoringAsciiCase(name, wanted)) continue;
    if (name == wanted) return name;
    if (!chosen || name < *chosen) chosen = &name;
  }
  if (!chosen) return std::nullopt;
  return *chosen;
}

std::vector<std::vector<const char*>> softwareHivePaths(bool inWindows) {
  std::vector<std::vector<const char*>> paths;
  if (inWindows) paths.emplace_back(std::begin(kSoftwareHivePath), std::end(kSoftwareHivePath));
  for (const char* root : kSystemRoots) {
    paths.push_back({root});
    paths.back().insert(paths.back().end(), std::begin(kSoftwareHivePath),
                        std::end(kSoftwareHivePath));
  }
  return paths;
}

std::string softwareHivePathText() {
  std::string text;
  for (const char* name : kSoftwareHivePath) text += (text.empty() ? "" : "\\") + std::string(name);
  return text;
}

std::vector<std::string> Folder::names() const {
  auto listed = list();
  return listed ? std::move(listed.value()) : std::vector<std::string>();
}

SoftwareHives findSoftwareHives(const Folder& root, bool inWindows) {
  SoftwareHives found;
  for (const auto& path : softwareHivePaths(inWindows)) {
    const Folder* in = &root;
    std::unique_ptr<Folder> held;
    for (std::size_t i = 0; i < path.size(); ++i) {
      const auto listed = in->list();
      if (!listed) {
        if (std::find(found.failures.begin(), found.failures.end(), listed.error()) ==
            found.failures.end()) {
          found.failures.push_back(listed.error());
        }
        break;
      }
      const std::optional<std::string> chosen = chooseName(listed.value(), path[i]);
      if (!chosen) break;
      if (i + 1 == path.size()) {
        found.hives.push_back({in->pathOf(*chosen), std::move(held), *chosen});
        break;
      }
      held = in->openFolder(*chosen);
      in = held.get();
    }
  }
  return found;
}

std::vector<std::string> logNamesBeside(const Folder& folder, const std::string& hive) {
  const std::vector<std::string> names = folder.names();
  std::vector<std::string> logs;
  for (const char* suffix : {".LOG", ".LOG1", ".LOG2"}) {
    if (auto chosen = chooseName(names, hive + suffix)) logs.push_back(std::move(*chosen));
  }
  return logs;
}

}  // namespace hive
