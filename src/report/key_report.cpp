#include "report/key_report.h"

#include <cctype>
#include <utility>

#include "keys/installed_key_source.h"

namespace {

// OPENFILENAME_SIZE_VERSION_400A: the record up to lpTemplateName, without the
// fields Windows 2000 added. Its layout makes that 76 bytes with 4-byte
// pointers and 136 with 8-byte ones; the dialog refuses any other size it
// does not know.
constexpr unsigned long kSaveRequestSize = sizeof(void*) == 8 ? 136 : 76;
// Room for the longest path Windows takes, so that the dialog never fails for
// length (Wine's dialog even crashes on a name that does not fit).
constexpr std::size_t kNameCapacity = 32767;

constexpr char kFilter[] = "Text File (*.txt)\0*.TXT\0";
constexpr char kInitialDir[] = "C:\\";
constexpr char kDialogTitle[] = "Save As";
constexpr char kSuffix[] = ".txt";
constexpr char kMessageTitle[] = "Tamsket";
constexpr char kUnusableNameText[] =
    "The name you chose contains characters this program cannot use in file names. "
    "Please save again under another name.";

bool endsWithTxt(const std::string& name) {
  constexpr std::size_t kLength = sizeof kSuffix - 1;
  if (name.size() < kLength) return false;
  for (std::size_t i = 0; i < kLength; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[name.size() - kLength + i]);
    if (std::tolower(c) != kSuffix[i]) return false;
  }
  return true;
}

// Runs `step` with errors suppressed: whatever it throws stops it and goes no
// further. The Windows program is built without exceptions (running out of
// memory ends it), so there the step simply runs.
template <typename Step>
void suppressErrors(Step step) noexcept {
#if defined(__cpp_exceptions)
  try {
    step();
  } catch (...) {
  }
#else
  step();
#endif
}

// The folder part of a path, separator included, where the temporary file
// must go so that replacing the target never crosses volumes.
std::string folderOf(const std::string& path) {
  const std::size_t end = path.find_last_of("\\/:");
  return end == std::string::npos ? "." : path.substr(0, end + 1);
}

// Closes the temporary file and removes it unless it has taken the target's
// place, however the save ends.
class TempFile {
 public:
  TempFile(ReportPlatform& platform, std::string path)
      : platform_(platform), path_(std::move(path)) {}
  ~TempFile() {
    suppressErrors([this] {
      if (file_) platform_.closeFile(file_);
      if (!placed_) platform_.deleteFile(path_);
    });
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool write(const std::string& bytes) {
    file_ = platform_.openForWriting(path_);
    if (!file_) return false;
    const bool written = platform_.writeAll(file_, bytes);
    void* const file = file_;
    file_ = nullptr;
    const bool closed = platform_.closeFile(file);
    return written && closed;
  }

  bool replace(const std::string& target) {
    placed_ = platform_.replaceFile(path_, target);
    return placed_;
  }

 private:
  ReportPlatform& platform_;
  std::string path_;
  void* file_ = nullptr;
  bool placed_ = false;
};

bool writeReport(ReportPlatform& platform, const std::string& target) {
  std::string tempPath = platform.createTempFile(folderOf(target));
  if (tempPath.empty()) return false;
  TempFile temp(platform, std::move(tempPath));
  // Looked up now, not when the window was filled: every save reads the
  // registry again.
  const std::string product = getExchangeVersion();
  const std::string key = getExchangeKey();
  return temp.write(reportText(product, key)) && temp.replace(target);
}

}  // namespace

std::string splitAtNul(std::string& text) {
  const std::size_t nul = text.find('\0');
  if (nul == std::string::npos) return {};
  std::string before = text.substr(0, nul);
  text.erase(0, nul + 1);
  return before;
}

std::string reportFileName(const std::string& chosen) {
  return endsWithTxt(chosen) ? chosen : chosen + kSuffix;
}

std::string reportText(const std::string& product, const std::string& key) {
  return "Product: " + product + "\r\n" + key + "\r\n";
}

SaveFileRequest buildSaveRequest(void* owner, void* instance) {
  SaveFileRequest request;
  request.structSize = kSaveRequestSize;
  request.owner = owner;
  request.instance = instance;
  // The literal's own terminator is the list's closing NUL.
  request.filter.assign(kFilter, sizeof kFilter - 1);
  request.filterIndex = 1;
  // One more NUL than the dialog may fill, so the name always ends in one.
  request.file.assign(kNameCapacity + 1, '\0');
  request.maxFile = kNameCapacity;
  request.fileTitle.assign(kNameCapacity + 1, '\0');
  request.maxFileTitle = kNameCapacity;
  request.initialDir = kInitialDir;
  request.title = kDialogTitle;
  request.flags = 0;
  request.defExt = nullptr;
  return request;
}

// "0x3003": how the dialog's error codes are written down.
std::string hex4(unsigned long value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789ABCDEF"[value % 16]);
    value /= 16;
  } while (value != 0 || digits.size() < 4);
  return "0x" + digits;
}

std::string dialogFailureText(unsigned long dialogError) {
  return "The Save As dialog failed (common dialog error " + hex4(dialogError) +
         "), so the report was not saved.";
}

void saveKeyReport(ReportPlatform& platform, void* owner) {
  // Saving runs with errors suppressed: nothing reaches the caller. A cancel
  // stays silent; anything else that keeps the report from landing is told.
  std::string problem;
  suppressErrors([&] {
    SaveFileRequest request = buildSaveRequest(owner, platform.applicationInstance());
    unsigned long dialogError = 0;
    if (!platform.askForFileName(request, dialogError)) {
      if (dialogError != 0) problem = dialogFailureText(dialogError);
      return;
    }
    const std::string target = reportFileName(splitAtNul(request.file));
    // The 8-bit dialog hands back '?' for each character the system code page
    // lacks, and '?' is never part of a Windows file name.
    if (target.find('?') != std::string::npos) {
      problem = kUnusableNameText;
      return;
    }
    // Said unless the report lands, however writing it ends.
    problem = "The report could not be saved to " + target + ".";
    if (writeReport(platform, target)) problem.clear();
  });
  if (problem.empty()) return;
  suppressErrors([&] { platform.tellUser(owner, problem, kMessageTitle); });
}
