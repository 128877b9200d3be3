#include "report/key_report.h"

#include <windows.h>
// After windows.h, which it relies on.
#include <cderr.h>

#include <array>
#include <memory>

#include "keys/installed_key_source.h"
#include "platform/system_function_win32.h"
#include "report/save_dialog_win32.h"
#include "text/windows_text.h"

namespace report {

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
  return error ? SystemError{error} : kUnknownSystemError;
}

// What a call that returns nonzero on success gave.
StepStatus done(BOOL succeeded) { return succeeded ? StepStatus() : StepStatus(lastError()); }

class Win32SaveSystem : public SaveSystem {
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

  tamsket::Result<std::string, SystemError> createTempFile(const std::string& folder) override {
    std::array<char, MAX_PATH> name{};
    if (GetTempFileNameA(folder.c_str(), kTempPrefix, 0, name.data()) == 0) return lastError();
    return std::string(name.data());
  }

  tamsket::Result<void*, SystemError> openForWriting(const std::string& path) override {
    const HANDLE opened = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return lastError();
    return static_cast<void*>(opened);
  }

  StepStatus writeAll(void* file, const std::string& bytes) override {
    const char* next = bytes.data();
    DWORD left = static_cast<DWORD>(bytes.size());
    while (left > 0) {
      DWORD written = 0;
      if (!WriteFile(file, next, left, &written, nullptr)) return lastError();
      if (written == 0) return SystemError{ERROR_WRITE_FAULT};
      next += written;
      left -= written;
    }
    return {};
  }

  StepStatus closeFile(void* file) override { return done(CloseHandle(file)); }

  StepStatus replaceFile(const std::string& source, const std::string& target) override {
    return done(MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
  }

  StepStatus deleteFile(const std::string& path) override {
    return done(DeleteFileA(path.c_str()));
  }

  std::string describe(SystemError error) override {
    return text::narrowToAnsi(text::systemErrorText(error.code));
  }

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

std::unique_ptr<SaveSystem> makeWindowsSaveSystem() { return std::make_unique<Win32SaveSystem>(); }

void saveKeyReport(void* owner) {
  Win32SaveSystem system;
  saveKeyReport(system, owner, {keys::getExchangeVersion, keys::getExchangeKey});
}

}  // namespace report
