#include "image/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tsk/libtsk.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>

#include "hive/windows_layout.h"
#include "image/page_cache.h"
#include "text/text.h"

namespace image {

namespace {

// The library's last error, taken and cleared, so the next one is its own.
std::string takeTskError(const char* otherwise) {
  const char* said = tsk_error_get();
  std::string reason = said && *said ? said : otherwise;
  tsk_error_reset();
  return reason;
}

struct ImageHandle {
  explicit ImageHandle(TSK_IMG_INFO* opened) : img(opened) {}
  ImageHandle(const ImageHandle&) = delete;
  ImageHandle& operator=(const ImageHandle&) = delete;
  ~ImageHandle() { tsk_img_close(img); }
  TSK_IMG_INFO* img;
};

// A file system, kept open as long as a hive or a folder in it is.
struct VolumeHandle {
  VolumeHandle(std::shared_ptr<ImageHandle> in, TSK_FS_INFO* opened)
      : image(std::move(in)), fs(opened) {}
  VolumeHandle(const VolumeHandle&) = delete;
  VolumeHandle& operator=(const VolumeHandle&) = delete;
  ~VolumeHandle() { tsk_fs_close(fs); }
  std::shared_ptr<ImageHandle> image;
  TSK_FS_INFO* fs;
};

// A file of the volume, read through the library.
class TskFileSource : public hive::ByteSource {
 public:
  TskFileSource(std::shared_ptr<VolumeHandle> volume, TSK_FS_FILE* file)
      : volume_(std::move(volume)),
        file_(file),
        size_(static_cast<std::uint64_t>(file->meta->size)) {}
  ~TskFileSource() override { tsk_fs_file_close(file_); }
  std::uint64_t size() const override { return size_; }
  hive::ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset > size_ || length > size_ - offset) return hive::ReadStatus::pastEnd();
    const ssize_t got =
        tsk_fs_file_read(file_, static_cast<TSK_OFF_T>(offset), static_cast<char*>(out), length,
                         TSK_FS_FILE_READ_FLAG_NONE);
    if (got < 0 || static_cast<std::size_t>(got) != length) {
      return hive::ReadStatus::failed(takeTskError("the file's data could not all be read"));
    }
    return {};
  }

 private:
  std::shared_ptr<VolumeHandle> volume_;
  TSK_FS_FILE* file_;
  std::uint64_t size_;
};

struct Entry {
  std::string name;
  TSK_INUM_T inode;
  bool folder;
};

// The allocated entries of the folder at `inode` (deleted names left out), or
// the library's reason it could not be read.
std::optional<std::vector<Entry>> listFolder(TSK_FS_INFO* fs, TSK_INUM_T inode,
                                             std::string& failure) {
  TSK_FS_DIR* dir = tsk_fs_dir_open_meta(fs, inode);
  if (!dir) {
    failure = takeTskError("a folder could not be read");
    return std::nullopt;
  }
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < tsk_fs_dir_getsize(dir); ++i) {
    const TSK_FS_NAME* name = tsk_fs_dir_get_name(dir, i);
    if (!name || !name->name || !(name->flags & TSK_FS_NAME_FLAG_ALLOC)) continue;
    entries.push_back({name->name, name->meta_addr, TSK_FS_IS_DIR_NAME(name->type)});
  }
  tsk_fs_dir_close(dir);
  return entries;
}

class NtfsFolder : public hive::Folder {
 public:
  NtfsFolder(std::shared_ptr<VolumeHandle> volume, std::vector<Entry> entries)
      : volume_(std::move(volume)), entries_(std::move(entries)) {}
  std::vector<std::string> names() const override {
    std::vector<std::string> names;
    for (const Entry& entry : entries_) names.push_back(entry.name);
    return names;
  }
  hive::Result<std::unique_ptr<hive::ByteSource>> open(const std::string& name) const override {
    for (const Entry& entry : entries_) {
      if (entry.name == name && !entry.folder) return openFile(volume_, entry.inode, name);
    }
    return hive::Error{hive::ErrorCode::cannotOpen, "cannot open " + name + ": no such file"};
  }

  static hive::Result<std::unique_ptr<hive::ByteSource>> openFile(
      const std::shared_ptr<VolumeHandle>& volume, TSK_INUM_T inode, const std::string& name) {
    TSK_FS_FILE* file = tsk_fs_file_open_meta(volume->fs, nullptr, inode);
    if (!file || !file->meta || file->meta->size < 0) {
      if (file) tsk_fs_file_close(file);
      return hive::Error{hive::ErrorCode::cannotOpen,
                         "cannot open " + name + ": " + takeTskError("its record is unreadable")};
    }
    // Reads through the library cost far more than a pread, and a lookup
    // reads small cells close to each other, often the same ones again.
    return std::unique_ptr<hive::ByteSource>(std::make_unique<PageCachedSource>(
        std::make_unique<TskFileSource>(volume, file), kPageSize, kMaxPages));
  }

 private:
  std::shared_ptr<VolumeHandle> volume_;
  std::vector<Entry> entries_;
};

const Entry* findEntry(const std::vector<Entry>& entries, const char* name, bool folder) {
  for (const Entry& entry : entries) {
    if (entry.folder == folder && text::equalsIgnoringAsciiCase(entry.name, name)) return &entry;
  }
  return nullptr;
}

// What the volumes of an image gave, gathered as they are looked at.
struct Findings {
  std::vector<std::string> others;  // what the volumes that are not NTFS hold
  std::vector<std::string> encrypted, damaged, withoutWindows;
};

// The hives of an NTFS volume: one for each Windows root that holds one.
void findInVolume(const std::shared_ptr<VolumeHandle>& volume, const std::string& where,
                  std::vector<FoundHive>& hives, Findings& findings) {
  std::string failure;
  const auto root = listFolder(volume->fs, volume->fs->root_inum, failure);
  bool found = false;
  for (const char* systemRoot : hive::kSystemRoots) {
    if (!root) break;
    const Entry* at = findEntry(*root, systemRoot, true);
    std::string path = at ? "\\" + at->name : "";
    std::optional<std::vector<Entry>> listing;
    for (const char* name : hive::kSoftwareHivePath) {
      if (!at) break;
      listing = listFolder(volume->fs, at->inode, failure);
      if (!listing) break;
      const bool last = name == hive::kSoftwareHivePath[std::size(hive::kSoftwareHivePath) - 1];
      at = findEntry(*listing, name, !last);
      if (at) path += "\\" + at->name;
      if (at && last) {
        auto source = NtfsFolder::openFile(volume, at->inode, at->name);
        if (!source) {
          failure = source.error().message;
          break;
        }
        found = true;
        const std::string fileName = at->name;
        hives.push_back({where + ": " + path, std::move(source.value()),
                         std::make_unique<NtfsFolder>(volume, std::move(*listing)), fileName});
        break;
      }
    }
  }
  if (found) return;
  if (!failure.empty()) {
    findings.damaged.push_back(where + ": " + failure);
  } else {
    findings.withoutWindows.push_back(where);
  }
}

bool hasOemId(const std::uint8_t* bootSector, const char* id) {
  return std::memcmp(bootSector + 3, id, 8) == 0;
}

// Looks at the volume at byte `offset`: `where` names it in messages, and
// `described` is what its partition table calls it, if it has one.
void examineVolume(const std::shared_ptr<ImageHandle>& image, std::uint64_t offset,
                   const std::string& where, const char* described, std::vector<FoundHive>& hives,
                   Findings& findings) {
  std::uint8_t boot[512] = {};
  if (tsk_img_read(image->img, static_cast<TSK_OFF_T>(offset), reinterpret_cast<char*>(boot),
                   sizeof boot) != static_cast<ssize_t>(sizeof boot)) {
    findings.damaged.push_back(where + ": " + takeTskError("its first sector cannot be read"));
    return;
  }
  // BitLocker replaces the file system's name with its own signature.
  if (hasOemId(boot, "-FVE-FS-")) {
    findings.encrypted.push_back(where);
    return;
  }
  TSK_FS_INFO* fs = tsk_fs_open_img(image->img, static_cast<TSK_OFF_T>(offset), TSK_FS_TYPE_DETECT);
  if (!fs) {
    const std::string reason = takeTskError("no file system");
    if (hasOemId(boot, "NTFS    ")) {
      findings.damaged.push_back(where + ": " + reason);
    } else {
      findings.others.push_back(described && *described ? described : "no known file system");
    }
    return;
  }
  if (!TSK_FS_TYPE_ISNTFS(fs->ftype)) {
    std::string name = tsk_fs_type_toname(fs->ftype);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    findings.others.push_back(name);
    tsk_fs_close(fs);
    return;
  }
  auto volume = std::make_shared<VolumeHandle>(image, fs);
  findInVolume(volume, where + " (NTFS)", hives, findings);
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

std::string counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The file itself, before the library sees it: a pipe would be waited on.
std::optional<ImageError> refuseUnreadable(const std::string& path, const std::string& shown) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    return ImageError{Failure::cannotOpen, "cannot open " + shown + ": " + std::strerror(error)};
  }
  ::close(fd);
  if (S_ISDIR(st.st_mode)) {
    return ImageError{Failure::cannotOpen, "cannot open " + shown + ": " + std::strerror(EISDIR)};
  }
  // A disk attached to this machine (a block device) is read as an image is.
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    return ImageError{Failure::notAFile, "cannot open " + shown +
                                             ": not a regular file or a disk (" +
                                             (S_ISFIFO(st.st_mode)   ? "a pipe"
                                              : S_ISSOCK(st.st_mode) ? "a socket"
                                                                     : "a character device") +
                                             "); copy it to a file first"};
  }
  return std::nullopt;
}

}  // namespace

ImageHives findSoftwareHives(const std::string& path, const std::string& shown) {
  if (auto refused = refuseUnreadable(path, shown)) return std::move(*refused);
  tsk_error_reset();
  TSK_IMG_INFO* img = tsk_img_open_utf8_sing(path.c_str(), TSK_IMG_TYPE_DETECT, 0);
  if (!img) {
    return ImageError{
        Failure::notAnImage,
        shown + " is not a disk image any supported format opens (raw, VHD, VHDX, VMDK, E01): " +
            takeTskError("not recognised")};
  }
  auto image = std::make_shared<ImageHandle>(img);
  std::vector<FoundHive> hives;
  Findings findings;

  std::uint8_t first[512] = {};
  const bool readable = tsk_img_read(img, 0, reinterpret_cast<char*>(first), sizeof first) ==
                        static_cast<ssize_t>(sizeof first);
  tsk_error_reset();
  // A volume's boot sector ends in 55 AA as a partition table does: a volume
  // image is taken for one by its file system's name.
  TSK_VS_INFO* vs = nullptr;
  if (!readable || (!hasOemId(first, "NTFS    ") && !hasOemId(first, "-FVE-FS-"))) {
    vs = tsk_vs_open(img, 0, TSK_VS_TYPE_DETECT);
    tsk_error_reset();
  }
  const bool partitioned = vs != nullptr;
  std::size_t partitions = 0;
  if (vs) {
    for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
      const TSK_VS_PART_INFO* part = tsk_vs_part_get(vs, i);
      if (!part || !(part->flags & TSK_VS_PART_FLAG_ALLOC)) continue;
      ++partitions;
      const std::uint64_t offset = part->start * vs->block_size;
      examineVolume(
          image, offset,
          shown + ", partition " + std::to_string(partitions) + " at " + std::to_string(offset),
          part->desc, hives, findings);
    }
    tsk_vs_close(vs);
  } else {
    examineVolume(image, 0, shown + ", whole image", nullptr, hives, findings);
  }
  if (!hives.empty()) return hives;
  if (!readable && !partitioned) findings = {{"no known file system"}, {}, {}, {}};
  ImageError none;

  if (!findings.encrypted.empty()) {
    none.failure = Failure::encrypted;
    none.message = joined(findings.encrypted, "; ") +
                   (findings.encrypted.size() == 1 ? " is" : " are") +
                   " encrypted with BitLocker; unlock it first";
  } else if (!findings.damaged.empty()) {
    none.failure = Failure::damaged;
    none.message = "the image is damaged or incomplete: " + joined(findings.damaged, "; ");
  } else if (!findings.withoutWindows.empty()) {
    none.failure = Failure::noWindows;
    none.message = "no Windows found: " + joined(findings.withoutWindows, "; ") +
                   " holds neither Windows\\System32\\config\\SOFTWARE nor "
                   "WINNT\\system32\\config\\software";
  } else if (!partitioned && findings.others.size() == 1 &&
             findings.others.front() == "no known file system") {
    none.failure = Failure::notAnImage;
    none.message = shown +
                   " is not a disk image: no supported image format (raw, VHD, VHDX, VMDK, "
                   "E01), partition table or file system found in it";
  } else {
    none.failure = Failure::noNtfsVolume;
    none.message = shown + " holds no NTFS volume (" +
                   (partitions ? counted(partitions, "partition", "partitions")
                               : std::string("no partition table, one volume")) +
                   (findings.others.empty() ? "" : ": " + joined(findings.others, ", ")) + ")";
  }
  return none;
}

}  // namespace image
