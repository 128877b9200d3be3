#pragma once

// The folder a hive lies in, wherever that folder is: on a local disk, or
// inside a disk image. Transaction logs are found and read through it, so a
// hive's logs are read the same way as the hive itself.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hive/hive.h"

namespace hive {

class Folder {
 public:
  virtual ~Folder() = default;
  // The names of the folder's entries as the file system keeps them, in UTF-8
  // (on Linux, the bytes of the name as they are).
  virtual std::vector<std::string> names() const = 0;
  // Opens the entry `name`, one of names(), read-only and shared.
  virtual Result<std::unique_ptr<ByteSource>> open(const std::string& name) const = 0;
};

// What Windows appends to a hive's name for its transaction logs.
constexpr const char* kLogSuffixes[] = {".LOG1", ".LOG2"};

// Whether `folder` holds a transaction log of the hive named `hiveName`, in any letter case.
bool hasLogFiles(const Folder& folder, std::string_view hiveName);

}  // namespace hive
