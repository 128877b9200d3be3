#include "platform/save_dialog.h"

#include <windows.h>
// After windows.h, which it relies on.
#include <commdlg.h>

#include <algorithm>

#include "platform/system_function.h"

namespace platform {

namespace {

// The dialog writes at most max characters into buffer; never let it believe
// the buffer is larger than it is.
DWORD capacityOf(const std::string& buffer, unsigned long max) {
  return static_cast<DWORD>(std::min<std::size_t>(max, buffer.size()));
}

}  // namespace

int getSaveFileNameA(SaveFileRequest& request) {
  OPENFILENAMEA record{};
  record.lStructSize = request.structSize;
  record.hwndOwner = static_cast<HWND>(request.owner);
  record.hInstance = static_cast<HINSTANCE>(request.instance);
  record.lpstrFilter = request.filter.empty() ? nullptr : request.filter.c_str();
  record.lpstrCustomFilter = request.customFilter;
  record.nMaxCustFilter = request.maxCustFilter;
  record.nFilterIndex = request.filterIndex;
  record.lpstrFile = request.file.empty() ? nullptr : request.file.data();
  record.nMaxFile = capacityOf(request.file, request.maxFile);
  record.lpstrFileTitle = request.fileTitle.empty() ? nullptr : request.fileTitle.data();
  record.nMaxFileTitle = capacityOf(request.fileTitle, request.maxFileTitle);
  record.lpstrInitialDir = request.initialDir;
  record.lpstrTitle = request.title;
  record.Flags = request.flags;
  record.nFileOffset = request.fileOffset;
  record.nFileExtension = request.fileExtension;
  record.lpstrDefExt = request.defExt;
  record.lCustData = static_cast<LPARAM>(request.custData);
  record.lpfnHook = reinterpret_cast<LPOFNHOOKPROC>(request.hook);
  record.lpTemplateName = request.templateName;

  const auto getSaveFileName =
      systemFunction<decltype(&GetSaveFileNameA)>(L"comdlg32.dll", "GetSaveFileNameA");
  if (!getSaveFileName) return 0;
  const BOOL confirmed = getSaveFileName(&record);
  // The file buffers were filled in place; the rest of what the dialog
  // reports goes back field by field.
  request.filterIndex = record.nFilterIndex;
  request.flags = record.Flags;
  request.fileOffset = record.nFileOffset;
  request.fileExtension = record.nFileExtension;
  return confirmed;
}

unsigned long commDlgExtendedError() {
  const auto extendedError =
      systemFunction<decltype(&CommDlgExtendedError)>(L"comdlg32.dll", "CommDlgExtendedError");
  return extendedError ? extendedError() : 0;
}

}  // namespace platform
