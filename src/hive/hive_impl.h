#pragma once

// What an open hive holds: its records' reader, what its base block gave and
// what became of its logs.

#include <optional>
#include <string>
#include <vector>

#include "hive/hive.h"
#include "hive/records.h"

namespace hive {

struct Hive::Impl : RecordReader {
  std::uint32_t rootCell = 0;
  std::u16string embeddedName;
  HiveState state = HiveState::clean;
  bool logFiles = false;
  std::string logReport;
};

}  // namespace hive
