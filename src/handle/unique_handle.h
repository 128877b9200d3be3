#pragma once

// One owner for every kind of handle the modules open: it closes the handle
// however the code that opened it ends, error paths included.

#include <cstdio>
#include <utility>

#ifndef _WIN32
#include <dirent.h>
#include <unistd.h>
#endif

namespace tamsket {

// The value meaning "no handle" for most kinds: null.
template <typename Handle>
Handle nullHandle() {
  return Handle{};
}

// Owns one handle and gives it back with `Close` when done. `None` gives the
// value meaning "no handle" for its kind: null for pointers, registry keys and
// GDI objects, -1 for a POSIX descriptor, INVALID_HANDLE_VALUE for a Windows
// file or search. Move-only.
template <typename Handle, auto Close, Handle (*None)() = nullHandle<Handle>>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != None(); }
  // For functions that hand a new handle out through a pointer.
  Handle* receive() {
    reset();
    return &handle_;
  }
  // Gives up ownership, as when the clipboard takes memory over.
  Handle release() { return std::exchange(handle_, None()); }
  void reset(Handle handle = None()) {
    if (handle_ != None()) Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = None();
};

inline void closeStream(std::FILE* file) { std::fclose(file); }
// A C runtime stream (fopen, _wfsopen).
using UniqueStream = UniqueHandle<std::FILE*, closeStream>;

#ifndef _WIN32
inline int noDescriptor() { return -1; }
inline void closeDescriptor(int fd) { ::close(fd); }
inline void closeListing(DIR* listing) { ::closedir(listing); }
// A POSIX file descriptor (open).
using UniqueDescriptor = UniqueHandle<int, closeDescriptor, noDescriptor>;
// A folder listing (opendir).
using UniqueListing = UniqueHandle<DIR*, closeListing>;
#endif

}  // namespace tamsket
