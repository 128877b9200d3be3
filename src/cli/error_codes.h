#pragma once

// Every error code the console program reports, in one table: its stable name
// (scripts rely on it), the sources it comes from, and what it means. --help
// lists it; a test holds README's and the man page's lists to it.

#include <cstddef>

#include "cli/key_record.h"

namespace cli {

// Which builds can report a code.
enum class Reach { everywhere, registries, images };

struct ErrorCodeInfo {
  ErrorCode code;
  const char* ownName;  // the program's own codes; the hive reader names its own
  const char* from;     // the sources it comes from, for the lists ("" where obvious)
  Reach reach;
  const char* meaning;
};

extern const ErrorCodeInfo kErrorCodes[];
extern const std::size_t kErrorCodeCount;

// The code's stable name.
const char* nameOf(const ErrorCodeInfo& code);

}  // namespace cli
