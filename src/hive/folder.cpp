#include "hive/folder.h"

#include <algorithm>

#include "text/text.h"

namespace hive {

std::vector<std::string> logNamesBeside(const Folder& folder, const std::string& hive) {
  std::vector<std::string> names = folder.names();
  std::sort(names.begin(), names.end());
  std::vector<std::string> logs;
  for (const char* suffix : {".LOG", ".LOG1", ".LOG2"}) {
    const std::string want = hive + suffix;
    const std::string* chosen = nullptr;
    for (const std::string& name : names) {
      if (!text::equalsIgnoringAsciiCase(name, want)) continue;
      if (!chosen || name == want) chosen = &name;
    }
    if (chosen) logs.push_back(*chosen);
  }
  return logs;
}

}  // namespace hive
