#pragma once

// Transaction logs applied in memory, as Windows applies them when it loads a
// hive that was not closed cleanly: the new format (.LOG1/.LOG2, "HvLE"
// entries checked by Marvin32 hashes) and the old one (a "DIRT" vector of
// dirty 512-byte sectors). Neither the hive nor its logs are written.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hive/hive.h"

namespace hive {

// What applying the logs came to.
struct Recovery {
  // The hive as recovered: the primary's bytes under the logged pages and the
  // recovered base block; the primary itself when nothing was laid over it.
  std::unique_ptr<ByteSource> source;
  bool applied = false;        // logged pages were laid over the primary
  bool complete = false;       // applied, every log was read, and the entries ran to their end
  bool baseRecovered = false;  // the base block came from a log
  std::string report;          // one line for people: what was done, or why nothing was
};

// Applies `logs` to `primary`, whose base block `base` (4096 bytes) is dirty.
// Memory follows the size of the logs; the primary is read only where a
// caller reads the result.
Recovery recoverHive(std::unique_ptr<ByteSource> primary, const std::uint8_t* base,
                     const std::vector<LogFile>& logs);

}  // namespace hive
