#include "image/libyal_files.h"

#include <dlfcn.h>

namespace image {

namespace {

template <typename Function>
bool lookUp(Function& function, const char* name) {
  function = reinterpret_cast<Function>(::dlsym(RTLD_DEFAULT, name));
  return function != nullptr;
}

}  // namespace

bool loadBfio(Bfio& f) {
  return lookUp(f.fileInitialize, "libbfio_file_initialize") &&
         lookUp(f.fileSetName, "libbfio_file_set_name") &&
         lookUp(f.handleOpen, "libbfio_handle_open") &&
         lookUp(f.handleClose, "libbfio_handle_close") &&
         lookUp(f.handleFree, "libbfio_handle_free") &&
         lookUp(f.poolInitialize, "libbfio_pool_initialize") &&
         lookUp(f.poolSetHandle, "libbfio_pool_set_handle") &&
         lookUp(f.poolCloseAll, "libbfio_pool_close_all") &&
         lookUp(f.poolFree, "libbfio_pool_free") &&
         lookUp(f.errorSprint, "libbfio_error_backtrace_sprint") &&
         lookUp(f.errorFree, "libbfio_error_free");
}

std::string bfioReason(const Bfio& bfio, libbfio_error_t* error, const char* otherwise) {
  return takeReason(error, bfio.errorSprint, bfio.errorFree, otherwise);
}

libbfio_handle_t* openReadOnly(const Bfio& bfio, const std::string& path, std::string& failure) {
  libbfio_handle_t* file = nullptr;
  libbfio_error_t* error = nullptr;
  if (bfio.fileInitialize(&file, &error) != 1 ||
      bfio.fileSetName(file, path.c_str(), path.size() + 1, &error) != 1 ||
      bfio.handleOpen(file, LIBBFIO_OPEN_READ, &error) != 1) {
    failure = "cannot open " + path + ": " + bfioReason(bfio, error, "no reason given");
    if (file) bfio.handleFree(&file, nullptr);
    return nullptr;
  }
  return file;
}

}  // namespace image
