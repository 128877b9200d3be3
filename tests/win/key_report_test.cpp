// The save flow on Wine's real save dialog, file system and message box. The
// dialog is answered from a helper thread (dialog_driver.h); files go to a
// folder of each test's own under /tmp, reached as Z:\tmp\....
#include "report/key_report.h"

#include <windows.h>
// After windows.h, which it relies on.
#include <cderr.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/product_id_values.h"
#include "platform/save_dialog.h"
#include "win/dialog_driver.h"

namespace {

using dialogs::cancelFileDialog;
using dialogs::DialogDriver;
using dialogs::pressButton;
using dialogs::saveAs;
using dialogs::SeenDialog;

constexpr char kSetup[] = "SOFTWARE\\Microsoft\\Exchange\\Setup";

void removeSetupKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Exchange"); }

void writeProductId(const std::vector<std::uint8_t>& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSetup, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "DigitalProductId", 0, REG_BINARY, data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::optional<std::string> readFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char chunk[512];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) content.append(chunk, got);
  CloseHandle(file);
  return content;
}

void writeFile(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  EXPECT_TRUE(
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  CloseHandle(file);
}

// The names in a folder, as the file system spells them, sorted.
std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// The real platform, watched: records what the flow asks of the file system
// and can stop a write half-way, on real files.
class WatchedPlatform : public ReportPlatform {
 public:
  bool failWriteHalfway = false;
  std::vector<std::string> tempFiles;
  struct Replacement {
    std::string source, target, sourceContent;
    std::optional<std::string> targetContent;
  };
  std::vector<Replacement> replacements;

  void* applicationInstance() override { return real_->applicationInstance(); }
  bool askForFileName(SaveFileRequest& request) override { return real_->askForFileName(request); }
  std::string createTempFile(const std::string& folder) override {
    std::string path = real_->createTempFile(folder);
    tempFiles.push_back(path);
    return path;
  }
  void* openForWriting(const std::string& path) override { return real_->openForWriting(path); }
  bool writeAll(void* file, const std::string& bytes) override {
    if (!failWriteHalfway) return real_->writeAll(file, bytes);
    real_->writeAll(file, bytes.substr(0, bytes.size() / 2));
    return false;
  }
  bool closeFile(void* file) override { return real_->closeFile(file); }
  bool replaceFile(const std::string& source, const std::string& target) override {
    replacements.push_back(
        {source, target, readFile(source).value_or("(missing)"), readFile(target)});
    return real_->replaceFile(source, target);
  }
  bool deleteFile(const std::string& path) override { return real_->deleteFile(path); }
  void tellUser(void* owner, const std::string& text, const std::string& title) override {
    real_->tellUser(owner, text, title);
  }

 private:
  std::unique_ptr<ReportPlatform> real_ = makeWindowsReportPlatform();
};

const std::string kProductLine = "Product: Microsoft Exchange\r\n";

class KeyReportOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    removeSetupKey();
    writeProductId(realisticValue());
    folder_ = "Z:\\tmp\\tamsket-report-" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
  }

  void TearDown() override {
    for (const auto& name : namesIn(folder_)) DeleteFileA((folder_ + name).c_str());
    RemoveDirectoryA(folder_.c_str());
    removeSetupKey();
  }

  std::string path(const std::string& name) const { return folder_ + name; }

  // Runs the save flow with the dialogs answered by `script`, on the real
  // platform or a watched one.
  std::vector<SeenDialog> save(std::vector<dialogs::Answer> script,
                               WatchedPlatform* watched = nullptr, HWND owner = nullptr) {
    DialogDriver driver(std::move(script));
    if (watched) {
      saveKeyReport(*watched, owner);
    } else {
      saveKeyReport(owner);
    }
    driver.finish();
    for (const auto& problem : driver.problems()) ADD_FAILURE() << problem;
    return driver.seen();
  }

  const std::string expectedReport = kProductLine + keyFromValueBytes(realisticValue()) + "\r\n";
  std::string folder_;
};

TEST_F(KeyReportOnWindows, TheDialogIsSaveAsForTextFiles) {
  // The record size the 400A dialog accepts, from the SDK's own definition.
  EXPECT_EQ(buildSaveRequest(nullptr, nullptr).structSize, OPENFILENAME_SIZE_VERSION_400A);
  const auto seen = save({cancelFileDialog()});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].isFileDialog);
  EXPECT_EQ(seen[0].title, "Save As");
  EXPECT_EQ(seen[0].fileTypes, std::vector<std::string>{"Text File (*.txt)"});
}

TEST_F(KeyReportOnWindows, CancelWritesNothingAndShowsNothing) {
  writeFile(path("report.txt"), "the old report");
  const auto seen = save({cancelFileDialog()});
  EXPECT_EQ(seen.size(), 1u) << "only the save dialog";
  EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"report.txt"});
  EXPECT_EQ(readFile(path("report.txt")), "the old report");
}

TEST_F(KeyReportOnWindows, ANameWithoutExtensionGetsTxt) {
  save({saveAs(path("report"))});
  EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"report.txt"}) << "no temporary file left";
  EXPECT_EQ(readFile(path("report.txt")), expectedReport);
}

TEST_F(KeyReportOnWindows, ANameEndingInTxtKeepsItsName) {
  save({saveAs(path("notes.txt"))});
  save({saveAs(path("LOUD.TXT"))});
  EXPECT_EQ(namesIn(folder_), (std::vector<std::string>{"LOUD.TXT", "notes.txt"}));
  EXPECT_EQ(readFile(path("notes.txt")), expectedReport);
  EXPECT_EQ(readFile(path("LOUD.TXT")), expectedReport);
}

TEST_F(KeyReportOnWindows, AnExistingFileIsReplacedWithoutAQuestion) {
  writeFile(path("report.txt"), std::string(300, 'x'));
  // Any overwrite prompt would be an unexpected dialog.
  const auto seen = save({saveAs(path("report.txt"))});
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"report.txt"});
  EXPECT_EQ(readFile(path("report.txt")), expectedReport);
}

TEST_F(KeyReportOnWindows, TheKeyIsReadAtEachSaveAndLeftEmptyWhenMissing) {
  save({saveAs(path("with"))});
  removeSetupKey();
  save({saveAs(path("without"))});
  EXPECT_EQ(readFile(path("with.txt")), expectedReport);
  EXPECT_EQ(readFile(path("without.txt")), kProductLine + "\r\n");
}

TEST_F(KeyReportOnWindows, ABareNameIsSavedInTheInitialFolder) {
  const std::string name = "tamsket-report-" + std::to_string(GetCurrentProcessId());
  save({saveAs(name)});
  const std::string saved = "C:\\" + name + ".txt";
  EXPECT_EQ(readFile(saved), expectedReport) << saved;
  DeleteFileA(saved.c_str());
}

TEST_F(KeyReportOnWindows, ATargetThatCannotBeReplacedIsKeptAndTheUserIsTold) {
  writeFile(path("report.txt"), "the old report");
  // Without FILE_SHARE_DELETE nothing may take this file's place while it is open.
  HANDLE holder =
      CreateFileA(path("report.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const auto seen = save({saveAs(path("report")), pressButton(IDOK)});
  CloseHandle(holder);

  ASSERT_EQ(seen.size(), 2u) << "the save dialog, then one message";
  EXPECT_FALSE(seen[1].isFileDialog);
  EXPECT_EQ(seen[1].title, "Tamsket");
  EXPECT_EQ(seen[1].text, "The report could not be saved to " + path("report.txt") + ".");
  EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"report.txt"}) << "no temporary file left";
  EXPECT_EQ(readFile(path("report.txt")), "the old report");
}

TEST_F(KeyReportOnWindows, TheReportIsWrittenWholeBesideTheTargetBeforeReplacingIt) {
  writeFile(path("report.txt"), "the old report");
  WatchedPlatform watched;
  save({saveAs(path("report"))}, &watched);
  ASSERT_EQ(watched.tempFiles.size(), 1u);
  const std::string& temp = watched.tempFiles[0];
  EXPECT_EQ(temp.substr(0, folder_.size()), folder_) << temp;
  EXPECT_EQ(temp.find('\\', folder_.size()), std::string::npos) << temp;
  ASSERT_EQ(watched.replacements.size(), 1u);
  EXPECT_EQ(watched.replacements[0].source, temp);
  EXPECT_EQ(watched.replacements[0].target, path("report.txt"));
  EXPECT_EQ(watched.replacements[0].sourceContent, expectedReport);
  EXPECT_EQ(watched.replacements[0].targetContent, "the old report") << "untouched until then";
  EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"report.txt"});
  EXPECT_EQ(readFile(path("report.txt")), expectedReport);
}

TEST_F(KeyReportOnWindows, AWriteThatStopsHalfWayKeepsTheOldFileAndTellsTheUser) {
  writeFile(path("report.txt"), "the old report");
  WatchedPlatform watched;
  watched.failWriteHalfway = true;
  const auto seen = save({saveAs(path("report")), pressButton(IDOK)}, &watched);
  ASSERT_EQ(seen.size(), 2u) << "the save dialog, then one message";
  EXPECT_EQ(seen[1].title, "Tamsket");
  EXPECT_EQ(seen[1].text, "The report could not be saved to " + path("report.txt") + ".");
  EXPECT_EQ(watched.tempFiles.size(), 1u);
  EXPECT_TRUE(watched.replacements.empty());
  EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"report.txt"}) << "no temporary file left";
  EXPECT_EQ(readFile(path("report.txt")), "the old report");
}

TEST_F(KeyReportOnWindows, TheDialogAndTheMessageAreModalToTheOwner) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                               100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  WatchedPlatform watched;
  watched.failWriteHalfway = true;
  const auto seen = save({saveAs(path("report")), pressButton(IDOK)}, &watched, owner);
  ASSERT_EQ(seen.size(), 2u);
  for (const auto& dialog : seen) {
    EXPECT_EQ(dialog.owner, owner) << dialog.title;
    EXPECT_FALSE(dialog.ownerEnabled) << dialog.title;
  }
  EXPECT_TRUE(IsWindowEnabled(owner)) << "given back once the save is over";
  DestroyWindow(owner);
}

// The dialog wrapper on its own. Wine's own save dialog is titled "Save As"
// too, so a title of another kind shows that the wrapper passes its own.
TEST_F(KeyReportOnWindows, TheDialogWrapperPassesTheRequestAndReturnsTheName) {
  SaveFileRequest request = buildSaveRequest(nullptr, GetModuleHandleA(nullptr));
  request.title = "Pick a report name";
  DialogDriver driver({saveAs(path("wrapped"))});
  const int result = platform::getSaveFileNameA(request);
  driver.finish();
  for (const auto& problem : driver.problems()) ADD_FAILURE() << problem;
  ASSERT_EQ(driver.seen().size(), 1u);
  EXPECT_EQ(driver.seen()[0].title, "Pick a report name");
  EXPECT_NE(result, 0);
  const std::string chosen = path("wrapped");
  EXPECT_EQ(request.file.substr(0, chosen.size() + 1), chosen + '\0');
  EXPECT_EQ(request.file.size(), 257u) << "the buffer keeps its size";
  EXPECT_EQ(request.fileOffset, folder_.size()) << "where the name starts";
  EXPECT_EQ(request.fileTitle.substr(0, 8), std::string("wrapped\0", 8));
}

TEST_F(KeyReportOnWindows, TheDialogWrapperReportsCancelAndARefusedRecordSize) {
  SaveFileRequest request = buildSaveRequest(nullptr, GetModuleHandleA(nullptr));
  {
    DialogDriver driver({cancelFileDialog()});
    EXPECT_EQ(platform::getSaveFileNameA(request), 0);
    driver.finish();
    EXPECT_TRUE(driver.problems().empty());
  }
  EXPECT_EQ(platform::commDlgExtendedError(), 0u) << "a cancel is no error";
  EXPECT_EQ(request.file, std::string(257, '\0'));

  // The 32-bit record size, which only the 32-bit build may use.
  if (sizeof(void*) == 8) {
    request.structSize = 76;
    DialogDriver driver({});
    EXPECT_EQ(platform::getSaveFileNameA(request), 0);
    driver.finish();
    EXPECT_TRUE(driver.seen().empty()) << "no dialog for a record of the wrong size";
    EXPECT_EQ(platform::commDlgExtendedError(), static_cast<unsigned long>(CDERR_STRUCTSIZE));
  }
}

TEST_F(KeyReportOnWindows, TheDialogWrapperNeverOffersMoreRoomThanTheBufferHas) {
  SaveFileRequest request = buildSaveRequest(nullptr, GetModuleHandleA(nullptr));
  request.file.assign(11, '\0');  // maxFile still claims 256
  DialogDriver driver({saveAs(path("a-name-longer-than-ten"))});
  EXPECT_EQ(platform::getSaveFileNameA(request), 0);
  driver.finish();
  for (const auto& problem : driver.problems()) ADD_FAILURE() << problem;
  EXPECT_EQ(platform::commDlgExtendedError(), static_cast<unsigned long>(FNERR_BUFFERTOOSMALL));
  EXPECT_EQ(request.file.size(), 11u);
}

}  // namespace
