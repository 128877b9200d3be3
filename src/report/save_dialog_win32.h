#pragma once

#include <windows.h>
// After windows.h, which it relies on.
#include <commdlg.h>

#include <cstddef>
#include <string>

namespace report {

// OPENFILENAME_SIZE_VERSION_400A: the record without the fields Windows 2000
// added, which every version of the dialog takes; any other size it does not
// know makes it fail. The 32-bit program's record is 76 bytes.
// The SDK writes that size as an address difference, which C++ does not
// evaluate at compile time; it is the end of lpTemplateName.
static_assert(sizeof(void*) != 4 || offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the 32-bit save dialog record is 76 bytes");

// The save dialog's request: "Save As" at C:\ for text files, no flags, owned
// by `owner`, with `file` and `fileTitle` made into empty name buffers large
// enough for any path Windows takes. The record points into both strings.
OPENFILENAMEA buildSaveRequest(HWND owner, std::string& file, std::string& fileTitle);

}  // namespace report
