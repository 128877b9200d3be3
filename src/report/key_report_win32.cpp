#include "report/key_report.h"

#include <array>
#include <memory>

#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/module_handle.h"
#include "platform/save_dialog.h"

namespace {

// Temporary report files are named tskXXXX.tmp, beside the target.
constexpr char kTempPrefix[] = "tsk";

class Win32ReportPlatform : public ReportPlatform {
 public:
  void* applicationInstance() override { return platform::getModuleHandleA(nullptr); }

  bool askForFileName(SaveFileRequest& request, unsigned long& dialogError) override {
    const bool confirmed = platform::getSaveFileNameA(request) != 0;
    dialogError = confirmed ? 0 : platform::commDlgExtendedError();
    return confirmed;
  }

  std::string createTempFile(const std::string& folder) override {
    std::array<char, platform::kMaxPath> name{};
    if (platform::getTempFileNameA(folder.c_str(), kTempPrefix, 0, name.data()) == 0) return {};
    return name.data();
  }

  void* openForWriting(const std::string& path) override {
    const platform::FileHandle file =
        platform::createFileA(path.c_str(), platform::kGenericWrite, 0, nullptr,
                              platform::kCreateAlways, platform::kFileAttributeNormal, nullptr);
    return file == platform::invalidFileHandle() ? nullptr : file;
  }

  bool writeAll(void* file, const std::string& bytes) override {
    const char* next = bytes.data();
    unsigned long left = static_cast<unsigned long>(bytes.size());
    while (left > 0) {
      unsigned long written = 0;
      if (!platform::writeFile(static_cast<platform::FileHandle>(file), next, left, &written,
                               nullptr) ||
          written == 0) {
        return false;
      }
      next += written;
      left -= written;
    }
    return true;
  }

  bool closeFile(void* file) override {
    return platform::closeHandle(static_cast<platform::FileHandle>(file)) != 0;
  }

  bool replaceFile(const std::string& source, const std::string& target) override {
    return platform::moveFileExA(source.c_str(), target.c_str(),
                                 platform::kMoveFileReplaceExisting) != 0;
  }

  bool deleteFile(const std::string& path) override {
    return platform::deleteFileA(path.c_str()) != 0;
  }

  void tellUser(void* owner, const std::string& text, const std::string& title) override {
    platform::messageBoxA(owner, text.c_str(), title.c_str(),
                          platform::kMbOk | platform::kMbIconError);
  }
};

}  // namespace

std::unique_ptr<ReportPlatform> makeWindowsReportPlatform() {
  return std::make_unique<Win32ReportPlatform>();
}

void saveKeyReport(void* owner) {
  Win32ReportPlatform platform;
  saveKeyReport(platform, owner);
}
