#include "image/vhd_image.h"

// Debian's libvhdi is built with a bundled libbfio, so its header leaves out the file-IO
// functions the library still exports.
#define LIBVHDI_HAVE_BFIO 1
#include <libvhdi.h>

#include <cstdio>
#include <cstring>

#include "image/libyal_files.h"

namespace image {

namespace {

std::string vhdiReason(libvhdi_error_t* error, const char* otherwise) {
  return takeReason(error, libvhdi_error_backtrace_sprint, libvhdi_error_free, otherwise);
}

// The library keeps reading through the file handle it was opened with, so the link owns both.
class VhdLink : public ChainLink {
 public:
  VhdLink(const Bfio& bfio, libvhdi_file_t* file, libbfio_handle_t* handle, std::uint64_t size)
      : bfio_(bfio), file_(file), handle_(handle), size_(size) {}
  VhdLink(const VhdLink&) = delete;
  VhdLink& operator=(const VhdLink&) = delete;
  ~VhdLink() override { release(bfio_, file_, handle_); }

  static void release(const Bfio& bfio, libvhdi_file_t* file, libbfio_handle_t* handle) {
    if (file) {
      libvhdi_file_close(file, nullptr);
      libvhdi_file_free(&file, nullptr);
    }
    if (handle) {
      bfio.handleClose(handle, nullptr);
      bfio.handleFree(&handle, nullptr);
    }
  }

  bool hasParent() const override {
    std::uint32_t type = 0;
    return libvhdi_file_get_disk_type(file_, &type, nullptr) == 1 &&
           type == LIBVHDI_DISK_TYPE_DIFFERENTIAL;
  }
  std::string parentHint() const override {
    std::size_t size = 0;
    if (libvhdi_file_get_utf8_parent_filename_size(file_, &size, nullptr) != 1 || size == 0) {
      return "";
    }
    std::string name(size, '\0');
    if (libvhdi_file_get_utf8_parent_filename(file_, reinterpret_cast<std::uint8_t*>(name.data()),
                                              size, nullptr) != 1) {
      return "";
    }
    name.resize(std::strlen(name.c_str()));
    return name;
  }
  std::string identity() const override {
    std::uint8_t guid[16];
    if (libvhdi_file_get_identifier(file_, guid, sizeof guid, nullptr) != 1) return "no identifier";
    return "identifier " + guidText(guid);
  }
  std::string parentIdentity() const override {
    std::uint8_t guid[16];
    if (libvhdi_file_get_parent_identifier(file_, guid, sizeof guid, nullptr) != 1) {
      return "no parent identifier";
    }
    return "identifier " + guidText(guid);
  }
  tamsket::Status<std::string> setParent(ChainLink& parent) override {
    libvhdi_error_t* error = nullptr;
    if (libvhdi_file_set_parent_file(file_, static_cast<VhdLink&>(parent).file_, &error) != 1) {
      return vhdiReason(error, "libvhdi refused it");
    }
    return {};
  }
  std::uint64_t size() const override { return size_; }
  ssize_t read(std::uint64_t offset, char* out, std::size_t length, std::string& failure) override {
    libvhdi_error_t* error = nullptr;
    const ssize_t got = libvhdi_file_read_buffer_at_offset(file_, out, length,
                                                           static_cast<off64_t>(offset), &error);
    if (got < 0) failure = vhdiReason(error, "the disk cannot be read");
    return got;
  }

 private:
  // libvhdi gives identifiers big-endian, as they are written.
  static std::string guidText(const std::uint8_t* g) {
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", g[0],
                  g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return text;
  }

  Bfio bfio_;
  libvhdi_file_t* file_;
  libbfio_handle_t* handle_;
  std::uint64_t size_;
};

}  // namespace

std::unique_ptr<ChainLink> openVhdLink(const std::string& path, std::string& failure) {
  Bfio bfio{};
  if (!loadBfio(bfio)) {
    failure = "libbfio, which libvhdi reads files through, is not loaded";
    return nullptr;
  }
  libbfio_handle_t* handle = openReadOnly(bfio, path, failure);
  if (!handle) return nullptr;
  libvhdi_file_t* file = nullptr;
  libvhdi_error_t* error = nullptr;
  size64_t size = 0;
  if (libvhdi_file_initialize(&file, &error) != 1 ||
      libvhdi_file_open_file_io_handle(file, handle, LIBVHDI_OPEN_READ, &error) != 1 ||
      libvhdi_file_get_media_size(file, &size, &error) != 1) {
    failure = vhdiReason(error, "it cannot be opened");
    VhdLink::release(bfio, file, handle);
    return nullptr;
  }
  return std::make_unique<VhdLink>(bfio, file, handle, size);
}

}  // namespace image
