#pragma once

// A VHD or VHDX opened through libvhdi from a file this code opens read-only, as a link of a
// snapshot chain (a differencing disk over its parent; a disk without one is a chain of one).

#include <memory>
#include <string>

#include "image/snapshot_chain.h"

namespace image {

std::unique_ptr<ChainLink> openVhdLink(const std::string& path, std::string& failure);

}  // namespace image
