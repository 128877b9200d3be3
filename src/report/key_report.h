#pragma once

#include <memory>
#include <string>

#include "platform/save_dialog.h"

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

using SaveFileRequest = platform::SaveFileRequest;

// The save dialog's request: "Save As" at C:\ for text files, with empty
// name buffers of 32,767 characters and no flags.
SaveFileRequest buildSaveRequest(void* owner, void* instance);

// What the save flow needs from the system. Files are opaque handles that the
// platform gives out; nullptr means none.
class ReportPlatform {
 public:
  virtual ~ReportPlatform() = default;
  virtual void* applicationInstance() = 0;
  // True when the user confirmed a name, left in request.file. Otherwise
  // dialogError is the dialog's extended error: 0 when the user cancelled.
  virtual bool askForFileName(SaveFileRequest& request, unsigned long& dialogError) = 0;
  // Creates an empty file of an unused name in `folder`; returns its path, or
  // "" on failure.
  virtual std::string createTempFile(const std::string& folder) = 0;
  virtual void* openForWriting(const std::string& path) = 0;
  virtual bool writeAll(void* file, const std::string& bytes) = 0;
  virtual bool closeFile(void* file) = 0;
  // Puts `source` in place of `target` in one step, whether or not `target`
  // exists; on failure both stay as they were.
  virtual bool replaceFile(const std::string& source, const std::string& target) = 0;
  virtual bool deleteFile(const std::string& path) = 0;
  virtual void tellUser(void* owner, const std::string& text, const std::string& title) = 0;
};

// Asks for a file name and saves the report there, with the product and key
// looked up at this moment. A cancelled dialog writes nothing. The report
// lands whole or not at all: on failure any earlier file of that name is left
// as it was and the user is told, as when the dialog fails or the name holds
// characters the 8-bit file functions cannot take. Never throws.
void saveKeyReport(ReportPlatform& platform, void* owner);

#ifdef _WIN32
// The real dialog, file system and message box.
std::unique_ptr<ReportPlatform> makeWindowsReportPlatform();

// The save flow on the real platform.
void saveKeyReport(void* owner);
#endif
