#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace platform {

// GDI objects (fonts, brushes, bitmaps) and the device contexts made with
// CreateDC or CreateCompatibleDC.
template <typename Object>
using UniqueGdi = UniqueHandle<Object, DeleteObject>;
using UniqueDc = UniqueHandle<HDC, DeleteDC>;

}  // namespace platform
