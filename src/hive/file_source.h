#pragma once

// Hive files opened read-only and shared, with the C runtime only.

#include <memory>

#include "hive/hive.h"

namespace hive {

// A source reading the file at `path`; cannotOpen or inUse when it cannot be opened.
Result<std::unique_ptr<ByteSource>> openFileSource(const PathString& path);

// Whether "<path>.LOG1" or "<path>.LOG2" (or their lower-case names) exists.
bool logFilesBeside(const PathString& path);

}  // namespace hive
