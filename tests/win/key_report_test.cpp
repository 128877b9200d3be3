// The save flow on Wine's real save dialog, file system and message box. The
// dialogs are answered from a helper thread (dialog_driver.h); files go to a
// folder of each test's own under /tmp, reached as Z:\tmp\....
#include "report/key_report.h"

#include <windows.h>
// After windows.h, which they rely on.
#include <cderr.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/product_id_values.h"
#include "platform/save_dialog.h"
#include "win/dialog_driver.h"
#include "win/win_test_support.h"

namespace {

using dialogs::Answer;
using dialogs::cancelFileDialog;
using dialogs::pressButton;
using dialogs::saveAs;
using dialogs::SeenDialog;
using wintest::readFile;

const std::string kReport = "Product: Microsoft Exchange\r\nM3R7T-JV33T-PWDB4-F9XM2-RYBVD\r\n";
const std::string kReportWithoutKey = "Product: Microsoft Exchange\r\n\r\n";

// The real platform, watched: records the replacements the flow asks for, and
// can stop a write half-way.
class WatchedPlatform : public ReportPlatform {
 public:
  bool failWriteHalfway = false;
  // Source, target, and what each held when the replacement was asked for.
  std::vector<std::array<std::string, 4>> replacements;

  void* applicationInstance() override { return real_->applicationInstance(); }
  bool askForFileName(SaveFileRequest& request, unsigned long& dialogError) override {
    return real_->askForFileName(request, dialogError);
  }
  std::string createTempFile(const std::string& folder) override {
    return real_->createTempFile(folder);
  }
  void* openForWriting(const std::string& path) override { return real_->openForWriting(path); }
  bool writeAll(void* file, const std::string& bytes) override {
    if (!failWriteHalfway) return real_->writeAll(file, bytes);
    real_->writeAll(file, bytes.substr(0, bytes.size() / 2));
    return false;
  }
  bool closeFile(void* file) override { return real_->closeFile(file); }
  bool replaceFile(const std::string& source, const std::string& target) override {
    replacements.push_back({source, target, readFile(source).value_or("(missing)"),
                            readFile(target).value_or("(missing)")});
    return real_->replaceFile(source, target);
  }
  bool deleteFile(const std::string& path) override { return real_->deleteFile(path); }
  void tellUser(void* owner, const std::string& text, const std::string& title) override {
    real_->tellUser(owner, text, title);
  }

 private:
  std::unique_ptr<ReportPlatform> real_ = makeWindowsReportPlatform();
};

class KeyReportOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    wintest::removeExchangeKey();
    wintest::writeProductId(REG_BINARY, realisticValue());
    // Windows process ids are reused: an earlier run's folder may still be there.
    std::filesystem::remove_all(folder_);
    ASSERT_TRUE(std::filesystem::create_directory(folder_)) << folder_;
    owner_ = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                             100, nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    DestroyWindow(owner_);
    std::filesystem::remove_all(folder_);
    wintest::removeExchangeKey();
  }

  std::string path(const std::string& name) const { return folder_ + name; }
  std::vector<std::string> names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  // Saves the report, with the window as the owner and the dialogs answered by `script`.
  std::vector<SeenDialog> save(WatchedPlatform& platform, std::vector<Answer> script) {
    return dialogs::answering(std::move(script), [&] { saveKeyReport(platform, owner_); });
  }

  // Each test's own, removed when it ends.
  const std::string folder_ =
      "Z:\\tmp\\tamsket-report-" + std::to_string(GetCurrentProcessId()) + "\\";
  HWND owner_ = nullptr;
};

TEST_F(KeyReportOnWindows, CancellingTheSaveAsDialogForTextFilesWritesNothing) {
  // The record size the 400A dialog accepts, from the SDK's own definition.
  EXPECT_EQ(buildSaveRequest(nullptr, nullptr).structSize, OPENFILENAME_SIZE_VERSION_400A);
  writeFile(path("report.txt"), "the old report");
  WatchedPlatform watched;
  const auto seen = save(watched, {cancelFileDialog()});
  ASSERT_EQ(seen.size(), 1u) << "only the save dialog";
  EXPECT_EQ(seen[0].title, "Save As");
  EXPECT_EQ(seen[0].fileTypes, std::vector<std::string>{"Text File (*.txt)"});
  EXPECT_EQ(seen[0].owner, owner_);
  EXPECT_FALSE(seen[0].ownerEnabled) << "modal to its owner";
  EXPECT_EQ(names(), std::vector<std::string>{"report.txt"});
  EXPECT_EQ(readFile(path("report.txt")), "the old report");
}

// Each save writes the report whole to a file beside the target, then puts it
// in the target's place; any overwrite prompt would be an unexpected dialog.
// The key is looked up at each save: removed before the last, its line is empty.
TEST_F(KeyReportOnWindows, SavesUnderTheChosenNameThroughAFileBesideIt) {
  const std::string bare = "tamsket-report-" + std::to_string(GetCurrentProcessId());
  const struct {
    const char* what;
    std::string typed, saved;
    std::optional<std::string> before;  // what the saved file held before
    bool keyInstalled;
  } cases[] = {
      {"a name without extension gets .txt", path("report"), path("report.txt"), {}, true},
      {"a name ending in .txt keeps it", path("notes.txt"), path("notes.txt"), {}, true},
      {"so does one ending in .TXT", path("LOUD.TXT"), path("LOUD.TXT"), {}, true},
      {"an existing file is replaced", path("report.txt"), path("report.txt"),
       std::string(300, 'x'), true},
      {"a bare name goes to the initial folder", bare, "C:\\" + bare + ".txt", {}, true},
      {"the key removed since the last save", path("without"), path("without.txt"), {}, false},
  };
  for (const auto& c : cases) {
    if (c.before) writeFile(c.saved, *c.before);
    if (!c.keyInstalled) wintest::removeExchangeKey();
    WatchedPlatform watched;
    save(watched, {saveAs(c.typed)});
    const std::string expected = c.keyInstalled ? kReport : kReportWithoutKey;
    EXPECT_EQ(readFile(c.saved), expected) << c.what;
    ASSERT_EQ(watched.replacements.size(), 1u) << c.what;
    const std::string temp = watched.replacements[0][0];
    const auto folderOf = [](const std::string& path) { return path.substr(0, path.rfind('\\')); };
    EXPECT_EQ(folderOf(temp), folderOf(c.saved)) << c.what << ": " << temp;
    const std::array<std::string, 4> replacement{temp, c.saved, expected,
                                                 c.before.value_or("(missing)")};
    EXPECT_EQ(watched.replacements, std::vector{replacement}) << c.what;
    if (c.saved.rfind(folder_, 0) != 0) DeleteFileA(c.saved.c_str());
  }
  EXPECT_EQ(names(),
            (std::vector<std::string>{"LOUD.TXT", "notes.txt", "report.txt", "without.txt"}))
      << "no temporary file left";
}

TEST_F(KeyReportOnWindows, AReportThatCannotLandKeepsTheOldFileAndTellsTheUser) {
  for (const bool holdTarget : {true, false}) {
    const char* what = holdTarget ? "the target cannot be replaced" : "the write stops half-way";
    writeFile(path("report.txt"), "the old report");
    // Without FILE_SHARE_DELETE nothing may take this file's place while it is open.
    HANDLE holder = holdTarget ? CreateFileA(path("report.txt").c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr)
                               : nullptr;
    WatchedPlatform watched;
    watched.failWriteHalfway = !holdTarget;
    const auto seen = save(watched, {saveAs(path("report")), pressButton(IDOK)});
    if (holder) CloseHandle(holder);

    ASSERT_EQ(seen.size(), 2u) << what << ": the save dialog, then one message";
    for (const auto& dialog : seen) {
      EXPECT_EQ(dialog.owner, owner_) << what << ", " << dialog.title;
      EXPECT_FALSE(dialog.ownerEnabled) << what << ", " << dialog.title;
    }
    EXPECT_TRUE(IsWindowEnabled(owner_)) << what << ": given back once the save is over";
    EXPECT_EQ(seen[1].title, "Tamsket") << what;
    EXPECT_EQ(seen[1].text, "The report could not be saved to " + path("report.txt") + ".") << what;
    EXPECT_EQ(names(), std::vector<std::string>{"report.txt"})
        << what << ": no temporary file left";
    EXPECT_EQ(readFile(path("report.txt")), "the old report") << what;
  }
}

// A full path of 261 characters once overflowed the dialog's 256-character
// name buffer (and Wine's dialog crashed on it); now it is saved. (Wine's own
// dialog still fails on paths much past 260 characters: not tried here.) A
// name the 8-bit dialog cannot pass on unchanged is refused with a word.
TEST_F(KeyReportOnWindows, LongNamesAreSavedAndNamesOutsideTheCodePageRefused) {
  const std::string longName = folder_ + std::string(261 - folder_.size(), 'a');
  WatchedPlatform watched;
  const auto seen = save(watched, {saveAs(longName)});
  EXPECT_EQ(seen.size(), 1u) << "the save dialog, and no message";
  EXPECT_EQ(readFile(longName + ".txt"), kReport);
  std::filesystem::remove(longName + ".txt");

  const std::wstring cyrillic = L"\u041e\u0442\u0447\u0451\u0442";  // "Report"
  const auto refused =
      save(watched,
           {saveAs(std::wstring(folder_.begin(), folder_.end()) + cyrillic), pressButton(IDOK)});
  ASSERT_EQ(refused.size(), 2u) << "the save dialog, then one message";
  EXPECT_EQ(refused[1].title, "Tamsket");
  EXPECT_EQ(refused[1].text,
            "The name you chose contains characters this program cannot use in file names. "
            "Please save again under another name.");
  EXPECT_EQ(refused[1].owner, owner_);
  EXPECT_TRUE(names().empty()) << "nothing written, no temporary file left";
}

// The dialog wrapper on its own. Wine's own save dialog is titled "Save As"
// too, so a title of another kind shows that the wrapper passes its own.
TEST_F(KeyReportOnWindows, TheDialogWrapperPassesTheRequestAndReportsTheOutcome) {
  const std::string chosen = path("wrapped");
  const unsigned long kSize400 = OPENFILENAME_SIZE_VERSION_400A;  // this build's
  // The 64-bit size means nothing to the 32-bit dialog, and the other way round.
  const unsigned long kOtherSize = sizeof(void*) == 8 ? 76 : 136;
  const struct {
    const char* what;
    unsigned long structSize;
    std::size_t buffer;  // the name buffer's size; maxFile still claims 256
    std::vector<Answer> script;
    bool confirmed;
    unsigned long error;
    std::string fileStart;  // what the name buffer starts with afterwards
  } cases[] = {
      // clang-format off
      {"a name chosen", kSize400, 257, {saveAs(chosen)}, true, 0, chosen + '\0'},
      {"cancelled, which is no error", kSize400, 257, {cancelFileDialog()}, false, 0, std::string(257, '\0')},
      {"the other build's record size, refused without a dialog", kOtherSize, 257, {}, false, CDERR_STRUCTSIZE, ""},
      {"a buffer smaller than it claims", kSize400, 11, {saveAs(path("a-name-longer-than-ten"))}, false, FNERR_BUFFERTOOSMALL, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    SaveFileRequest request = buildSaveRequest(nullptr, GetModuleHandleA(nullptr));
    request.title = "Pick a report name";
    request.structSize = c.structSize;
    request.file.resize(c.buffer);
    int result = 0;
    const auto seen =
        dialogs::answering(c.script, [&] { result = platform::getSaveFileNameA(request); });
    for (const auto& dialog : seen) EXPECT_EQ(dialog.title, "Pick a report name") << c.what;
    EXPECT_EQ(result != 0, c.confirmed) << c.what;
    EXPECT_EQ(platform::commDlgExtendedError(), c.error) << c.what;
    EXPECT_EQ(request.file.size(), c.buffer) << c.what << ": the buffer keeps its size";
    EXPECT_EQ(request.file.substr(0, c.fileStart.size()), c.fileStart) << c.what;
    if (!c.confirmed) continue;
    EXPECT_EQ(request.fileOffset, folder_.size()) << "where the name starts";
    EXPECT_EQ(request.fileTitle.substr(0, 8), std::string("wrapped\0", 8));
  }
}

}  // namespace
