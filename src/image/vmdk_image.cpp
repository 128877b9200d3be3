#include "image/vmdk_image.h"

#include "handle/unique_handle.h"

#include <libvmdk.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "image/libyal_files.h"

namespace image {

namespace {

std::string vmdkReason(libvmdk_error_t* error, const char* otherwise) {
  return takeReason(error, libvmdk_error_backtrace_sprint, libvmdk_error_free, otherwise);
}

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

// A sparse extent holds grains of its own; where it holds none, libvmdk reads its parent, or zeros
// when it has none set: a delta is never read before its parent is.
class VmdkLink : public ChainLink {
 public:
  VmdkLink(const Bfio& bfio, libvmdk_handle_t* handle, libbfio_pool_t* pool,
           std::vector<std::string> extents, std::uint64_t size)
      : bfio_(bfio), handle_(handle), pool_(pool), extents_(std::move(extents)), size_(size) {}
  VmdkLink(const VmdkLink&) = delete;
  VmdkLink& operator=(const VmdkLink&) = delete;
  ~VmdkLink() override { release(bfio_, handle_, pool_); }

  bool hasParent() const override { return parentContentId() != kNoParent; }
  std::string parentHint() const override {
    std::size_t size = 0;
    if (libvmdk_handle_get_utf8_parent_filename_size(handle_, &size, nullptr) != 1 || size == 0) {
      return "";
    }
    std::string name(size, '\0');
    if (libvmdk_handle_get_utf8_parent_filename(
            handle_, reinterpret_cast<std::uint8_t*>(name.data()), size, nullptr) != 1) {
      return "";
    }
    name.resize(std::strlen(name.c_str()));
    return name;
  }
  std::string identity() const override {
    std::uint32_t id = 0;
    if (libvmdk_handle_get_content_identifier(handle_, &id, nullptr) != 1) return "no content id";
    return "content id " + hex(id);
  }
  std::string parentIdentity() const override { return "content id " + hex(parentContentId()); }
  tamsket::Status<std::string> setParent(ChainLink& parent) override {
    libvmdk_error_t* error = nullptr;
    if (libvmdk_handle_set_parent_handle(handle_, static_cast<VmdkLink&>(parent).handle_, &error) !=
        1) {
      return vmdkReason(error, "libvmdk refused it");
    }
    return {};
  }
  std::uint64_t size() const override { return size_; }
  ssize_t read(std::uint64_t offset, char* out, std::size_t length, std::string& failure) override {
    libvmdk_error_t* error = nullptr;
    const ssize_t got = libvmdk_handle_read_buffer_at_offset(handle_, out, length,
                                                             static_cast<off64_t>(offset), &error);
    if (got < 0) failure = vmdkReason(error, "the VMDK cannot be read");
    return got;
  }
  std::vector<std::string> extents() const override { return extents_; }

 private:
  // What a disk without a parent records as its parent's content id.
  static constexpr std::uint32_t kNoParent = 0xffffffff;

  std::uint32_t parentContentId() const {
    std::uint32_t id = kNoParent;
    if (libvmdk_handle_get_parent_content_identifier(handle_, &id, nullptr) != 1) return kNoParent;
    return id;
  }
  static std::string hex(std::uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
  }

  Bfio bfio_;
  libvmdk_handle_t* handle_;
  libbfio_pool_t* pool_;
  std::vector<std::string> extents_;
  std::uint64_t size_;
};

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

std::unique_ptr<ChainLink> openVmdkLink(const std::string& path, std::string& failure) {
  Bfio bfio{};
  if (!loadBfio(bfio)) {
    failure = "libbfio, which libvmdk reads files through, is not loaded";
    return nullptr;
  }
  // A file that carries its descriptor (monolithic sparse or stream-optimised) is its own one
  // extent, whatever that descriptor calls it.
  char signature[4] = {};
  const tamsket::UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  const bool embedded = file && ::pread(file.get(), signature, sizeof signature, 0) == 4 &&
                        std::memcmp(signature, "KDMV", 4) == 0;
  libvmdk_handle_t* handle = nullptr;
  libbfio_pool_t* pool = nullptr;
  libvmdk_error_t* error = nullptr;
  std::vector<std::string> extents;
  const auto fail = [&](std::string why) {
    release(bfio, handle, pool);
    failure = std::move(why);
    return nullptr;
  };

  libbfio_handle_t* descriptor = openReadOnly(bfio, path, failure);
  if (!descriptor) return nullptr;
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
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  for (int i = 0; i < count; ++i) {
    int type = 0;
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
    if (!embedded) extents.push_back(name);
  }
  size64_t size = 0;
  if (libvmdk_handle_open_extent_data_files_file_io_pool(handle, pool, &error) != 1 ||
      libvmdk_handle_get_media_size(handle, &size, &error) != 1) {
    return fail(vmdkReason(error, "its extents cannot be read"));
  }
  return std::make_unique<VmdkLink>(bfio, handle, pool, std::move(extents), size);
}

}  // namespace image
