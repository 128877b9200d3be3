#pragma once

// The folder a hive lies in, wherever that folder is: on a local disk, or
// inside a disk image. Transaction logs are found and read through it, so a
// hive's logs are read the same way as the hive itself.

#include <memory>
#include <string>
#include <vector>

#include "hive/hive.h"
#include "result/result.h"

namespace hive {

class Folder {
 public:
  virtual ~Folder() = default;
  // The names of the folder's entries as the file system keeps them, in UTF-8
  // (on Linux, the bytes of the name as they are), or why it cannot be read:
  // one line naming it ("cannot open PATH: the system's reason").
  virtual tamsket::Result<std::vector<std::string>, std::string> list() const = 0;
  // The names, or none when the folder cannot be read.
  std::vector<std::string> names() const;
  // Opens the entry `name`, one of names(), read-only and shared.
  virtual Result<std::unique_ptr<ByteSource>> open(const std::string& name) const = 0;
  // The folder `name`, one of names(); read when it is listed.
  virtual std::unique_ptr<Folder> openFolder(const std::string& name) const = 0;
  // The entry `name` as records and messages name it.
  virtual std::string pathOf(const std::string& name) const = 0;
};

// The names of `folder` that are "<hive>.LOG", ".LOG1" and ".LOG2" in any
// letter case, in that order; of several spellings of one, the exact one if
// there, else the first in sorted order.
std::vector<std::string> logNamesBeside(const Folder& folder, const std::string& hive);

}  // namespace hive
