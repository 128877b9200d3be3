#include "hive/file_source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <stdlib.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hive {

namespace {

#ifdef _WIN32

constexpr unsigned long kErrorSharingViolation = 32;

// For messages: the path as UTF-8.
std::string toUtf8(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = static_cast<char16_t>(text[i]);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

class StdioFileSource : public ByteSource {
 public:
  StdioFileSource(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
  ~StdioFileSource() override { std::fclose(file_); }
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset > size_ || length > size_ - offset) return false;
    if (_fseeki64(file_, static_cast<__int64>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, length, file_) == length;
  }

 private:
  std::FILE* file_;
  std::uint64_t size_;
};

#else

std::string toUtf8(const std::string& text) { return text; }

class PosixFileSource : public ByteSource {
 public:
  PosixFileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixFileSource() override { ::close(fd_); }
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset > size_ || length > size_ - offset) return false;
    auto* p = static_cast<char*>(out);
    while (length) {
      const ssize_t n = ::pread(fd_, p, length, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      offset += static_cast<std::uint64_t>(n);
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

#endif

Error cannotOpen(const PathString& path, const std::string& why) {
  return Error{ErrorCode::cannotOpen, "cannot open " + toUtf8(path) + ": " + why};
}

}  // namespace

Result<std::unique_ptr<ByteSource>> openFileSource(const PathString& path) {
#ifdef _WIN32
  // _SH_DENYNO: every other program may go on reading and writing the file.
  std::FILE* file = _wfsopen(path.c_str(), L"rb", _SH_DENYNO);
  if (!file) {
    const unsigned long windowsError = _doserrno;
    const int error = errno;
    if (windowsError == kErrorSharingViolation) {
      return Error{ErrorCode::inUse, "cannot open " + toUtf8(path) +
                                         ": another program has it open without sharing it "
                                         "(Windows error 32)"};
    }
    return cannotOpen(path, std::string(std::strerror(error)) + " (Windows error " +
                                std::to_string(windowsError) + ")");
  }
  // Reads go where the reader asks; a stream buffer would only read more.
  std::setvbuf(file, nullptr, _IONBF, 0);
  __int64 size = -1;
  if (_fseeki64(file, 0, SEEK_END) == 0) size = _ftelli64(file);
  if (size < 0) {
    const int error = errno;
    std::fclose(file);
    return cannotOpen(path, std::string("cannot find its size: ") + std::strerror(error));
  }
  return std::unique_ptr<ByteSource>(
      std::make_unique<StdioFileSource>(file, static_cast<std::uint64_t>(size)));
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return cannotOpen(path, std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    return cannotOpen(path, std::strerror(error));
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return cannotOpen(path, std::strerror(EISDIR));
  }
  return std::unique_ptr<ByteSource>(
      std::make_unique<PosixFileSource>(fd, static_cast<std::uint64_t>(st.st_size)));
#endif
}

bool logFilesBeside(const PathString& path) {
#ifdef _WIN32
  for (const wchar_t* suffix : {L".LOG1", L".LOG2"}) {
    if (_waccess((path + suffix).c_str(), 0) == 0) return true;
  }
#else
  for (const char* suffix : {".LOG1", ".LOG2", ".log1", ".log2"}) {
    if (::access((path + suffix).c_str(), F_OK) == 0) return true;
  }
#endif
  return false;
}

}  // namespace hive
