#pragma once

// Hive files opened read-only and shared: only regular files (disk files on
// Windows), never a pipe or a device.

#include <memory>

#include "hive/hive.h"

namespace hive {

// A source reading the file at `path`; cannotOpen, notAFile or inUse when it cannot be opened.
Result<std::unique_ptr<ByteSource>> openFileSource(const text::PathString& path);

// Whether "<path>.LOG1" or "<path>.LOG2" (or their lower-case names) exists.
bool logFilesBeside(const text::PathString& path);

}  // namespace hive
