#pragma once

#include <functional>
#include <memory>
#include <string>

#include "result/result.h"

namespace report {

// The key report: a two-line text file naming the product and giving its key,
// saved under a name the user picks in the save dialog.

// Returns the text before the first NUL and leaves the text after it in
// `text`. Without a NUL: returns "" and leaves `text` as it was.
std::string splitAtNul(std::string& text);

// The file a chosen name is saved as: ".txt" added unless the name already
// ends in ".txt", in any case.
std::string reportFileName(const std::string& chosen);

// The file's content: "Product: <product>" and the key, each ended by CR LF.
std::string reportText(const std::string& product, const std::string& key);

// A system error code, as GetLastError gives it.
struct SystemError {
  unsigned long code = 0;
};
// A failure the system gave no code for: told without words.
inline constexpr SystemError kUnknownSystemError{0xFFFFFFFF};
// A step done, or the error of the call that failed.
using StepStatus = tamsket::Status<SystemError>;

// What the save dialog answered.
struct FileNameAnswer {
  enum Outcome { chosen, cancelled, failed };
  Outcome outcome = cancelled;
  std::string name;               // chosen: the full path, as the dialog returned it
  unsigned long dialogError = 0;  // failed: the dialog's extended error
};

// What the save flow needs from the system. Each step gives the error of the
// call that failed. Files are opaque handles.
class SaveSystem {
 public:
  virtual ~SaveSystem() = default;
  // "Save As" at C:\ for text files, modal to `owner`.
  virtual FileNameAnswer askForFileName(void* owner) = 0;
  // Creates an empty file of an unused name in `folder`: its path.
  virtual tamsket::Result<std::string, SystemError> createTempFile(const std::string& folder) = 0;
  virtual tamsket::Result<void*, SystemError> openForWriting(const std::string& path) = 0;
  virtual StepStatus writeAll(void* file, const std::string& bytes) = 0;
  virtual StepStatus closeFile(void* file) = 0;
  // Puts `source` in place of `target` in one step, whether or not `target`
  // exists; on failure both stay as they were.
  virtual StepStatus replaceFile(const std::string& source, const std::string& target) = 0;
  virtual StepStatus deleteFile(const std::string& path) = 0;
  // The error in the system's words ("Access is denied."), or "" when it has none.
  virtual std::string describe(SystemError error) = 0;
  // A message box titled "Tamsket", modal to `owner`.
  virtual void tellUser(void* owner, const std::string& text) = 0;
};

// Where the report's two lines come from.
struct ReportLookups {
  std::function<std::string()> productName;
  std::function<std::string()> productKey;
};

// Asks for a file name and saves the report there, with the product and key
// looked up at this moment. A cancelled dialog writes nothing. The report
// lands whole or not at all: on failure any earlier file of that name is left
// as it was and the user is told why, as when the dialog fails or the name
// holds characters the 8-bit file functions cannot take. Never throws.
void saveKeyReport(SaveSystem& system, void* owner, const ReportLookups& lookups);

#ifdef _WIN32
// The real dialog, file system and message box.
std::unique_ptr<SaveSystem> makeWindowsSaveSystem();

// The save flow on the real system, with the installed product and key.
void saveKeyReport(void* owner);
#endif

}  // namespace report
