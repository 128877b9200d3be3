#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/key_record.h"
#include "result/result.h"
#include "hive/folder.h"
#include "hive/windows_layout.h"

namespace cli {

// Why a source could not be read: the code, and one line a person can act on.
struct Failure {
  ErrorCode code;
  std::string message;
};

// The DigitalProductId as one registry view holds it.
struct RegistryValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};
// What reading one view gave: the value; none when there is no Setup key or no
// value in it; or why it could not be read.
using RegistryRead = tamsket::Result<std::optional<RegistryValue>, Failure>;

// HKEY_LOCAL_MACHINE of one machine.
class Registry {
 public:
  virtual ~Registry() = default;
  // Whether the machine keeps a 64-bit view beside the 32-bit one (64-bit
  // Windows does; 32-bit Windows has one view only).
  virtual bool hasTwoViews() = 0;
  // DigitalProductId of SOFTWARE\Microsoft\Exchange\Setup, read in `view`.
  virtual RegistryRead readProductId(View view) = 0;
};

// Whether output was written; if not, the system's reason.
using WriteStatus = tamsket::Status<std::string>;

// A SOFTWARE hive found inside a disk image, to be read in place.
using ImageHive = hive::FoundHive;

// A volume of a disk image that could not be read (encrypted, damaged).
struct ImageVolumeFailure {
  std::string location;  // the image and the partition
  Failure failure;       // its message names the volume
};

// The SOFTWARE hives of a disk image and the volumes that could not be read.
struct ImageContents {
  std::vector<ImageHive> hives;
  std::vector<ImageVolumeFailure> failures;
};
// What a disk image holds, or why it holds nothing to read.
using ImageHives = tamsket::Result<ImageContents, Failure>;
// A point in time of a disk image ("" for the image itself, else a link of its snapshot chain
// named as records show it) and what it holds then.
using EachImagePoint = std::function<void(const std::string& point, ImageHives hives)>;

// What the program needs from the system it runs on.
class System {
 public:
  virtual ~System() = default;
  virtual bool hasRegistry() const = 0;
  // Whether this build reads disk images (findImageHives).
  virtual bool readsImages() const { return false; }
  virtual std::string computerName() = 0;
  // This machine's registry (no computer) or another's.
  virtual tamsket::Result<std::unique_ptr<Registry>, Failure> connectRegistry(
      const Argument* computer) = 0;
  // The SOFTWARE hives of the Windows folder or volume root `dir`, each in
  // the folder it lies in, and each folder on the way that could not be read.
  virtual hive::SoftwareHives findSoftwareHives(const Argument& dir) = 0;
  // Opens a hive file where the user means it to be, with the logs beside it
  // applied or not.
  virtual hive::Result<hive::Hive> openHive(const Argument& file, hive::Logs logs) = 0;
  // The SOFTWARE hives of every NTFS volume of a disk image (readsImages only), at the link of a
  // snapshot chain given, or with `everySnapshot` at each link from the base up, oldest first.
  virtual void findImageHives(const Argument& image, bool /*everySnapshot*/,
                              const EachImagePoint& each) {
    each("", Failure{SourceError::notADiskImage,
                     "cannot read " + image.text + ": no disk images here"});
  }
  // Writes UTF-8 text to standard output.
  virtual WriteStatus writeOut(const std::string& text) = 0;
  // Closes standard output at the end: fails when the last of it was not written.
  virtual WriteStatus closeOut() = 0;
  virtual void writeErr(const std::string& text) = 0;
};

// The records of one registry: one per view holding the value, or one
// absent record when none does.
std::vector<KeyRecord> readRegistry(Registry& registry, SourceKind source,
                                    const std::string& location);

// The records of one SOFTWARE hive file: Microsoft\Exchange\Setup and
// Wow6432Node\Microsoft\Exchange\Setup.
std::vector<KeyRecord> readHiveFile(System& system, const Argument& file, hive::Logs logs);

// The records of the SOFTWARE hives of a disk image, one hive after another,
// then an error record for each volume that could not be read; source image.
// With `everySnapshot`, those of each point of its snapshot chain in turn.
std::vector<KeyRecord> readImage(System& system, const Argument& image, hive::Logs logs,
                                 bool everySnapshot = false);

// A hint for a hive that holds no key because it is not a SOFTWARE hive at
// all (a SYSTEM or a user's hive given by mistake), or "".
std::string wrongHiveHint(const hive::Hive& file);

// Runs the program on parsed arguments; returns its exit status.
int run(const std::vector<Argument>& args, System& system);

}  // namespace cli
