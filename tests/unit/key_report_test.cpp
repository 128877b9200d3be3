#include "report/key_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/registry_standin.h"

namespace {

using namespace std::string_literals;
using Files = std::map<std::string, std::string>;
using Messages = std::vector<std::tuple<void*, std::string, std::string>>;  // owner, text, title

TEST(SplitAtNul, ReturnsTheTextBeforeTheFirstNulAndKeepsTheRest) {
  const struct {
    std::string text, before, rest;
  } cases[] = {
      {"\0rest"s, "", "rest"},
      {"\0\0"s, "", "\0"s},
      {"report\0"s, "report", ""},
      {"C:\\a\\report\0\0\0"s, "C:\\a\\report", "\0\0"s},
      {"", "", ""},  // without a NUL: nothing, and the text stays
      {"report", "", "report"},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(splitAtNul(text), c.before) << "text of " << c.text.size() << " chars";
    EXPECT_EQ(text, c.rest) << "text of " << c.text.size() << " chars";
  }
}

TEST(ReportFileName, AddsTxtOnlyWhenTheNameDoesNotEndInIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\a\\report", "C:\\a\\report.txt"},
      {"report.txt", "report.txt"},
      {"REPORT.TXT", "REPORT.TXT"},
      {"report.tXt", "report.tXt"},
      {".txt", ".txt"},
      {"txt", "txt.txt"},
      {"reporttxt", "reporttxt.txt"},
      {"report.txtx", "report.txtx.txt"},
      {"", ".txt"},
  };
  for (const auto& [chosen, saved] : cases) EXPECT_EQ(reportFileName(chosen), saved) << chosen;
}

TEST(ReportText, IsTwoCrLfLines) {
  EXPECT_EQ(reportText("Microsoft Exchange", "QWXBG-9RBY2-MCG7P-KT6GW-XP4VP"),
            "Product: Microsoft Exchange\r\nQWXBG-9RBY2-MCG7P-KT6GW-XP4VP\r\n");
  EXPECT_EQ(reportText("Microsoft Exchange", ""), "Product: Microsoft Exchange\r\n\r\n");
}

TEST(BuildSaveRequest, FillsEveryFieldOfTheRecord) {
  int owner = 0;
  int instance = 0;
  const SaveFileRequest r = buildSaveRequest(&owner, &instance);
  // OPENFILENAME_SIZE_VERSION_400A: 76 with 4-byte pointers, 136 with 8-byte ones.
  EXPECT_EQ(r.structSize, sizeof(void*) == 8 ? 136u : 76u);
  EXPECT_EQ(std::tie(r.owner, r.instance), std::make_tuple(&owner, &instance));
  EXPECT_EQ(r.filter, "Text File (*.txt)\0*.TXT\0"s);
  // Room for any path Windows takes, and one NUL more than the dialog may fill.
  EXPECT_EQ(r.file, std::string(32768, '\0'));
  EXPECT_EQ(r.fileTitle, std::string(32768, '\0'));
  EXPECT_STREQ(r.initialDir, "C:\\");
  EXPECT_STREQ(r.title, "Save As");
  EXPECT_EQ(std::tie(r.maxCustFilter, r.filterIndex, r.maxFile, r.maxFileTitle, r.flags),
            std::make_tuple(0u, 1u, 32767u, 32767u, 0u));
  EXPECT_EQ(std::tie(r.fileOffset, r.fileExtension, r.custData), std::make_tuple(0, 0, 0));
  EXPECT_EQ(std::tie(r.customFilter, r.defExt, r.hook, r.templateName),
            std::make_tuple(nullptr, nullptr, nullptr, nullptr));
}

// Files are whole strings by path; as on Windows, an open file can be neither moved nor deleted.
class FakeReportPlatform : public ReportPlatform {
 public:
  Files files;
  std::string answer;  // the name the dialog returns unless cancelled
  bool cancel = false;
  unsigned long dialogError = 0;  // reported with a cancel: 0 for the user's own
  std::string fault;  // the step that fails: "create temp", "open", "write half-way", ...
  std::vector<SaveFileRequest> requests;
  std::vector<std::string> tempFolders;
  Messages messages;
  std::map<std::uintptr_t, std::string> open;  // handle → path

  static inline void* const kInstance = reinterpret_cast<void*>(std::uintptr_t{0x400000});

  void* applicationInstance() override { return kInstance; }

  bool askForFileName(SaveFileRequest& request, unsigned long& error) override {
    requests.push_back(request);
    // The dialog writes the NUL-ended name over the start of the buffer.
    if (!cancel) request.file.replace(0, answer.size() + 1, answer.c_str(), answer.size() + 1);
    error = cancel ? dialogError : 0;
    return !cancel;
  }

  std::string createTempFile(const std::string& folder) override {
    tempFolders.push_back(folder);
    if (fault == "create temp") return {};
    const std::string path = folder + "tsk" + std::to_string(tempFolders.size()) + ".tmp";
    files[path] = "";
    return path;
  }

  void* openForWriting(const std::string& path) override {
    if (fault == "open") return nullptr;
    files[path] = "";
    open[++lastHandle_] = path;
    return reinterpret_cast<void*>(lastHandle_);
  }

  bool writeAll(void* file, const std::string& bytes) override {
    std::string& content = files.at(open.at(reinterpret_cast<std::uintptr_t>(file)));
    if (fault == "write throws") throw std::runtime_error("disk on fire");
    const bool whole = fault != "write half-way";
    content += whole ? bytes : bytes.substr(0, bytes.size() / 2);
    return whole;
  }

  bool closeFile(void* file) override {
    open.erase(reinterpret_cast<std::uintptr_t>(file));
    return fault != "close";
  }

  bool replaceFile(const std::string& source, const std::string& target) override {
    if (fault == "replace" || isOpen(source) || isOpen(target)) return false;
    auto moved = files.extract(source);
    if (moved.empty()) return false;
    files[target] = std::move(moved.mapped());
    return true;
  }

  bool deleteFile(const std::string& path) override {
    return !isOpen(path) && files.erase(path) == 1;
  }

  void tellUser(void* owner, const std::string& text, const std::string& title) override {
    messages.emplace_back(owner, text, title);
  }

 private:
  bool isOpen(const std::string& path) const {
    return std::any_of(open.begin(), open.end(), [&](const auto& e) { return e.second == path; });
  }

  std::uintptr_t lastHandle_ = 0x100;
};

// A DigitalProductId whose packed key (bytes 52 to 66) holds `window`.
void installKey(const std::vector<std::uint8_t>& window) {
  std::vector<std::uint8_t> value(164, 0x5A);
  std::copy(window.begin(), window.end(), value.begin() + 52);
  platform::standin::setRegistryValue(platform::hkeyLocalMachine(),
                                      "SOFTWARE\\Microsoft\\Exchange\\Setup", "DigitalProductId",
                                      platform::kRegBinary, value);
}

// Windows 1..15, with the key it is known to decode to.
const std::vector<std::uint8_t> kWindowOneToFifteen = {1, 2,  3,  4,  5,  6,  7, 8,
                                                       9, 10, 11, 12, 13, 14, 15};
constexpr char kKeyOneToFifteen[] = "QWXBG-9RBY2-MCG7P-KT6GW-XP4VP";

std::string report(const std::string& key) {
  return "Product: Microsoft Exchange\r\n" + key + "\r\n";
}

class SaveKeyReport : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::standin::clearRegistry();
    installKey(kWindowOneToFifteen);
  }
  void TearDown() override { EXPECT_EQ(platform::standin::openRegistryHandles(), 0); }

  void save() {
    saveKeyReport(fake, owner);
    EXPECT_TRUE(fake.open.empty()) << "a file was left open";
  }

  FakeReportPlatform fake;
  int window = 0;
  void* const owner = &window;
};

TEST_F(SaveKeyReport, ShowsTheDialogAndOnCancelWritesNothingAndSaysNothing) {
  fake.files = {{"C:\\x\\report.txt", "old"}};
  fake.cancel = true;
  save();
  ASSERT_EQ(fake.requests.size(), 1u);
  EXPECT_EQ(fake.requests[0].owner, owner);
  EXPECT_EQ(fake.requests[0].instance, FakeReportPlatform::kInstance);
  EXPECT_STREQ(fake.requests[0].title, "Save As");
  EXPECT_EQ(fake.files, (Files{{"C:\\x\\report.txt", "old"}}));
  EXPECT_TRUE(fake.tempFolders.empty());
  EXPECT_TRUE(fake.messages.empty());
}

TEST_F(SaveKeyReport, ReplacesTheFileSilentlyThroughATemporaryFileInItsFolder) {
  const struct {
    std::string chosen, saved, tempFolder;
    bool existed;
  } cases[] = {
      {"C:\\x\\report", "C:\\x\\report.txt", "C:\\x\\", false},
      {"C:\\x\\REPORT.TXT", "C:\\x\\REPORT.TXT", "C:\\x\\", true},
      {"D:\\reports\\exchange", "D:\\reports\\exchange.txt", "D:\\reports\\", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chosen);
    fake = {};
    fake.files = {{"C:\\x\\other.txt", "left alone"}};
    if (c.existed) fake.files[c.saved] = "an older report, longer than the new one";
    fake.answer = c.chosen;
    save();
    EXPECT_EQ(fake.files,
              (Files{{"C:\\x\\other.txt", "left alone"}, {c.saved, report(kKeyOneToFifteen)}}));
    EXPECT_EQ(fake.tempFolders, std::vector<std::string>{c.tempFolder});
    EXPECT_TRUE(fake.messages.empty());
  }
}

TEST_F(SaveKeyReport, OnAnyFailureKeepsTheOldFileRemovesTheTemporaryOneAndTellsTheUserOnce) {
  const Messages told = {{owner, "The report could not be saved to C:\\x\\report.txt.", "Tamsket"}};
  for (const char* fault :
       {"create temp", "open", "write half-way", "close", "replace", "write throws"}) {
    for (const bool existed : {true, false}) {
      SCOPED_TRACE(fault + (existed ? ", file existed"s : ""s));
      fake = {};
      if (existed) fake.files["C:\\x\\report.txt"] = "the old report";
      const Files before = fake.files;
      fake.answer = "C:\\x\\report";
      fake.fault = fault;
      save();
      EXPECT_EQ(fake.files, before);
      EXPECT_EQ(fake.messages, told);
    }
  }
}

// A cancel is the user's own choice; a dialog that failed, or a name the
// 8-bit file functions cannot take, is told, and nothing is written.
TEST_F(SaveKeyReport, TellsTheUserWhenNoNameCameBackThatItCanUse) {
  const std::string unusable =
      "The name you chose contains characters this program cannot use in file names. "
      "Please save again under another name.";
  const struct {
    const char* what;
    bool cancel;
    unsigned long dialogError;
    std::string answer;
    std::vector<std::string> told;
  } cases[] = {
      {"cancelled", true, 0, "", {}},
      {"the buffer was too small",
       true,
       0x3003,
       "",
       {"The Save As dialog failed (common dialog error 0x3003), so the report was not saved."}},
      {"an invalid record",
       true,
       0x1,
       "",
       {"The Save As dialog failed (common dialog error 0x0001), so the report was not saved."}},
      {"Cyrillic letters the code page lacks", false, 0, "C:\\x\\??????", {unusable}},
      {"one such letter at the end", false, 0, "C:\\x\\report?", {unusable}},
  };
  for (const auto& c : cases) {
    fake = {};
    fake.files = {{"C:\\x\\report.txt", "old"}};
    fake.cancel = c.cancel;
    fake.dialogError = c.dialogError;
    fake.answer = c.answer;
    save();
    EXPECT_EQ(fake.files, (Files{{"C:\\x\\report.txt", "old"}})) << c.what;
    EXPECT_TRUE(fake.tempFolders.empty()) << c.what;
    Messages told;
    for (const auto& text : c.told) told.emplace_back(owner, text, "Tamsket");
    EXPECT_EQ(fake.messages, told) << c.what;
  }
}

TEST_F(SaveKeyReport, LooksTheKeyUpAfreshAtEverySave) {
  const std::pair<std::vector<std::uint8_t>, std::string> saves[] = {
      {kWindowOneToFifteen, kKeyOneToFifteen},
      {std::vector<std::uint8_t>(15, 0xFF), "TW7HQ-JY9P9-CFDMG-RH9H7-9BKDX"},
      {{}, ""},  // no key installed: the second line is empty
  };
  fake.answer = "C:\\x\\report";
  for (const auto& [window, key] : saves) {
    platform::standin::clearRegistry();
    if (!window.empty()) installKey(window);
    save();
    EXPECT_EQ(fake.files, (Files{{"C:\\x\\report.txt", report(key)}})) << key;
  }
  EXPECT_TRUE(fake.messages.empty());
}

}  // namespace
