#pragma once

// A virtual machine's disk as a chain of snapshots: the link given and every link below it, each
// found through its child's record of it and checked by the identity the child records, all
// opened read-only and read by The Sleuth Kit as one image at any point of the chain.

#include <sys/types.h>
#include <tsk/libtsk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "result/result.h"

namespace image {

// Deeper chains are taken for damage: VMware and Hyper-V both stop far short of this.
constexpr std::size_t kMaxChainLinks = 64;

// One disk file of a chain, opened read-only through its library.
class ChainLink {
 public:
  virtual ~ChainLink() = default;
  // Whether it records a parent: a delta or differencing disk.
  virtual bool hasParent() const = 0;
  // The parent's file name as the link records it (relative or absolute, either slash).
  virtual std::string parentHint() const = 0;
  // Its own identity and the one it records for its parent, in words ("content id 0x1a2b3c4d").
  virtual std::string identity() const = 0;
  virtual std::string parentIdentity() const = 0;
  // Reads through `parent` where this link holds no data of its own, or says why not.
  virtual tamsket::Status<std::string> setParent(ChainLink& parent) = 0;
  virtual std::uint64_t size() const = 0;
  // Bytes at `offset` of the disk as it stands at this link, or -1 with `failure` set.
  virtual ssize_t read(std::uint64_t offset, char* out, std::size_t length,
                       std::string& failure) = 0;
  // The extent files read, when they are not the file given.
  virtual std::vector<std::string> extents() const { return {}; }
};

// Opens the file at `path` as a link of its format, or says why not in `failure`.
using OpenLink = std::unique_ptr<ChainLink> (*)(const std::string& path, std::string& failure);

// The links from the base up to the one given, wired to read through each other.
struct Chain {
  std::vector<std::unique_ptr<ChainLink>> links;  // the base first
  std::vector<std::string> names;                 // each as paths name it, the given one as shown
  const char* format;                             // "VMDK", "VHD", "VHDX"
};

enum class ChainFailure {
  unreadable,  // the link given cannot be read
  broken,      // a parent missing, not the one recorded, unreadable; a loop; too deep
};
struct ChainError {
  ChainFailure failure;
  std::string message;  // names the link, and for a parent, what was looked for and where
};

tamsket::Result<std::shared_ptr<Chain>, ChainError> openChain(const std::string& path,
                                                              const std::string& shown,
                                                              const char* format, OpenLink open);

// The disk as it stands at link `point` (counted from the base), for The Sleuth Kit, or null
// with The Sleuth Kit's reason set.
TSK_IMG_INFO* openPoint(const std::shared_ptr<Chain>& chain, std::size_t point);

// How records name a point: "server-000002.vmdk (snapshot 2 of 2, over server.vmdk)", "server.vmdk
// (base, under 2 snapshots)"; a disk without snapshots as shown, with extents read beside it.
std::string pointName(const Chain& chain, std::size_t point);

}  // namespace image
