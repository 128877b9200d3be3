#pragma once

// A VMDK opened through libvmdk with extents this code opens read-only, and handed to The Sleuth
// Kit.

#include <tsk/libtsk.h>

#include <string>
#include <vector>

namespace image {

struct VmdkImage {
  TSK_IMG_INFO* img = nullptr;       // closed with tsk_img_close
  std::vector<std::string> extents;  // the extent files read, when they are not the file given
  std::string failure;               // libvmdk's words when img is null
};

// `embedded`: the file carries its descriptor (monolithic sparse or stream-optimised) and is its
// own one extent, whatever that descriptor calls it.
VmdkImage openVmdk(const std::string& path, bool embedded);

}  // namespace image
