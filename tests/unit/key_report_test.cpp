#include "report/key_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/registry_standin.h"

namespace {

using namespace std::string_literals;

// ---------------------------------------------------------------------------
// splitAtNul

struct SplitCase {
  std::string text;
  std::string expectedResult;
  std::string expectedRest;
};

TEST(SplitAtNul, ReturnsTheTextBeforeTheFirstNulAndKeepsTheRest) {
  const SplitCase cases[] = {
      {"\0rest"s, "", "rest"},
      {"\0"s, "", ""},
      {"\0\0"s, "", "\0"s},
      {"report\0"s, "report", ""},
      {"C:\\a\\report\0\0\0"s, "C:\\a\\report", "\0\0"s},
      {"a\0b\0c"s, "a", "b\0c"s},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(splitAtNul(text), c.expectedResult) << "text of " << c.text.size() << " chars";
    EXPECT_EQ(text, c.expectedRest) << "text of " << c.text.size() << " chars";
  }
}

TEST(SplitAtNul, WithoutNulReturnsNothingAndLeavesTheText) {
  for (const std::string& original : {""s, "report"s, "C:\\a\\report.txt"s}) {
    std::string text = original;
    EXPECT_EQ(splitAtNul(text), "") << original;
    EXPECT_EQ(text, original);
  }
}

TEST(SplitAtNul, TakesOnePieceAtATime) {
  std::string text = "one\0two\0\0three"s;
  EXPECT_EQ(splitAtNul(text), "one");
  EXPECT_EQ(splitAtNul(text), "two");
  EXPECT_EQ(splitAtNul(text), "");
  EXPECT_EQ(text, "three");
  EXPECT_EQ(splitAtNul(text), "") << "no NUL left";
  EXPECT_EQ(text, "three");
}

// ---------------------------------------------------------------------------
// The name rule and the report text

TEST(ReportFileName, AddsTxtOnlyWhenTheNameDoesNotEndInIt) {
  const struct {
    const char* chosen;
    const char* saved;
  } cases[] = {
      {"C:\\a\\report", "C:\\a\\report.txt"},
      {"report.txt", "report.txt"},
      {"REPORT.TXT", "REPORT.TXT"},
      {"x.Txt", "x.Txt"},
      {"C:\\a\\report.tXT", "C:\\a\\report.tXT"},
      {".txt", ".txt"},
      {"a.txt.bak", "a.txt.bak.txt"},
      {"txt", "txt.txt"},
      {"reporttxt", "reporttxt.txt"},
      {"report.tx", "report.tx.txt"},
      {"report.txtx", "report.txtx.txt"},
      {"report_txt", "report_txt.txt"},
      {"C:\\notes.txt\\report", "C:\\notes.txt\\report.txt"},
      {"", ".txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(reportFileName(c.chosen), c.saved) << c.chosen;
}

TEST(ReportText, IsTwoCrLfLines) {
  EXPECT_EQ(reportText("Microsoft Exchange", "QWXBG-9RBY2-MCG7P-KT6GW-XP4VP"),
            "Product: Microsoft Exchange\r\nQWXBG-9RBY2-MCG7P-KT6GW-XP4VP\r\n");
  EXPECT_EQ(reportText("Microsoft Exchange", ""), "Product: Microsoft Exchange\r\n\r\n");
}

// ---------------------------------------------------------------------------
// The dialog's request

TEST(BuildSaveRequest, FillsEveryFieldOfTheRecord) {
  int ownerObject = 0;
  int instanceObject = 0;
  const SaveFileRequest r = buildSaveRequest(&ownerObject, &instanceObject);
  // OPENFILENAME_SIZE_VERSION_400A: 76 with 4-byte pointers, 136 with 8-byte ones.
  EXPECT_EQ(r.structSize, sizeof(void*) == 8 ? 136u : 76u);
  EXPECT_EQ(r.owner, &ownerObject);
  EXPECT_EQ(r.instance, &instanceObject);
  EXPECT_EQ(r.filter, "Text File (*.txt)\0*.TXT\0"s);
  EXPECT_EQ(r.filter.size(), 24u) << "one NUL after each part";
  EXPECT_EQ(r.customFilter, nullptr);
  EXPECT_EQ(r.maxCustFilter, 0u);
  EXPECT_EQ(r.filterIndex, 1u);
  EXPECT_EQ(r.file, std::string(257, '\0'));
  EXPECT_EQ(r.maxFile, 256u);
  EXPECT_EQ(r.fileTitle, std::string(257, '\0'));
  EXPECT_EQ(r.maxFileTitle, 256u);
  ASSERT_NE(r.initialDir, nullptr);
  EXPECT_STREQ(r.initialDir, "C:\\");
  ASSERT_NE(r.title, nullptr);
  EXPECT_STREQ(r.title, "Save As");
  EXPECT_EQ(r.flags, 0u);
  EXPECT_EQ(r.fileOffset, 0u);
  EXPECT_EQ(r.fileExtension, 0u);
  EXPECT_EQ(r.defExt, nullptr);
  EXPECT_EQ(r.custData, 0);
  EXPECT_EQ(r.hook, nullptr);
  EXPECT_EQ(r.templateName, nullptr);
}

// ---------------------------------------------------------------------------
// The save flow, against a file system in memory

enum class Fault { kNone, kCreateTemp, kOpen, kWriteHalfway, kClose, kReplace, kThrowOnWrite };

const char* describe(Fault fault) {
  switch (fault) {
    case Fault::kNone: return "no fault";
    case Fault::kCreateTemp: return "temporary file cannot be created";
    case Fault::kOpen: return "temporary file cannot be opened";
    case Fault::kWriteHalfway: return "write stops half-way";
    case Fault::kClose: return "close fails";
    case Fault::kReplace: return "replace fails";
    case Fault::kThrowOnWrite: return "write throws";
  }
  return "?";
}

struct Message {
  void* owner;
  std::string text;
  std::string title;
};

// Files are whole strings by path. Like Windows, an open file can be neither
// moved nor deleted. The dialog answers with `answer`, or cancels.
class FakeReportPlatform : public ReportPlatform {
 public:
  std::map<std::string, std::string> files;
  std::string answer;
  bool cancel = false;
  Fault fault = Fault::kNone;

  std::vector<SaveFileRequest> requests;  // as the dialog received them
  std::vector<std::string> tempFolders;
  std::vector<Message> messages;
  std::map<std::uintptr_t, std::string> open;  // handle → path

  void* applicationInstance() override { return kInstance; }

  bool askForFileName(SaveFileRequest& request) override {
    requests.push_back(request);
    if (cancel) return false;
    // The dialog writes the NUL-ended name over the start of the buffer.
    request.file.replace(0, answer.size() + 1, answer.c_str(), answer.size() + 1);
    return true;
  }

  std::string createTempFile(const std::string& folder) override {
    tempFolders.push_back(folder);
    if (fault == Fault::kCreateTemp) return {};
    const std::string path = folder + "tsk" + std::to_string(++tempCount_) + ".tmp";
    files[path] = "";
    return path;
  }

  void* openForWriting(const std::string& path) override {
    if (fault == Fault::kOpen) return nullptr;
    files[path] = "";
    open[++handleCount_] = path;
    return reinterpret_cast<void*>(handleCount_);
  }

  bool writeAll(void* file, const std::string& bytes) override {
    std::string& content = files.at(open.at(reinterpret_cast<std::uintptr_t>(file)));
    if (fault == Fault::kThrowOnWrite) throw std::runtime_error("disk on fire");
    if (fault == Fault::kWriteHalfway) {
      content += bytes.substr(0, bytes.size() / 2);
      return false;
    }
    content += bytes;
    return true;
  }

  bool closeFile(void* file) override {
    open.erase(reinterpret_cast<std::uintptr_t>(file));
    return fault != Fault::kClose;
  }

  bool replaceFile(const std::string& source, const std::string& target) override {
    if (fault == Fault::kReplace || isOpen(source) || isOpen(target)) return false;
    if (!files.count(source)) return false;
    files[target] = files[source];
    files.erase(source);
    return true;
  }

  bool deleteFile(const std::string& path) override {
    if (isOpen(path)) return false;
    return files.erase(path) == 1;
  }

  void tellUser(void* owner, const std::string& text, const std::string& title) override {
    messages.push_back({owner, text, title});
  }

  static inline void* const kInstance = reinterpret_cast<void*>(std::uintptr_t{0x400000});

 private:
  bool isOpen(const std::string& path) const {
    for (const auto& entry : open) {
      if (entry.second == path) return true;
    }
    return false;
  }

  int tempCount_ = 0;
  std::uintptr_t handleCount_ = 0x100;
};

constexpr char kSetup[] = "SOFTWARE\\Microsoft\\Exchange\\Setup";

// A DigitalProductId whose packed key (bytes 52 to 66) holds `window`.
std::vector<std::uint8_t> productIdWithWindow(const std::vector<std::uint8_t>& window) {
  std::vector<std::uint8_t> value(164, 0x5A);
  std::copy(window.begin(), window.end(), value.begin() + 52);
  return value;
}

void installKey(const std::vector<std::uint8_t>& window) {
  platform::standin::setRegistryValue(platform::hkeyLocalMachine(), kSetup, "DigitalProductId",
                                      platform::kRegBinary, productIdWithWindow(window));
}

// Windows 1..15 and all 0xFF, with the keys they are known to decode to.
const std::vector<std::uint8_t> kWindowOneToFifteen = {1, 2,  3,  4,  5,  6,  7, 8,
                                                       9, 10, 11, 12, 13, 14, 15};
constexpr char kKeyOneToFifteen[] = "QWXBG-9RBY2-MCG7P-KT6GW-XP4VP";
const std::vector<std::uint8_t> kWindowAllSet(15, 0xFF);
constexpr char kKeyAllSet[] = "TW7HQ-JY9P9-CFDMG-RH9H7-9BKDX";

class SaveKeyReport : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::standin::clearRegistry();
    installKey(kWindowOneToFifteen);
  }
  void TearDown() override {
    EXPECT_TRUE(fake.open.empty()) << "a file was left open";
    EXPECT_EQ(platform::standin::openRegistryHandles(), 0);
  }

  FakeReportPlatform fake;
  int window = 0;
  void* const owner = &window;
};

TEST_F(SaveKeyReport, CancelWritesNothingAndSaysNothing) {
  fake.files["C:\\x\\report.txt"] = "old";
  fake.cancel = true;
  fake.answer = "C:\\x\\report";
  saveKeyReport(fake, owner);
  ASSERT_EQ(fake.requests.size(), 1u) << "the dialog was shown";
  EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"C:\\x\\report.txt", "old"}}));
  EXPECT_TRUE(fake.tempFolders.empty());
  EXPECT_TRUE(fake.messages.empty());
}

TEST_F(SaveKeyReport, ShowsTheDialogWithTheOwnerAndTheApplicationInstance) {
  fake.cancel = true;
  saveKeyReport(fake, owner);
  ASSERT_EQ(fake.requests.size(), 1u);
  EXPECT_EQ(fake.requests[0].owner, owner);
  EXPECT_EQ(fake.requests[0].instance, FakeReportPlatform::kInstance);
  EXPECT_STREQ(fake.requests[0].title, "Save As");
}

TEST_F(SaveKeyReport, WritesTheReportUnderTheChosenNameWithTxtAddedOnlyWhenMissing) {
  const struct {
    const char* chosen;
    const char* written;
  } cases[] = {
      {"C:\\x\\report", "C:\\x\\report.txt"},
      {"C:\\x\\report.txt", "C:\\x\\report.txt"},
      {"C:\\x\\REPORT.TXT", "C:\\x\\REPORT.TXT"},
      {"C:\\x\\report.log", "C:\\x\\report.log.txt"},
  };
  for (const auto& c : cases) {
    FakeReportPlatform run;
    run.answer = c.chosen;
    saveKeyReport(run, owner);
    EXPECT_EQ(run.files,
              (std::map<std::string, std::string>{
                  {c.written, "Product: Microsoft Exchange\r\nQWXBG-9RBY2-MCG7P-KT6GW-XP4VP\r\n"}}))
        << c.chosen;
    EXPECT_TRUE(run.messages.empty()) << c.chosen;
  }
}

TEST_F(SaveKeyReport, WritesThroughATemporaryFileInTheTargetFolder) {
  fake.answer = "D:\\reports\\exchange";
  saveKeyReport(fake, owner);
  EXPECT_EQ(fake.tempFolders, std::vector<std::string>{"D:\\reports\\"});
  EXPECT_EQ(fake.files.size(), 1u) << "the temporary file took the target's place";
  EXPECT_EQ(fake.files.count("D:\\reports\\exchange.txt"), 1u);
}

TEST_F(SaveKeyReport, ReplacesAnExistingFileWithoutAsking) {
  fake.files["C:\\x\\report.txt"] = "an older report, longer than the new one by a good margin";
  fake.files["C:\\x\\other.txt"] = "left alone";
  fake.answer = "C:\\x\\report.txt";
  saveKeyReport(fake, owner);
  EXPECT_EQ(
      fake.files,
      (std::map<std::string, std::string>{
          {"C:\\x\\report.txt", "Product: Microsoft Exchange\r\nQWXBG-9RBY2-MCG7P-KT6GW-XP4VP\r\n"},
          {"C:\\x\\other.txt", "left alone"}}));
  EXPECT_TRUE(fake.messages.empty());
}

TEST_F(SaveKeyReport, OnAnyFailureKeepsTheOldFileRemovesTheTemporaryOneAndTellsTheUserOnce) {
  for (Fault fault : {Fault::kCreateTemp, Fault::kOpen, Fault::kWriteHalfway, Fault::kClose,
                      Fault::kReplace, Fault::kThrowOnWrite}) {
    for (const bool existed : {true, false}) {
      FakeReportPlatform run;
      if (existed) run.files["C:\\x\\report.txt"] = "the old report";
      run.answer = "C:\\x\\report";
      run.fault = fault;
      const auto before = run.files;
      saveKeyReport(run, owner);
      const std::string where = std::string(describe(fault)) + (existed ? ", file existed" : "");
      EXPECT_EQ(run.files, before) << where;
      EXPECT_TRUE(run.open.empty()) << where;
      ASSERT_EQ(run.messages.size(), 1u) << where;
      EXPECT_EQ(run.messages[0].owner, owner) << where;
      EXPECT_EQ(run.messages[0].title, "Tamsket") << where;
      EXPECT_EQ(run.messages[0].text, "The report could not be saved to C:\\x\\report.txt.")
          << where;
    }
  }
}

TEST_F(SaveKeyReport, LooksTheKeyUpAfreshAtEverySave) {
  fake.answer = "C:\\x\\report";
  saveKeyReport(fake, owner);
  EXPECT_EQ(fake.files["C:\\x\\report.txt"],
            "Product: Microsoft Exchange\r\n"s + kKeyOneToFifteen + "\r\n");

  installKey(kWindowAllSet);
  saveKeyReport(fake, owner);
  EXPECT_EQ(fake.files["C:\\x\\report.txt"],
            "Product: Microsoft Exchange\r\n"s + kKeyAllSet + "\r\n");

  platform::standin::clearRegistry();
  saveKeyReport(fake, owner);
  EXPECT_EQ(fake.files["C:\\x\\report.txt"], "Product: Microsoft Exchange\r\n\r\n")
      << "without a key the second line is empty";
  EXPECT_EQ(fake.files.size(), 1u);
  EXPECT_TRUE(fake.messages.empty());
}

}  // namespace
