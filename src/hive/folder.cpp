#include "hive/folder.h"

namespace hive {

bool hasLogFiles(const Folder& folder, std::string_view hiveName) {
  for (const std::string& name : folder.names()) {
    for (const char* suffix : kLogSuffixes) {
      if (text::equalsIgnoringAsciiCase(name, std::string(hiveName) + suffix)) return true;
    }
  }
  return false;
}

}  // namespace hive
