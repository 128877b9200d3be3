#pragma once

// Hive files opened read-only and shared: only regular files (disk files on
// Windows), never a pipe or a device.

#include <memory>

#include "hive/folder.h"
#include "hive/hive.h"

namespace hive {

// A source reading the file at `path`; cannotOpen, notAFile or inUse when it cannot be opened.
Result<std::unique_ptr<ByteSource>> openFileSource(const text::PathString& path);

// The local folder holding `path`, and the file's name in it (UTF-8). A
// folder that cannot be listed lists no names.
std::unique_ptr<Folder> folderOf(const text::PathString& path, std::string& name);

// The local folder `dir`, named `shown` in messages and in its entries' paths.
std::unique_ptr<Folder> folderAt(const text::PathString& dir, const std::string& shown);

}  // namespace hive
