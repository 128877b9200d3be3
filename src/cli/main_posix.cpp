// tamsket-cli on Linux and other POSIX systems: offline hives, and disk images.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "handle/unique_handle.h"
#include "hive/file_source.h"
#include "hive/windows_layout.h"
#include "image/module_loader.h"
#include "text/text.h"

namespace {

cli::ErrorCode errorCodeOf(image::Failure failure) {
  switch (failure) {
    case image::Failure::cannotOpen: return hive::ErrorCode::cannotOpen;
    case image::Failure::notAFile: return hive::ErrorCode::notAFile;
    case image::Failure::notAnImage: return cli::SourceError::notADiskImage;
    case image::Failure::noNtfsVolume: return cli::SourceError::noNtfsVolume;
    case image::Failure::noWindows: return cli::SourceError::noHiveFound;
    case image::Failure::encrypted: return cli::SourceError::encryptedVolume;
    case image::Failure::damaged: return cli::SourceError::damagedImage;
    case image::Failure::brokenChain: return cli::SourceError::brokenSnapshotChain;
  }
  return {};
}

// Writes all of the text, or gives the system's reason it could not.
cli::WriteStatus writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::string(std::strerror(errno));
    if (n == 0) return std::string(std::strerror(EIO));
    done += static_cast<std::size_t>(n);
  }
  return {};
}

class PosixSystem : public cli::System {
 public:
  bool hasRegistry() const override { return false; }
  std::string computerName() override { return ""; }
  tamsket::Result<std::unique_ptr<cli::Registry>, cli::Failure> connectRegistry(
      const cli::Argument*) override {
    return cli::Failure{cli::SourceError::cannotConnect, "this system has no Windows registry"};
  }

  hive::SoftwareHives findSoftwareHives(const cli::Argument& dir) override {
    return hive::findSoftwareHives(*hive::folderAt(dir.native, dir.text), true);
  }

  hive::Result<hive::Hive> openHive(const cli::Argument& file, hive::Logs logs) override {
    return hive::Hive::open(file.native, logs);
  }

  bool readsImages() const override { return true; }
  void findImageHives(const cli::Argument& file, bool everySnapshot,
                      const cli::EachImagePoint& each) override {
    // Loaded the first time an image is read, never before.
    if (!images_) images_ = image::loadModule(TAMSKET_VERSION);
    if (!*images_) {
      return each("", cli::Failure{cli::SourceError::noImageSupport, images_->error()});
    }
    images_->value()->findHivesAtEachPoint(
        file.native, file.text, everySnapshot, [&](image::ImagePoint point) {
          image::ImageHives& found = point.hives;
          if (!found) {
            return each(point.name, cli::Failure{errorCodeOf(found.error().failure),
                                                 std::move(found.error().message)});
          }
          cli::ImageContents contents;
          contents.hives = std::move(found.value().hives);
          for (image::VolumeFailure& volume : found.value().failures) {
            contents.failures.push_back({std::move(volume.location),
                                         {errorCodeOf(volume.failure), std::move(volume.message)}});
          }
          each(point.name, std::move(contents));
        });
  }

  cli::WriteStatus writeOut(const std::string& text) override {
    wroteOut_ = true;
    if (!outOpen_) return std::string(std::strerror(EBADF));
    return writeAll(STDOUT_FILENO, text);
  }
  // Like the file systems that report a failed write only when the file is
  // closed (NFS, for one), the end of the output is checked too.
  cli::WriteStatus closeOut() override {
    if (!outOpen_ || ::close(STDOUT_FILENO) == 0 || !wroteOut_) return {};
    return std::string(std::strerror(errno));
  }
  void writeErr(const std::string& text) override { writeAll(STDERR_FILENO, text); }

  // A standard stream started closed is held by /dev/null, so that no file
  // the program opens takes its number and gets the output; writing to a
  // closed standard output stays an error.
  void holdClosedStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
      if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
      if (fd == STDOUT_FILENO) outOpen_ = false;
      tamsket::UniqueDescriptor held(::open("/dev/null", O_RDWR));
      if (held.get() == fd) held.release();
    }
  }

 private:
  std::optional<tamsket::Result<const image::ModuleInterface*, std::string>> images_;
  bool outOpen_ = true;
  bool wroteOut_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<cli::Argument> args;
  for (int i = 1; i < argc; ++i) args.push_back({argv[i], argv[i]});
  // A reader that went away (| head) is a write error like any other, told
  // and ending with status 2, not a silent death by SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  PosixSystem system;
  system.holdClosedStreams();
  return cli::run(args, system);
}
