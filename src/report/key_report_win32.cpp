#include "report/key_report.h"

#include <windows.h>
// After windows.h, which it relies on.
#include <cderr.h>

#include <array>
#include <memory>

#include "keys/installed_key_source.h"
#include "platform/system_error.h"
#include "platform/system_function.h"
#include "report/save_dialog_win32.h"

namespace {

// Room for the longest path Windows takes, so that the dialog never fails for
// length (Wine's dialog even crashes on a name that does not fit its buffer).
constexpr std::size_t kNameCapacity = 32767;
constexpr char kFilter[] = "Text File (*.txt)\0*.TXT\0";
// Temporary report files are named tskXXXX.tmp, beside the target.
constexpr char kTempPrefix[] = "tsk";

// The error of the call that just failed.
SystemError lastError() {
  const DWORD error = GetLastError();
  return error ? error : kUnknownSystemError;
}

class Win32ReportPlatform : public ReportPlatform {
 public:
  FileNameAnswer askForFileName(void* owner) override {
    std::string file, title;
    OPENFILENAMEA request = buildSaveRequest(static_cast<HWND>(owner), file, title);
    // comdlg32 is loaded the first time a report is saved, not at start-up.
    const auto getSaveFileName =
        platform::systemFunction<decltype(&GetSaveFileNameA)>(L"comdlg32.dll", "GetSaveFileNameA");
    const auto extendedError = platform::systemFunction<decltype(&CommDlgExtendedError)>(
        L"comdlg32.dll", "CommDlgExtendedError");
    FileNameAnswer answer;
    if (!getSaveFileName || !extendedError) {
      answer.outcome = FileNameAnswer::failed;
      answer.dialogError = CDERR_LOADSTRFAILURE;
    } else if (getSaveFileName(&request)) {
      answer.outcome = FileNameAnswer::chosen;
      answer.name = splitAtNul(file);
    } else if ((answer.dialogError = extendedError()) != 0) {
      answer.outcome = FileNameAnswer::failed;
    }
    return answer;
  }

  SystemError createTempFile(const std::string& folder, std::string& path) override {
    std::array<char, MAX_PATH> name{};
    if (GetTempFileNameA(folder.c_str(), kTempPrefix, 0, name.data()) == 0) return lastError();
    path = name.data();
    return 0;
  }

  SystemError openForWriting(const std::string& path, void*& file) override {
    const HANDLE opened = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return lastError();
    file = opened;
    return 0;
  }

  SystemError writeAll(void* file, const std::string& bytes) override {
    const char* next = bytes.data();
    DWORD left = static_cast<DWORD>(bytes.size());
    while (left > 0) {
      DWORD written = 0;
      if (!WriteFile(file, next, left, &written, nullptr)) return lastError();
      if (written == 0) return ERROR_WRITE_FAULT;
      next += written;
      left -= written;
    }
    return 0;
  }

  SystemError closeFile(void* file) override { return CloseHandle(file) ? 0 : lastError(); }

  SystemError replaceFile(const std::string& source, const std::string& target) override {
    return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : lastError();
  }

  SystemError deleteFile(const std::string& path) override {
    return DeleteFileA(path.c_str()) ? 0 : lastError();
  }

  std::string describe(SystemError error) override { return platform::describeSystemError(error); }

  void tellUser(void* owner, const std::string& text) override {
    MessageBoxA(static_cast<HWND>(owner), text.c_str(), "Tamsket", MB_OK | MB_ICONERROR);
  }
};

}  // namespace

OPENFILENAMEA buildSaveRequest(HWND owner, std::string& file, std::string& fileTitle) {
  // One more NUL than the dialog may fill, so the name always ends in one.
  file.assign(kNameCapacity + 1, '\0');
  fileTitle.assign(kNameCapacity + 1, '\0');
  OPENFILENAMEA request{};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = owner;
  request.hInstance = GetModuleHandleA(nullptr);
  request.lpstrFilter = kFilter;  // the literal's own terminator closes the list
  request.nFilterIndex = 1;
  request.lpstrFile = file.data();
  request.nMaxFile = static_cast<DWORD>(kNameCapacity);
  request.lpstrFileTitle = fileTitle.data();
  request.nMaxFileTitle = static_cast<DWORD>(kNameCapacity);
  request.lpstrInitialDir = "C:\\";
  request.lpstrTitle = "Save As";
  return request;
}

std::unique_ptr<ReportPlatform> makeWindowsReportPlatform() {
  return std::make_unique<Win32ReportPlatform>();
}

void saveKeyReport(void* owner) {
  Win32ReportPlatform platform;
  saveKeyReport(platform, owner, {getExchangeVersion, getExchangeKey});
}
