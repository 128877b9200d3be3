#include "report/key_report.h"

#include <cctype>
#include <utility>

#include "text/text.h"

namespace report {

namespace {

constexpr char kSuffix[] = ".txt";
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
  TempFile(SaveSystem& system, std::string path) : system_(system), path_(std::move(path)) {}
  ~TempFile() {
    suppressErrors([this] {
      if (file_) system_.closeFile(file_);
      if (!placed_) system_.deleteFile(path_);
    });
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  StepStatus write(const std::string& bytes) {
    const auto opened = system_.openForWriting(path_);
    if (!opened) return opened.error();
    file_ = opened.value();
    const StepStatus written = system_.writeAll(file_, bytes);
    const StepStatus closed = system_.closeFile(std::exchange(file_, nullptr));
    return written ? closed : written;
  }

  StepStatus replace(const std::string& target) {
    const StepStatus replaced = system_.replaceFile(path_, target);
    placed_ = replaced.ok();
    return replaced;
  }

 private:
  SaveSystem& system_;
  std::string path_;
  void* file_ = nullptr;
  bool placed_ = false;
};

// Whether the report landed, or the error of the step that failed.
StepStatus writeReport(SaveSystem& system, const std::string& target,
                       const ReportLookups& lookups) {
  auto tempPath = system.createTempFile(folderOf(target));
  if (!tempPath) return tempPath.error();
  TempFile temp(system, std::move(tempPath.value()));
  // Looked up now, not when the window was filled: every save reads the
  // registry again.
  const std::string product = lookups.productName();
  const std::string key = lookups.productKey();
  if (const StepStatus written = temp.write(reportText(product, key)); !written) return written;
  return temp.replace(target);
}

// "...: Access is denied." when the system has words for the error.
std::string failureText(SaveSystem& system, const std::string& target, SystemError error) {
  const std::string words = system.describe(error);
  return "The report could not be saved to " + target + (words.empty() ? "." : ": " + words);
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

void saveKeyReport(SaveSystem& system, void* owner, const ReportLookups& lookups) {
  // Saving runs with errors suppressed: nothing reaches the caller. A cancel
  // stays silent; anything else that keeps the report from landing is told.
  std::string problem;
  suppressErrors([&] {
    const FileNameAnswer answer = system.askForFileName(owner);
    if (answer.outcome == FileNameAnswer::failed) {
      problem = "The Save As dialog failed (common dialog error " +
                text::hexText(answer.dialogError, 4) + "), so the report was not saved.";
    }
    if (answer.outcome != FileNameAnswer::chosen) return;
    const std::string target = reportFileName(answer.name);
    // The 8-bit dialog hands back '?' for each character the system code page
    // lacks, and '?' is never part of a Windows file name.
    if (target.find('?') != std::string::npos) {
      problem = kUnusableNameText;
      return;
    }
    // Said unless the report lands, however writing it ends.
    problem = "The report could not be saved to " + target + ".";
    const StepStatus saved = writeReport(system, target, lookups);
    problem = saved ? "" : failureText(system, target, saved.error());
  });
  if (problem.empty()) return;
  suppressErrors([&] { system.tellUser(owner, problem); });
}

}  // namespace report
