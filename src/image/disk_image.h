#pragma once

// The SOFTWARE hives inside a disk image (raw or split raw, VHD, VHDX, VMDK,
// E01), read in place through The Sleuth Kit: the image is opened read-only,
// nothing is extracted or written, and the hive's bytes are read as the hive
// reader asks for them, through a small cache of bounded size.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hive/folder.h"
#include "hive/hive.h"
#include "hive/windows_layout.h"
#include "result/result.h"

namespace image {

// Why an image, or one of its volumes, gave no hive.
enum class Failure {
  cannotOpen,    // the file itself could not be opened (the system's reason)
  notAFile,      // a pipe, a character device or a socket
  notAnImage,    // no supported image format, partition table or file system
  noNtfsVolume,  // partitions or a volume, none of them NTFS (what was found in the message)
  noWindows,     // NTFS volumes, none with Windows\ or WINNT\System32\config\SOFTWARE
  encrypted,     // a BitLocker volume
  damaged,       // the image or a volume cannot be read as it declares itself (the library's words)
  brokenChain,   // a snapshot's parent missing or another disk, a loop, a chain too deep
};

using hive::FoundHive;

// Why an image gave no hive, in one line naming the image.
struct ImageError {
  Failure failure;
  std::string message;
};

// A volume that could not be read: encrypted, or damaged or cut short.
struct VolumeFailure {
  Failure failure;       // encrypted or damaged
  std::string location;  // "server.vhdx, partition 2 at 1048576"
  std::string message;   // one line naming the volume
};

// The hives found and the volumes that could not be read, each in the order
// of the partitions.
struct ImageContents {
  std::vector<FoundHive> hives;
  std::vector<VolumeFailure> failures;
};
// What the image holds, or why it holds nothing to read: never empty.
using ImageHives = tamsket::Result<ImageContents, ImageError>;

// The SOFTWARE hives of every NTFS volume of the image at `path`, its format
// chosen by its signature, read at the link given when it is a snapshot; `shown`
// names the image in locations and messages.
ImageHives findSoftwareHives(const std::string& path, const std::string& shown);

// The image as it stood at one point in time: a disk without snapshots, or a link of a snapshot
// chain read over the links below it.
struct ImagePoint {
  std::string
      name;  // "server-000001.vmdk (snapshot 1 of 2, over server.vmdk)"; "" without snapshots
  ImageHives hives;
};
using EachPoint = std::function<void(ImagePoint)>;

// The image at `path` at the link given, or with `everyPoint` at every link from the base up to
// it, oldest first: `each` is given one point at a time, and the next is opened after it returns.
void findHivesAtEachPoint(const std::string& path, const std::string& shown, bool everyPoint,
                          const EachPoint& each);

// Bytes read from the hive files through the cache, in pages.
constexpr std::size_t kPageSize = 64 * 1024;
// At most this many pages are held for each hive: 2 MiB.
constexpr std::size_t kMaxPages = 32;

}  // namespace image
