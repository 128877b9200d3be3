#pragma once

// The Windows kinds of handle, each with its closer and its "no handle" value.

#include <windows.h>

#include "handle/unique_handle.h"

namespace tamsket {

inline HANDLE invalidHandle() { return INVALID_HANDLE_VALUE; }
inline void closeHandle(HANDLE handle) { CloseHandle(handle); }
inline void closeSearch(HANDLE search) { FindClose(search); }

// A file opened with CreateFile: INVALID_HANDLE_VALUE when none.
using UniqueFileHandle = UniqueHandle<HANDLE, closeHandle, invalidHandle>;
// A search begun with FindFirstFile: INVALID_HANDLE_VALUE when none.
using UniqueSearch = UniqueHandle<HANDLE, closeSearch, invalidHandle>;
// A process, thread or other kernel object whose functions give null for none.
using UniqueKernelHandle = UniqueHandle<HANDLE, closeHandle>;

}  // namespace tamsket
