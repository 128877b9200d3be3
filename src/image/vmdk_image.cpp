#include "image/vmdk_image.h"

#include <dlfcn.h>
#include <libbfio.h>
#include <libvmdk.h>

#include <cstring>
#include <memory>
#include <type_traits>

namespace image {

namespace {

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

template <typename Function>
bool lookUp(Function& function, const char* name) {
  function = reinterpret_cast<Function>(::dlsym(RTLD_DEFAULT, name));
  return function != nullptr;
}

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

std::string vmdkReason(libvmdk_error_t* error, const char* otherwise) {
  return takeReason(error, libvmdk_error_backtrace_sprint, libvmdk_error_free, otherwise);
}

std::string bfioReason(const Bfio& bfio, libbfio_error_t* error, const char* otherwise) {
  return takeReason(error, bfio.errorSprint, bfio.errorFree, otherwise);
}

// What The Sleuth Kit holds: its image structure first, as it casts it.
struct ExternalVmdk {
  TSK_IMG_INFO info;
  libvmdk_handle_t* handle;
  libbfio_pool_t* pool;
  Bfio bfio;
  std::string name;
  TSK_TCHAR* names[1];
};
static_assert(std::is_standard_layout_v<ExternalVmdk>,
              "The Sleuth Kit casts it to its first member");

void release(const Bfio& bfio, libvmdk_handle_t* handle, libbfio_pool_t* pool) {
  if (handle) {
    libvmdk_handle_close(handle, nullptr);
    libvmdk_handle_free(&handle, nullptr);
  }
  if (pool) {
    bfio.poolCloseAll(pool, nullptr);
    bfio.poolFree(&pool, nullptr);
  }
}

ssize_t readVmdk(TSK_IMG_INFO* img, TSK_OFF_T offset, char* out, size_t length) {
  auto* self = reinterpret_cast<ExternalVmdk*>(img);
  libvmdk_error_t* error = nullptr;
  const ssize_t got =
      libvmdk_handle_read_buffer_at_offset(self->handle, out, length, offset, &error);
  if (got < 0) {
    const std::string reason = vmdkReason(error, "the VMDK cannot be read");
    tsk_error_reset();
    tsk_error_set_errno(TSK_ERR_IMG_READ);
    tsk_error_set_errstr("%s", reason.c_str());
  }
  return got;
}

void closeVmdk(TSK_IMG_INFO* img) {
  auto* self = reinterpret_cast<ExternalVmdk*>(img);
  release(self->bfio, self->handle, self->pool);
  delete self;
}

void statVmdk(TSK_IMG_INFO*, FILE* out) { std::fputs("Image Type: VMDK (libvmdk)\n", out); }

// A file handle on `path` opened for reading only, or why not.
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

std::string extentName(libvmdk_handle_t* handle, int index, int& type, std::string& failure) {
  libvmdk_extent_descriptor_t* extent = nullptr;
  libvmdk_error_t* error = nullptr;
  std::size_t size = 0;
  std::string name;
  if (libvmdk_handle_get_extent_descriptor(handle, index, &extent, &error) != 1 ||
      libvmdk_extent_descriptor_get_type(extent, &type, &error) != 1) {
    failure = vmdkReason(error, "its descriptor lists an unreadable extent");
  } else if (type != LIBVMDK_EXTENT_TYPE_ZERO &&
             (libvmdk_extent_descriptor_get_utf8_filename_size(extent, &size, &error) != 1 ||
              size == 0)) {
    failure = vmdkReason(error, "its descriptor lists an extent without a file name");
  } else if (size > 0) {
    name.resize(size);
    if (libvmdk_extent_descriptor_get_utf8_filename(
            extent, reinterpret_cast<std::uint8_t*>(name.data()), size, &error) != 1) {
      failure = vmdkReason(error, "its descriptor lists an extent without a file name");
    }
    name.resize(std::strlen(name.c_str()));
  }
  if (extent) libvmdk_extent_descriptor_free(&extent, nullptr);
  return name;
}

}  // namespace

VmdkImage openVmdk(const std::string& path, bool embedded) {
  VmdkImage opened;
  Bfio bfio{};
  if (!loadBfio(bfio)) {
    opened.failure = "libbfio, which libvmdk reads files through, is not loaded";
    return opened;
  }
  libvmdk_handle_t* handle = nullptr;
  libbfio_pool_t* pool = nullptr;
  libvmdk_error_t* error = nullptr;
  const auto fail = [&](std::string why) {
    release(bfio, handle, pool);
    opened.failure = std::move(why);
    return std::move(opened);
  };

  libbfio_handle_t* descriptor = openReadOnly(bfio, path, opened.failure);
  if (!descriptor) return opened;
  const bool read =
      libvmdk_handle_initialize(&handle, &error) == 1 &&
      libvmdk_handle_open_file_io_handle(handle, descriptor, LIBVMDK_OPEN_READ, &error) == 1;
  bfio.handleClose(descriptor, nullptr);
  bfio.handleFree(&descriptor, nullptr);
  if (!read) return fail(vmdkReason(error, "its descriptor cannot be read"));

  int count = 0;
  if (libvmdk_handle_get_number_of_extents(handle, &count, &error) != 1 || count < 1) {
    return fail(vmdkReason(error, "its descriptor lists no extent"));
  }
  if (embedded && count != 1) {
    return fail("its embedded descriptor lists " + std::to_string(count) +
                " extents; a file holding its own descriptor is one");
  }
  libbfio_error_t* poolError = nullptr;
  if (bfio.poolInitialize(&pool, count, LIBBFIO_POOL_UNLIMITED_NUMBER_OF_OPEN_HANDLES,
                          &poolError) != 1) {
    return fail(bfioReason(bfio, poolError, "no memory for its extents"));
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  for (int i = 0; i < count; ++i) {
    int type = 0;
    std::string failure;
    const std::string name = extentName(handle, i, type, failure);
    if (!failure.empty()) return fail(failure);
    if (type == LIBVMDK_EXTENT_TYPE_ZERO) continue;
    // The name inside a monolithic file is the one it was created under, not
    // necessarily its own; other extents lie beside their descriptor.
    if (!embedded && (name.empty() || name.find('/') != std::string::npos)) {
      return fail("its descriptor names an extent outside its folder: " + name);
    }
    const std::string extentPath = embedded ? path : folder + name;
    libbfio_handle_t* file = openReadOnly(bfio, extentPath, failure);
    if (!file) return fail(failure);
    if (bfio.poolSetHandle(pool, i, file, LIBBFIO_OPEN_READ, &poolError) != 1) {
      bfio.handleClose(file, nullptr);
      bfio.handleFree(&file, nullptr);
      return fail(bfioReason(bfio, poolError, "its extents cannot be held"));
    }
    if (!embedded) opened.extents.push_back(name);
  }
  size64_t size = 0;
  if (libvmdk_handle_open_extent_data_files_file_io_pool(handle, pool, &error) != 1 ||
      libvmdk_handle_get_media_size(handle, &size, &error) != 1) {
    return fail(vmdkReason(error, "its extents cannot be read"));
  }

  auto external = std::make_unique<ExternalVmdk>();
  external->info = {};
  external->handle = handle;
  external->pool = pool;
  external->bfio = bfio;
  // The file systems look for side files by the image's name (YAFFS2's configuration).
  external->name = path;
  external->names[0] = external->name.data();
  external->info.images = external->names;
  external->info.num_img = 1;
  TSK_IMG_INFO* img = tsk_img_open_external(external.get(), static_cast<TSK_OFF_T>(size), 512,
                                            readVmdk, closeVmdk, statVmdk);
  if (!img) {
    opened.failure = tsk_error_get() ? tsk_error_get() : "The Sleuth Kit refused it";
    external.reset();
    release(bfio, handle, pool);
    return opened;
  }
  external.release();
  opened.img = img;
  return opened;
}

}  // namespace image
