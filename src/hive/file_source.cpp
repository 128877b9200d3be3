#include "hive/file_source.h"

#include "handle/unique_handle.h"
#include "text/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <io.h>

#include "handle/windows_handles.h"
#include "text/windows_text.h"
#include <share.h>
#include <stdlib.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hive {

namespace {

#ifdef _WIN32

constexpr unsigned long kErrorSharingViolation = 32;

// The C runtime's words for `error`, and the Windows error behind it.
std::string systemReason(int error, unsigned long windowsError) {
  return std::string(std::strerror(error)) + " (Windows error " + std::to_string(windowsError) +
         ")";
}

using OpenFile = tamsket::UniqueStream;

ReadStatus readAt(std::FILE* file, std::uint64_t offset, void* out, std::size_t length) {
  errno = 0;
  _doserrno = 0;
  if (_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) != 0) {
    return ReadStatus::failed(systemReason(errno, _doserrno));
  }
  if (std::fread(out, 1, length, file) == length) return {};
  const int error = errno;
  const unsigned long windowsError = _doserrno;
  const bool failed = std::ferror(file) != 0;
  std::clearerr(file);  // the next read is tried afresh
  // Without an error the file ended early: it has shrunk since it was opened.
  if (!failed) return ReadStatus::pastEnd();
  return ReadStatus::failed(systemReason(error, windowsError));
}

#else

using OpenFile = tamsket::UniqueDescriptor;

ReadStatus readAt(int fd, std::uint64_t offset, void* out, std::size_t length) {
  auto* p = static_cast<char*>(out);
  while (length) {
    const ssize_t n = ::pread(fd, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadStatus::failed(std::strerror(errno));
    if (n == 0) return ReadStatus::pastEnd();  // the file has shrunk since it was opened
    p += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return {};
}

#endif

// A local file, open for as long as it is read, and its size when it was opened.
class FileSource : public ByteSource {
 public:
  FileSource(OpenFile file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  std::uint64_t size() const override { return size_; }
  ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset > size_ || length > size_ - offset) return ReadStatus::pastEnd();
    return readAt(file_.get(), offset, out, length);
  }

 private:
  OpenFile file_;
  std::uint64_t size_;
};

Error cannotOpen(const text::PathString& path, const std::string& why) {
  return Error{ErrorCode::cannotOpen, "cannot open " + text::pathToUtf8(path) + ": " + why};
}

// A hive is read at offsets all over the file: a pipe or a device cannot be,
// and waiting on one (a FIFO without a writer) would hang the caller.
Error notAFile(const text::PathString& path, const char* what) {
  return Error{ErrorCode::notAFile, "cannot open " + text::pathToUtf8(path) +
                                        ": not a regular file (" + what +
                                        "); copy it to a file first"};
}

}  // namespace

Result<std::unique_ptr<ByteSource>> openFileSource(const text::PathString& path) {
#ifdef _WIN32
  // The C runtime answers "Permission denied" for a folder.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return cannotOpen(path, std::strerror(EISDIR));
  }
  // _SH_DENYNO: every other program may go on reading and writing the file.
  tamsket::UniqueStream file(_wfsopen(path.c_str(), L"rb", _SH_DENYNO));
  if (!file) {
    const unsigned long windowsError = _doserrno;
    const int error = errno;
    if (windowsError == kErrorSharingViolation) {
      return Error{ErrorCode::inUse, "cannot open " + text::pathToUtf8(path) +
                                         ": another program has it open without sharing it "
                                         "(Windows error 32)"};
    }
    return cannotOpen(path, systemReason(error, windowsError));
  }
  const DWORD type = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get()))));
  if (type != FILE_TYPE_DISK) {
    return notAFile(path, type == FILE_TYPE_PIPE   ? "a pipe"
                          : type == FILE_TYPE_CHAR ? "a device"
                                                   : "not a disk file");
  }
  // Reads go where the reader asks; a stream buffer would only read more.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  __int64 size = -1;
  if (_fseeki64(file.get(), 0, SEEK_END) == 0) size = _ftelli64(file.get());
  if (size < 0) {
    const int error = errno;
    return cannotOpen(path, std::string("cannot find its size: ") + std::strerror(error));
  }
  return std::unique_ptr<ByteSource>(
      std::make_unique<FileSource>(std::move(file), static_cast<std::uint64_t>(size)));
#else
  // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer; it
  // changes nothing for the regular file that is then read.
  tamsket::UniqueDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) return cannotOpen(path, std::strerror(errno));
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return cannotOpen(path, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) return cannotOpen(path, std::strerror(EISDIR));
    return notAFile(path, S_ISFIFO(st.st_mode)   ? "a pipe"
                          : S_ISSOCK(st.st_mode) ? "a socket"
                          : S_ISBLK(st.st_mode)  ? "a block device"
                                                 : "a character device");
  }
  return std::unique_ptr<ByteSource>(
      std::make_unique<FileSource>(std::move(fd), static_cast<std::uint64_t>(st.st_size)));
#endif
}

namespace {

// A folder of the local file system: `prefix` is the path that names its
// entries (up to and including a separator; "" for the current folder),
// `shown` the folder as messages name it.
class LocalFolder : public Folder {
 public:
  LocalFolder(text::PathString prefix, std::string shown)
      : prefix_(std::move(prefix)), shown_(std::move(shown)) {}

  tamsket::Result<std::vector<std::string>, std::string> list() const override {
    std::vector<std::string> names;
#ifdef _WIN32
    // The folder itself first, so that a missing one or a file says so as such.
    // Without its last separator, but for a drive's root ("C:\\").
    text::PathString self = prefix_.empty() ? L"." : prefix_;
    if (self.size() > 1 && self[self.size() - 2] != L':') self.pop_back();
    const DWORD attributes = GetFileAttributesW(self.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return "cannot open " + shown_ + ": " + text::systemErrorLine(GetLastError());
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return "cannot open " + shown_ + ": " + text::systemErrorLine(ERROR_DIRECTORY);
    }
    WIN32_FIND_DATAW entry;
    const tamsket::UniqueSearch search(FindFirstFileW((prefix_ + L"*").c_str(), &entry));
    if (!search) return "cannot read " + shown_ + ": " + text::systemErrorLine(GetLastError());
    do {
      names.push_back(text::pathToUtf8(entry.cFileName));
    } while (FindNextFileW(search.get(), &entry));
#else
    const tamsket::UniqueListing listing(::opendir(prefix_.empty() ? "." : prefix_.c_str()));
    if (!listing) return "cannot open " + shown_ + ": " + std::strerror(errno);
    errno = 0;
    while (const dirent* entry = ::readdir(listing.get())) names.emplace_back(entry->d_name);
    if (errno) return "cannot read " + shown_ + ": " + std::strerror(errno);
#endif
    return names;
  }

  Result<std::unique_ptr<ByteSource>> open(const std::string& name) const override {
    return openFileSource(prefix_ + text::utf8ToPath(name));
  }

  std::unique_ptr<Folder> openFolder(const std::string& name) const override {
    return std::make_unique<LocalFolder>(prefix_ + text::utf8ToPath(name) + kSeparator,
                                         pathOf(name));
  }

  std::string pathOf(const std::string& name) const override {
    const bool separated =
        shown_.empty() || shown_.back() == '/' || (kSeparator != '/' && shown_.back() == '\\');
    return shown_ + (separated ? "" : std::string(1, static_cast<char>(kSeparator))) + name;
  }

 private:
#ifdef _WIN32
  static constexpr wchar_t kSeparator = L'\\';
#else
  static constexpr char kSeparator = '/';
#endif
  text::PathString prefix_;
  std::string shown_;
};

}  // namespace

std::unique_ptr<Folder> folderOf(const text::PathString& path, std::string& name) {
#ifdef _WIN32
  const std::size_t cut = path.find_last_of(L"\\/:");
#else
  const std::size_t cut = path.find_last_of('/');
#endif
  const std::size_t nameAt = cut == text::PathString::npos ? 0 : cut + 1;
  name = text::pathToUtf8(path.substr(nameAt));
  return std::make_unique<LocalFolder>(path.substr(0, nameAt),
                                       text::pathToUtf8(path.substr(0, nameAt)));
}

std::unique_ptr<Folder> folderAt(const text::PathString& dir, const std::string& shown) {
  const bool separated = !dir.empty() && (dir.back() == '/'
#ifdef _WIN32
                                          || dir.back() == '\\'
#endif
                                         );
#ifdef _WIN32
  return std::make_unique<LocalFolder>(dir.empty() || separated ? dir : dir + L'\\', shown);
#else
  return std::make_unique<LocalFolder>(dir.empty() || separated ? dir : dir + '/', shown);
#endif
}

}  // namespace hive
