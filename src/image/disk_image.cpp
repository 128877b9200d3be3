#include "image/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tsk/libtsk.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>

#include "handle/unique_handle.h"
#include "hive/windows_layout.h"
#include "image/page_cache.h"
#include "image/snapshot_chain.h"
#include "image/vhd_image.h"
#include "image/vmdk_image.h"
#include "text/text.h"

namespace image {

namespace {

// The library's last error, taken and cleared, so the next one is its own;
// in one line (libyal's libraries give one line per function they passed).
std::string takeTskError(const char* otherwise) {
  const char* said = tsk_error_get();
  std::string reason = said && *said ? said : otherwise;
  tsk_error_reset();
  for (std::size_t at = reason.find('\n'); at != std::string::npos; at = reason.find('\n', at)) {
    reason.replace(at, 1, "; ");
  }
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

// A folder of an NTFS volume, listed the first time it is asked for its
// entries; `shown` is its path in the volume ("" for the root).
class NtfsFolder : public hive::Folder {
 public:
  NtfsFolder(std::shared_ptr<VolumeHandle> volume, std::optional<TSK_INUM_T> inode,
             std::string shown)
      : volume_(std::move(volume)), inode_(inode), shown_(std::move(shown)) {}

  tamsket::Result<std::vector<std::string>, std::string> list() const override {
    if (!entries()) return failure_;
    std::vector<std::string> names;
    for (const Entry& entry : *entries_) names.push_back(entry.name);
    return names;
  }
  hive::Result<std::unique_ptr<hive::ByteSource>> open(const std::string& name) const override {
    if (const Entry* entry = find(name, false)) return openFile(volume_, entry->inode, name);
    return hive::Error{hive::ErrorCode::cannotOpen, "cannot open " + name + ": no such file"};
  }
  std::unique_ptr<hive::Folder> openFolder(const std::string& name) const override {
    const Entry* entry = find(name, true);
    return std::make_unique<NtfsFolder>(
        volume_, entry ? std::optional<TSK_INUM_T>(entry->inode) : std::nullopt, pathOf(name));
  }
  std::string pathOf(const std::string& name) const override { return shown_ + "\\" + name; }

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
  // Its entries, read once; null when they cannot be (failure_ says why).
  const std::vector<Entry>* entries() const {
    if (!entries_ && failure_.empty()) {
      if (!inode_) {
        failure_ = shown_ + " is not a folder";
      } else {
        entries_ = listFolder(volume_->fs, *inode_, failure_);
      }
    }
    return entries_ ? &*entries_ : nullptr;
  }
  const Entry* find(const std::string& name, bool folder) const {
    if (!entries()) return nullptr;
    for (const Entry& entry : *entries_) {
      if (entry.name == name && entry.folder == folder) return &entry;
    }
    return nullptr;
  }

  std::shared_ptr<VolumeHandle> volume_;
  std::optional<TSK_INUM_T> inode_;
  std::string shown_;
  mutable std::optional<std::vector<Entry>> entries_;
  mutable std::string failure_;
};

// What the volumes of an image gave, gathered as they are looked at.
struct Findings {
  std::vector<std::string> others;  // what the volumes that are not NTFS hold
  std::vector<std::string> withoutWindows;
  std::vector<VolumeFailure> failures;

  void damaged(const std::string& where, const std::string& reason) {
    failures.push_back({Failure::damaged, where, where + ": " + reason});
  }
};

// The hives of an NTFS volume: one for each Windows root that holds one.
void findInVolume(const std::shared_ptr<VolumeHandle>& volume, const std::string& where,
                  std::vector<FoundHive>& hives, Findings& findings) {
  const NtfsFolder root(volume, volume->fs->root_inum, "");
  hive::SoftwareHives found = hive::findSoftwareHives(root, false);
  for (FoundHive& inside : found.hives) {
    // Opened once, where it is read: by the hive reader, through its folder.
    inside.location = where + ": " + inside.location;
    hives.push_back(std::move(inside));
  }
  if (!found.hives.empty()) return;
  if (!found.failures.empty()) {
    findings.damaged(where, found.failures.front());
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
    findings.damaged(where, takeTskError("its first sector cannot be read"));
    return;
  }
  // BitLocker replaces the file system's name with its own signature.
  if (hasOemId(boot, "-FVE-FS-")) {
    findings.failures.push_back(
        {Failure::encrypted, where, where + " is encrypted with BitLocker; unlock it first"});
    return;
  }
  // Each file system asked for by its own type, NTFS first: detecting any
  // also tries YAFFS2, which reads a file beside the image (IMAGE-yaffs2.config)
  // that nobody named.
  constexpr TSK_FS_TYPE_ENUM kFileSystems[] = {TSK_FS_TYPE_NTFS_DETECT, TSK_FS_TYPE_FAT_DETECT,
                                               TSK_FS_TYPE_EXT_DETECT,  TSK_FS_TYPE_HFS_DETECT,
                                               TSK_FS_TYPE_APFS_DETECT, TSK_FS_TYPE_ISO9660_DETECT,
                                               TSK_FS_TYPE_FFS_DETECT};
  TSK_FS_INFO* fs = nullptr;
  std::string reason;  // why it is not NTFS
  for (const TSK_FS_TYPE_ENUM type : kFileSystems) {
    fs = tsk_fs_open_img(image->img, static_cast<TSK_OFF_T>(offset), type);
    if (fs) break;
    const std::string why = takeTskError("no file system");
    if (reason.empty()) reason = why;
  }
  if (!fs) {
    if (hasOemId(boot, "NTFS    ")) {
      findings.damaged(where + " (NTFS)", reason);
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

// An image's container, told by its signature.
struct Format {
  const char* name;  // as messages name it
  TSK_IMG_TYPE_ENUM type;
  bool vmdkEmbedded = false;  // a VMDK that carries its descriptor
  std::string cutShort;       // why it ends before its data, seen before any library reads it
};

bool startsWith(const std::uint8_t* bytes, std::size_t size, const char* signature,
                std::size_t length) {
  return size >= length && std::memcmp(bytes, signature, length) == 0;
}

Format formatOf(const std::uint8_t* first, std::size_t firstSize, const std::uint8_t* last,
                std::size_t lastSize) {
  static const char kEwf[] = "EVF\x09\x0d\x0a\xff\x00";
  static const char kDescriptor[] = "# Disk DescriptorFile";
  if (startsWith(first, firstSize, "KDMV", 4)) return {"VMDK", TSK_IMG_TYPE_VMDK_VMDK, true, ""};
  if (startsWith(first, firstSize, kDescriptor, sizeof kDescriptor - 1)) {
    return {"VMDK", TSK_IMG_TYPE_VMDK_VMDK, false, ""};
  }
  if (startsWith(first, firstSize, "vhdxfile", 8)) return {"VHDX", TSK_IMG_TYPE_VHD_VHD, false, ""};
  // A fixed VHD has its footer last only; a dynamic one has a copy first.
  if (startsWith(first, firstSize, "conectix", 8) || startsWith(last, lastSize, "conectix", 8)) {
    return {"VHD", TSK_IMG_TYPE_VHD_VHD, false, ""};
  }
  if (startsWith(first, firstSize, kEwf, sizeof kEwf - 1)) {
    return {"E01", TSK_IMG_TYPE_EWF_EWF, false, ""};
  }
  return {"raw", TSK_IMG_TYPE_RAW, false, ""};
}

// An E01 segment is a file header and sections chained by absolute offsets,
// the last "done" (pointing to itself) or "next" (more segments follow).
constexpr std::uint64_t kEwfFileHeaderSize = 13;
constexpr std::uint64_t kEwfSectionDescriptorSize = 76;

// Why the E01 segment in `fd` is cut short, or "": libewf reads the sectors of
// a missing table as zeros, without a word.
std::string ewfCutShort(int fd, std::uint64_t size) {
  std::uint64_t at = kEwfFileHeaderSize;
  for (int sections = 0; sections < 100000; ++sections) {
    std::uint8_t descriptor[kEwfSectionDescriptorSize];
    if (at + sizeof descriptor > size ||
        ::pread(fd, descriptor, sizeof descriptor, static_cast<off_t>(at)) !=
            static_cast<ssize_t>(sizeof descriptor)) {
      return "its section at offset " + std::to_string(at) + " lies beyond its end (" +
             std::to_string(size) + " bytes)";
    }
    const char* type = reinterpret_cast<const char*>(descriptor);
    if (std::strncmp(type, "done", 16) == 0 || std::strncmp(type, "next", 16) == 0) return "";
    std::uint64_t next = 0;
    for (int i = 7; i >= 0; --i) next = next << 8 | descriptor[16 + i];
    // A chain that does not go forwards is libewf's to judge.
    if (next <= at) return "";
    at = next;
  }
  return "";
}

// The file itself, before any library sees it: a pipe would be waited on; its
// signature tells its format.
tamsket::Result<Format, ImageError> probe(const std::string& path, const std::string& shown) {
  const tamsket::UniqueDescriptor file(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  const int fd = file.get();
  struct stat st;
  if (!file || ::fstat(fd, &st) != 0) {
    const int error = errno;
    return ImageError{Failure::cannotOpen, "cannot open " + shown + ": " + std::strerror(error)};
  }
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
  std::uint8_t first[512] = {}, last[512] = {};
  const ssize_t firstSize = ::pread(fd, first, sizeof first, 0);
  const off_t size = ::lseek(fd, 0, SEEK_END);
  const ssize_t lastSize =
      size >= static_cast<off_t>(sizeof last) ? ::pread(fd, last, sizeof last, size - 512) : 0;
  const int error = errno;
  if (firstSize < 0 || size < 0 || lastSize < 0) {
    return ImageError{Failure::cannotOpen, "cannot read " + shown + ": " + std::strerror(error)};
  }
  Format format = formatOf(first, static_cast<std::size_t>(firstSize), last,
                           static_cast<std::size_t>(lastSize));
  if (format.type == TSK_IMG_TYPE_EWF_EWF) format.cutShort = ewfCutShort(fd, size);
  return format;
}

// Partitions, or the whole image as one volume: each examined in turn.
void examineVolumes(const std::shared_ptr<ImageHandle>& image, const std::string& shown,
                    std::vector<FoundHive>& hives, Findings& findings, std::size_t& partitions,
                    bool& partitioned, bool& readable, std::string& tableFailure) {
  TSK_IMG_INFO* img = image->img;
  std::uint8_t first[512] = {};
  readable = tsk_img_read(img, 0, reinterpret_cast<char*>(first), sizeof first) ==
             static_cast<ssize_t>(sizeof first);
  tsk_error_reset();
  // A volume's boot sector ends in 55 AA as a partition table does: a volume
  // image is taken for one by its file system's name.
  TSK_VS_INFO* vs = nullptr;
  if (!readable || (!hasOemId(first, "NTFS    ") && !hasOemId(first, "-FVE-FS-"))) {
    vs = tsk_vs_open(img, 0, TSK_VS_TYPE_DETECT);
    tsk_error_reset();
  }
  // Detection says nothing of a table it found and refused; asked for one
  // type, the library says when its partitions lie past the image's end.
  for (const TSK_VS_TYPE_ENUM type : {TSK_VS_TYPE_DOS, TSK_VS_TYPE_GPT}) {
    if (vs || !readable) break;
    if (TSK_VS_INFO* named = tsk_vs_open(img, 0, type)) {
      tsk_vs_close(named);
    } else if (tsk_error_get_errno() == TSK_ERR_VS_BLK_NUM) {
      tableFailure = takeTskError("its partitions lie beyond its end");
      return;
    }
    tsk_error_reset();
  }
  partitioned = vs != nullptr;
  if (!vs) {
    examineVolume(image, 0, shown + ", whole image", nullptr, hives, findings);
    return;
  }
  for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
    const TSK_VS_PART_INFO* part = tsk_vs_part_get(vs, i);
    if (!part || !(part->flags & TSK_VS_PART_FLAG_ALLOC)) continue;
    ++partitions;
    const std::uint64_t offset = part->start * vs->block_size;
    const std::string where =
        shown + ", partition " + std::to_string(partitions) + " at " + std::to_string(offset);
    if (offset >= static_cast<std::uint64_t>(img->size)) {
      findings.damaged(
          where, "it starts beyond the end of the image (" + std::to_string(img->size) + " bytes)");
      continue;
    }
    examineVolume(image, offset, where, part->desc, hives, findings);
  }
  tsk_vs_close(vs);
}

}  // namespace

namespace {

std::string unreadableImage(const std::string& shown, const char* format,
                            const std::string& reason) {
  return shown + " is " + (format[0] == 'E' ? "an " : "a ") + format +
         " image that cannot be read: " + reason;
}

// What looking through an image found: the hives, and what each volume held.
struct ImageScan {
  ImageContents contents;
  Findings findings;
  std::size_t partitions = 0;
  bool partitioned = false, readable = false;
  std::string tableFailure;  // why its partition table cannot be read, if it cannot
};

ImageScan scanImage(const std::shared_ptr<ImageHandle>& image, const std::string& named) {
  ImageScan scan;
  examineVolumes(image, named, scan.contents.hives, scan.findings, scan.partitions,
                 scan.partitioned, scan.readable, scan.tableFailure);
  return scan;
}

// Why an image whose volumes gave neither a hive nor a failure holds nothing to read.
ImageError explainNothingFound(const ImageScan& scan, const std::string& shown) {
  const Findings& findings = scan.findings;
  if (!findings.withoutWindows.empty()) {
    return {Failure::noWindows, "no Windows found: " + joined(findings.withoutWindows, "; ") +
                                    " holds neither Windows\\System32\\config\\SOFTWARE nor "
                                    "WINNT\\system32\\config\\software"};
  }
  if (!scan.partitioned && findings.others.size() == 1 &&
      findings.others.front() == "no known file system") {
    return {Failure::notAnImage,
            shown +
                " is not a disk image: no supported image format (raw, VHD, "
                "VHDX, VMDK, E01), partition table or file system found in it"};
  }
  return {Failure::noNtfsVolume,
          shown + " holds no NTFS volume (" +
              (scan.partitions ? counted(scan.partitions, "partition", "partitions")
                               : std::string("no partition table, one volume")) +
              (findings.others.empty() ? "" : ": " + joined(findings.others, ", ")) + ")"};
}

// The hives of the image opened as `img`: `shown` names it in messages, `named` in locations.
ImageHives hivesIn(TSK_IMG_INFO* img, const std::string& shown, const std::string& named,
                   const Format& container) {
  const bool known = container.type != TSK_IMG_TYPE_RAW;
  ImageScan scan = scanImage(std::make_shared<ImageHandle>(img), named);
  if (!scan.tableFailure.empty()) {
    return ImageError{Failure::damaged, shown +
                                            " is damaged or cut short: its partition table "
                                            "cannot be read: " +
                                            scan.tableFailure};
  }
  if (!scan.readable && !scan.partitioned && known) {
    const std::vector<VolumeFailure>& failures = scan.findings.failures;
    const VolumeFailure* whole = failures.empty() ? nullptr : &failures.front();
    return ImageError{Failure::damaged,
                      unreadableImage(shown, container.name,
                                      whole ? whole->message.substr(whole->location.size() + 2)
                                            : "its first sector cannot be read")};
  }
  // A raw file too short to hold a sector is no image at all.
  if (!scan.readable && !scan.partitioned) scan.findings = {{"no known file system"}, {}, {}};
  scan.contents.failures = std::move(scan.findings.failures);
  if (!scan.contents.hives.empty() || !scan.contents.failures.empty()) {
    return std::move(scan.contents);
  }
  return explainNothingFound(scan, shown);
}

}  // namespace

void findHivesAtEachPoint(const std::string& path, const std::string& shown, bool everyPoint,
                          const EachPoint& each) {
  auto format = probe(path, shown);
  if (!format) return each({"", std::move(format.error())});
  const Format& container = format.value();
  if (!container.cutShort.empty()) {
    return each({"", ImageError{Failure::damaged,
                                unreadableImage(shown, container.name, container.cutShort)}});
  }
  tsk_error_reset();
  if (container.type == TSK_IMG_TYPE_VMDK_VMDK || container.type == TSK_IMG_TYPE_VHD_VHD) {
    auto chain = openChain(path, shown, container.name,
                           container.type == TSK_IMG_TYPE_VHD_VHD ? openVhdLink : openVmdkLink);
    if (!chain) {
      const ChainError& error = chain.error();
      return each({"", error.failure == ChainFailure::broken
                           ? ImageError{Failure::brokenChain, error.message}
                           : ImageError{Failure::damaged,
                                        unreadableImage(shown, container.name, error.message)}});
    }
    const std::size_t top = chain.value()->links.size() - 1;
    for (std::size_t point = everyPoint ? 0 : top; point <= top; ++point) {
      const std::string name = pointName(*chain.value(), point);
      TSK_IMG_INFO* img = openPoint(chain.value(), point);
      if (!img) {
        each({name, ImageError{Failure::damaged,
                               unreadableImage(name, container.name,
                                               takeTskError("The Sleuth Kit refused it"))}});
        continue;
      }
      // A disk without snapshots keeps its plain name in messages.
      const bool single = top == 0;
      each({single ? "" : name, hivesIn(img, single ? shown : name, name, container)});
    }
    return;
  }
  // Each library is asked for its own format only: guessing would let one that
  // opens files for writing (AFF's) try every image.
  TSK_IMG_INFO* img = tsk_img_open_utf8_sing(path.c_str(), container.type, 0);
  if (!img && container.type != TSK_IMG_TYPE_RAW) {
    return each(
        {"", ImageError{Failure::damaged,
                        unreadableImage(shown, container.name, takeTskError("not recognised"))}});
  }
  if (!img) {
    return each({"", ImageError{Failure::notAnImage, shown + " is not a disk image: " +
                                                         takeTskError("not recognised")}});
  }
  each({"", hivesIn(img, shown, shown, container)});
}

ImageHives findSoftwareHives(const std::string& path, const std::string& shown) {
  std::optional<ImageHives> newest;
  findHivesAtEachPoint(path, shown, false,
                       [&](ImagePoint point) { newest = std::move(point.hives); });
  return std::move(*newest);
}

}  // namespace image
