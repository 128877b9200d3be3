#pragma once

// Files handed to libyal's libraries (libvmdk, libvhdi), opened read-only by this code.

#include <libbfio.h>

#include <string>

namespace image {

// libvhdi and libewf export bundled copies of libbfio and The Sleuth Kit loads
// them before libbfio itself: libvmdk's calls go to the first copy, so the
// pool handed to it must come from that copy too. (Linking libbfio ahead of
// them breaks libewf: every E01 fails to open.)
struct Bfio {
  decltype(&libbfio_file_initialize) fileInitialize;
  decltype(&libbfio_file_set_name) fileSetName;
  decltype(&libbfio_handle_open) handleOpen;
  decltype(&libbfio_handle_close) handleClose;
  decltype(&libbfio_handle_free) handleFree;
  decltype(&libbfio_pool_initialize) poolInitialize;
  decltype(&libbfio_pool_set_handle) poolSetHandle;
  decltype(&libbfio_pool_close_all) poolCloseAll;
  decltype(&libbfio_pool_free) poolFree;
  decltype(&libbfio_error_backtrace_sprint) errorSprint;
  decltype(&libbfio_error_free) errorFree;
};

// The functions of the copy of libbfio the image libraries call, or false.
bool loadBfio(Bfio& bfio);

// libyal errors chain from the first failure outwards; the first says what was wrong.
template <typename Error, typename Print, typename Free>
std::string takeReason(Error* error, Print print, Free free, const char* otherwise) {
  std::string reason = otherwise;
  char text[2048] = {};
  if (error && print(error, text, sizeof text) > 0) {
    reason = text;
    reason = reason.substr(0, reason.find('\n'));
  }
  if (error) free(&error);
  return reason;
}

std::string bfioReason(const Bfio& bfio, libbfio_error_t* error, const char* otherwise);

// A file handle on `path` opened for reading only, or null and why not.
libbfio_handle_t* openReadOnly(const Bfio& bfio, const std::string& path, std::string& failure);

}  // namespace image
