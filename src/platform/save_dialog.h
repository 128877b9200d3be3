#pragma once

#include <cstdint>
#include <string>

// The 8-bit common save dialog. The request mirrors OPENFILENAMEA field by
// field in portable types; the Windows build copies it into the real record.
namespace platform {

struct SaveFileRequest {
  unsigned long structSize = 0;        // lStructSize
  void* owner = nullptr;               // hwndOwner
  void* instance = nullptr;            // hInstance
  std::string filter;                  // lpstrFilter: its own terminator closes the list
  char* customFilter = nullptr;        // lpstrCustomFilter
  unsigned long maxCustFilter = 0;     // nMaxCustFilter
  unsigned long filterIndex = 0;       // nFilterIndex
  std::string file;                    // lpstrFile: the buffer the dialog fills
  unsigned long maxFile = 0;           // nMaxFile
  std::string fileTitle;               // lpstrFileTitle
  unsigned long maxFileTitle = 0;      // nMaxFileTitle
  const char* initialDir = nullptr;    // lpstrInitialDir
  const char* title = nullptr;         // lpstrTitle
  unsigned long flags = 0;             // Flags
  std::uint16_t fileOffset = 0;        // nFileOffset
  std::uint16_t fileExtension = 0;     // nFileExtension
  const char* defExt = nullptr;        // lpstrDefExt
  std::intptr_t custData = 0;          // lCustData
  void* hook = nullptr;                // lpfnHook
  const char* templateName = nullptr;  // lpTemplateName
};

// GetSaveFileNameA: non-zero when the user confirmed a name, which is then in
// request.file (and request.fileTitle); 0 on cancel or failure.
int getSaveFileNameA(SaveFileRequest& request);

// CommDlgExtendedError: why the last dialog call returned 0 (0 for cancel).
unsigned long commDlgExtendedError();

}  // namespace platform
