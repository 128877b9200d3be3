#pragma once

// A VMDK opened through libvmdk with its descriptor and extents opened read-only by this code, as a
// link of a snapshot chain (a disk without snapshots is a chain of one).

#include <memory>
#include <string>

#include "image/snapshot_chain.h"

namespace image {

// A file that carries its descriptor is its own one extent, whatever that descriptor calls it;
// other extents lie beside their descriptor.
std::unique_ptr<ChainLink> openVmdkLink(const std::string& path, std::string& failure);

}  // namespace image
