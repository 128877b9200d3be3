#include "report/key_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/product_id_values.h"
#include "keys/installed_key_source.h"
#include "support/registry_standin.h"

namespace {

using namespace std::string_literals;
using namespace report;
using keys::getExchangeKey;
using keys::getExchangeVersion;
using Files = std::map<std::string, std::string>;
using Messages = std::vector<std::pair<void*, std::string>>;  // owner, text

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

// Files are whole strings by path; as on Windows, an open file can be neither
// moved nor deleted. A failing step returns `faultError`.
class FakeSaveSystem : public SaveSystem {
 public:
  Files files;
  FileNameAnswer answer;
  std::string fault;  // the step that fails: "create temp", "open", "write half-way", ...
  SystemError faultError = kUnknownSystemError;
  std::vector<void*> dialogOwners;
  std::vector<std::string> tempFolders;
  Messages messages;
  std::map<std::uintptr_t, std::string> open;  // handle → path

  FileNameAnswer askForFileName(void* owner) override {
    dialogOwners.push_back(owner);
    return answer;
  }

  tamsket::Result<std::string, SystemError> createTempFile(const std::string& folder) override {
    tempFolders.push_back(folder);
    if (fault == "create temp") return faultError;
    const std::string path = folder + "tsk" + std::to_string(tempFolders.size()) + ".tmp";
    files[path] = "";
    return path;
  }

  tamsket::Result<void*, SystemError> openForWriting(const std::string& path) override {
    if (fault == "open") return faultError;
    files[path] = "";
    open[++lastHandle_] = path;
    return reinterpret_cast<void*>(lastHandle_);
  }

  StepStatus writeAll(void* file, const std::string& bytes) override {
    std::string& content = files.at(open.at(reinterpret_cast<std::uintptr_t>(file)));
    if (fault == "write throws") throw std::runtime_error("disk on fire");
    if (fault != "write half-way") {
      content += bytes;
      return {};
    }
    content += bytes.substr(0, bytes.size() / 2);
    return faultError;
  }

  StepStatus closeFile(void* file) override {
    open.erase(reinterpret_cast<std::uintptr_t>(file));
    return fault == "close" ? StepStatus(faultError) : StepStatus();
  }

  StepStatus replaceFile(const std::string& source, const std::string& target) override {
    if (fault == "replace") return faultError;
    if (isOpen(source) || isOpen(target)) return SystemError{32};  // ERROR_SHARING_VIOLATION
    auto moved = files.extract(source);
    if (moved.empty()) return SystemError{2};  // ERROR_FILE_NOT_FOUND
    files[target] = std::move(moved.mapped());
    return {};
  }

  StepStatus deleteFile(const std::string& path) override {
    if (isOpen(path)) return SystemError{32};
    return files.erase(path) == 1 ? StepStatus() : StepStatus(SystemError{2});
  }

  std::string describe(SystemError error) override {
    switch (error.code) {
      case 5: return "Access is denied.";
      case 112: return "There is not enough space on the disk.";
      default: return "";
    }
  }

  void tellUser(void* owner, const std::string& text) override {
    messages.emplace_back(owner, text);
  }

 private:
  bool isOpen(const std::string& path) const {
    return std::any_of(open.begin(), open.end(), [&](const auto& e) { return e.second == path; });
  }

  std::uintptr_t lastHandle_ = 0x100;
};

FileNameAnswer chosen(const std::string& name) { return {FileNameAnswer::chosen, name, 0}; }

// Windows 1..15 and all-0xFF, with the keys they are known to decode to.
constexpr char kKeyOneToFifteen[] = "QWXBG-9RBY2-MCG7P-KT6GW-XP4VP";
constexpr char kKeyAllFF[] = "TW7HQ-JY9P9-CFDMG-RH9H7-9BKDX";

std::string report(const std::string& key) {
  return "Product: Microsoft Exchange\r\n" + key + "\r\n";
}

class SaveKeyReport : public ::testing::Test {
 protected:
  void save() {
    saveKeyReport(fake, owner, lookups);
    EXPECT_TRUE(fake.open.empty()) << "a file was left open";
  }

  FakeSaveSystem fake;
  std::string key = kKeyOneToFifteen;
  int lookupsMade = 0;
  ReportLookups lookups{[] { return std::string("Microsoft Exchange"); },
                        [this] {
                          ++lookupsMade;
                          return key;
                        }};
  int window = 0;
  void* const owner = &window;
};

TEST_F(SaveKeyReport, ShowsTheDialogAndOnCancelWritesNothingAndSaysNothing) {
  fake.files = {{"C:\\x\\report.txt", "old"}};
  fake.answer = {FileNameAnswer::cancelled, "", 0};
  save();
  EXPECT_EQ(fake.dialogOwners, std::vector<void*>{owner});
  EXPECT_EQ(fake.files, (Files{{"C:\\x\\report.txt", "old"}}));
  EXPECT_TRUE(fake.tempFolders.empty());
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_EQ(lookupsMade, 0);
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
    fake.answer = chosen(c.chosen);
    save();
    EXPECT_EQ(fake.files,
              (Files{{"C:\\x\\other.txt", "left alone"}, {c.saved, report(kKeyOneToFifteen)}}));
    EXPECT_EQ(fake.tempFolders, std::vector<std::string>{c.tempFolder});
    EXPECT_TRUE(fake.messages.empty());
  }
}

// The message names the error in the system's words when it has them.
TEST_F(SaveKeyReport, OnAnyFailureKeepsTheOldFileRemovesTheTemporaryOneAndTellsTheUserWhy) {
  const std::pair<SystemError, std::string> errors[] = {
      {kUnknownSystemError, "The report could not be saved to C:\\x\\report.txt."},
      {{5}, "The report could not be saved to C:\\x\\report.txt: Access is denied."},
      {{112},
       "The report could not be saved to C:\\x\\report.txt: There is not enough space on the "
       "disk."},
      {{1234}, "The report could not be saved to C:\\x\\report.txt."},  // no words for it
  };
  for (const char* fault : {"create temp", "open", "write half-way", "close", "replace"}) {
    for (const auto& [error, told] : errors) {
      for (const bool existed : {true, false}) {
        SCOPED_TRACE(fault + (" error " + std::to_string(error.code)) +
                     (existed ? ", existed" : ""));
        fake = {};
        if (existed) fake.files["C:\\x\\report.txt"] = "the old report";
        const Files before = fake.files;
        fake.answer = chosen("C:\\x\\report");
        fake.fault = fault;
        fake.faultError = error;
        save();
        EXPECT_EQ(fake.files, before);
        EXPECT_EQ(fake.messages, (Messages{{owner, told}}));
      }
    }
  }
  // A step that throws has no error code: told without words.
  fake = {};
  fake.answer = chosen("C:\\x\\report");
  fake.fault = "write throws";
  save();
  EXPECT_TRUE(fake.files.empty());
  EXPECT_EQ(fake.messages,
            (Messages{{owner, "The report could not be saved to C:\\x\\report.txt."}}));
}

// A cancel is the user's own choice; a dialog that failed, or a name the
// 8-bit file functions cannot take, is told, and nothing is written.
TEST_F(SaveKeyReport, TellsTheUserWhenNoNameCameBackThatItCanUse) {
  const std::string unusable =
      "The name you chose contains characters this program cannot use in file names. "
      "Please save again under another name.";
  const struct {
    const char* what;
    FileNameAnswer answer;
    std::vector<std::string> told;
  } cases[] = {
      {"cancelled", {FileNameAnswer::cancelled, "", 0}, {}},
      {"the buffer was too small",
       {FileNameAnswer::failed, "", 0x3003},
       {"The Save As dialog failed (common dialog error 0x3003), so the report was not saved."}},
      {"an invalid record",
       {FileNameAnswer::failed, "", 0x1},
       {"The Save As dialog failed (common dialog error 0x0001), so the report was not saved."}},
      {"Cyrillic letters the code page lacks", chosen("C:\\x\\??????"), {unusable}},
      {"one such letter at the end", chosen("C:\\x\\report?"), {unusable}},
  };
  for (const auto& c : cases) {
    fake = {};
    fake.files = {{"C:\\x\\report.txt", "old"}};
    fake.answer = c.answer;
    save();
    EXPECT_EQ(fake.files, (Files{{"C:\\x\\report.txt", "old"}})) << c.what;
    EXPECT_TRUE(fake.tempFolders.empty()) << c.what;
    Messages told;
    for (const auto& text : c.told) told.emplace_back(owner, text);
    EXPECT_EQ(fake.messages, told) << c.what;
  }
}

TEST_F(SaveKeyReport, LooksTheKeyUpAfreshAtEverySave) {
  fake.answer = chosen("C:\\x\\report");
  int saves = 0;
  for (const std::string now : {kKeyOneToFifteen, kKeyAllFF, ""}) {  // "": no key installed
    key = now;
    save();
    EXPECT_EQ(lookupsMade, ++saves);
    EXPECT_EQ(fake.files, (Files{{"C:\\x\\report.txt", report(now)}})) << now;
  }
  EXPECT_TRUE(fake.messages.empty());
}

// The flow over this machine's own lookups, as the window's Save runs it: the
// product named whether or not Exchange is installed, the key read from the
// registry as it is at the moment of saving.
TEST_F(SaveKeyReport, FromThisMachineNamesTheProductAndTheKeyInstalledNow) {
  namespace standin = platform::standin;
  const struct {
    const char* what;
    std::optional<std::vector<std::uint8_t>> value;
    std::string saved;
  } cases[] = {
      {"no Exchange", std::nullopt, "Product: Microsoft Exchange\r\n\r\n"},
      {"the sample value", realisticValue(),
       "Product: Microsoft Exchange\r\nM3R7T-JV33T-PWDB4-F9XM2-RYBVD\r\n"},
      {"bytes 52 to 66 holding 1 to 15",
       [] {
         std::vector<std::uint8_t> value(164, 0);
         for (std::uint8_t i = 0; i < 15; ++i) value[52 + i] = i + 1;
         return value;
       }(),
       "Product: Microsoft Exchange\r\n" + std::string(kKeyOneToFifteen) + "\r\n"},
  };
  for (const auto& c : cases) {
    standin::clearRegistry();
    if (c.value) {
      standin::setRegistryValue(platform::hkeyLocalMachine(),
                                "SOFTWARE\\Microsoft\\Exchange\\Setup", "DigitalProductId",
                                platform::kRegBinary, *c.value);
    }
    fake = {};
    fake.answer = chosen("C:\\x\\report");
    saveKeyReport(fake, owner, {getExchangeVersion, getExchangeKey});
    EXPECT_EQ(fake.files, (Files{{"C:\\x\\report.txt", c.saved}})) << c.what;
    EXPECT_TRUE(fake.messages.empty()) << c.what;
    EXPECT_EQ(standin::openRegistryHandles(), 0) << c.what << ": a key was left open";
  }
  standin::clearRegistry();
}

}  // namespace
