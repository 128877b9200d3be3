// The console program's parts that do not touch a file or the registry:
// decoding a value of any size, the command line, text conversions, the
// output formats' quoting, and how registry views become records.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>

#include "cli/cli.h"
#include "cli/error_codes.h"
#include "cli/output.h"
#include "text/text.h"
#include "common/key_oracle.h"
#include "common/product_id_values.h"

namespace {

using namespace cli;

// ---- decoding ------------------------------------------------------------

TEST(DecodeValue, NeedsSixtySevenBytesForAKey) {
  struct Case {
    std::size_t size;
    Status status;
  };
  const Case cases[] = {{0, Status::invalid},  {52, Status::invalid}, {60, Status::invalid},
                        {66, Status::invalid}, {67, Status::found},   {164, Status::found},
                        {165, Status::found},  {5000, Status::found}};
  for (const Case& c : cases) {
    KeyRecord record;
    const auto data = patternedValue(c.size);
    decodeValue(3, data, record);
    EXPECT_EQ(record.status, c.status) << c.size;
    EXPECT_EQ(record.valueSize, c.size);
    if (c.status == Status::found) {
      EXPECT_EQ(record.key, keyFromValueBytes(data)) << c.size;
      EXPECT_STREQ(errorCodeName(record.errorCode), "");
    } else {
      EXPECT_EQ(record.key, "");
      EXPECT_STREQ(errorCodeName(record.errorCode), "value-too-short");
      EXPECT_EQ(record.errorMessage,
                "the value is " + std::to_string(c.size) + " bytes, too short to hold a key");
    }
  }
}

TEST(DecodeValue, DecodesEveryTypeAndKeepsIt) {
  for (const std::uint32_t type : {0u, 1u, 3u, 4u, 7u, 11u, 0x12345u}) {
    KeyRecord record;
    decodeValue(type, realisticValue(), record);
    EXPECT_EQ(record.status, Status::found) << type;
    EXPECT_EQ(record.key, "M3R7T-JV33T-PWDB4-F9XM2-RYBVD") << type;
    EXPECT_EQ(record.valueType, type);
  }
}

std::vector<std::uint8_t> valueWithText(const std::string& text, std::size_t size = 164) {
  std::vector<std::uint8_t> data(size, 0);
  for (std::size_t i = 0; i < text.size() && 8 + i < size; ++i) data[8 + i] = text[i];
  return data;
}

TEST(DecodeValue, ReadsTheProductIdTextAtOffsetEight) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> data;
    std::optional<std::string> productId;
  };
  std::vector<std::uint8_t> unterminated = valueWithText(std::string(44, '7'));
  std::vector<std::uint8_t> lastRoom = valueWithText(std::string(43, '7'));
  std::vector<std::uint8_t> control = valueWithText("00371-OEM\x01-8992671");
  std::vector<std::uint8_t> high = valueWithText("00371-\xC3\xA9");
  const Case cases[] = {
      {"a real one", valueWithText("00371-OEM-8992671-00437"), "00371-OEM-8992671-00437"},
      {"the realistic value", realisticValue(), "65317-308-1234567-45296"},
      {"empty text", valueWithText(""), std::nullopt},
      {"43 characters end at byte 50, the NUL at 51", lastRoom, std::string(43, '7')},
      {"no NUL before the packed key", unterminated, std::nullopt},
      {"a control character", control, std::nullopt},
      {"a byte above ASCII", high, std::nullopt},
      {"value ends inside the text", valueWithText("00371-OEM", 12), std::nullopt},
      {"a value that holds the whole id field", valueWithText("12345", 32), "12345"},
      {"a value that ends inside the id field", valueWithText("12345", 31), std::nullopt},
      {"a 12-byte REG_SZ", {'H', 0, 'e', 0, 'l', 0, 'l', 0, 'o', 0, 0, 0}, std::nullopt},
      {"too short to reach offset 8", std::vector<std::uint8_t>(8, 0x41), std::nullopt},
  };
  for (const Case& c : cases) {
    KeyRecord record;
    decodeValue(3, c.data, record);
    EXPECT_EQ(record.productId, c.productId) << c.what;
  }
}

TEST(ValueTypeName, NamesTheRegistryTypes) {
  EXPECT_EQ(valueTypeName(0), "REG_NONE");
  EXPECT_EQ(valueTypeName(1), "REG_SZ");
  EXPECT_EQ(valueTypeName(3), "REG_BINARY");
  EXPECT_EQ(valueTypeName(7), "REG_MULTI_SZ");
  EXPECT_EQ(valueTypeName(11), "REG_QWORD");
  EXPECT_EQ(valueTypeName(12), "0xC");
  EXPECT_EQ(valueTypeName(0xFFFFFFFF), "0xFFFFFFFF");
}

// ---- text ----------------------------------------------------------------

TEST(Utf, ConvertsBothWaysAndReplacesWhatIsNotText) {
  const std::u16string wide = u"a\u00e9\u0416\u20ac\U0001F511";
  const std::string utf8 = "a\xC3\xA9\xD0\x96\xE2\x82\xAC\xF0\x9F\x94\x91";
  EXPECT_EQ(text::utf16ToUtf8(wide.data(), wide.size()), utf8);
  EXPECT_EQ(text::utf8ToUtf16(utf8), wide);
  const std::u16string lone = {u'x', 0xD800, u'y', 0xDC00};
  EXPECT_EQ(text::utf16ToUtf8(lone.data(), lone.size()), "x\xEF\xBF\xBDy\xEF\xBF\xBD");

  struct Case {
    const char* what;
    std::string in;
    std::string out;
  };
  const std::string r = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"valid stays", utf8, utf8},
      {"stray continuation",
       "a\x80"
       "b",
       "a" + r + "b"},
      {"Latin-1 byte", "caf\xE9", "caf" + r},
      {"overlong slash", "\xC0\xAF", r + r},
      {"surrogate", "\xED\xA0\x80", r + r + r},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"cut short at the end", "ab\xE2\x82", "ab" + r + r},
      {"largest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
  };
  for (const Case& c : cases) EXPECT_EQ(text::sanitizeUtf8(c.in), c.out) << c.what;
  EXPECT_EQ(text::utf8ToUtf16("caf\xE9"), u"caf\uFFFD");
}

TEST(OutputQuoting, EscapesJsonStringsAndQuotesCsvFields) {
  EXPECT_EQ(jsonString("plain"), "\"plain\"");
  EXPECT_EQ(jsonString("C:\\a \"b\""), "\"C:\\\\a \\\"b\\\"\"");
  EXPECT_EQ(jsonString("t\tn\nr\r\x01\x1f\x7f"), "\"t\\tn\\nr\\r\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(jsonString("\xD0\x96"), "\"\xD0\x96\"");
  // Bytes that are not UTF-8 stay apart from each other and from U+FFFD.
  EXPECT_EQ(jsonString("caf\xE9\xFF\xEF\xBF\xBD"), "\"caf\\udce9\\udcff\xEF\xBF\xBD\"");

  EXPECT_EQ(csvField("plain text"), "plain text");
  EXPECT_EQ(csvField(""), "");
  EXPECT_EQ(csvField("a,b"), "\"a,b\"");
  EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(csvField("cr\r"), "\"cr\r\"");
}

// ---- command line --------------------------------------------------------

std::vector<Argument> argsOf(std::initializer_list<const char*> texts) {
  std::vector<Argument> args;
  for (const char* text : texts) args.push_back({text, text});
  return args;
}

TEST(CommandLine, ReadsSourcesInOrderWithTheirFormat) {
  struct Expected {
    Request kind;
    const char* argument;
  };
  struct Case {
    std::vector<Argument> args;
    bool hasRegistry;
    Format format;
    std::vector<Expected> sources;
  };
  const Case cases[] = {
      {argsOf({}), true, Format::text, {{Request::localRegistry, ""}}},
      {argsOf({"--json"}), true, Format::json, {{Request::localRegistry, ""}}},
      {argsOf({"--csv", "--csv"}), true, Format::csv, {{Request::localRegistry, ""}}},
      {argsOf({"--hive", "a", "--json", "--windows", "D:\\", "--hive=b=c", "--computer", "S1"}),
       true,
       Format::json,
       {{Request::hive, "a"},
        {Request::windowsFolder, "D:\\"},
        {Request::hive, "b=c"},
        {Request::computer, "S1"}}},
      {argsOf({"--hive", "--json"}), false, Format::text, {{Request::hive, "--json"}}},
      {argsOf({"--windows=/mnt/c"}), false, Format::text, {{Request::windowsFolder, "/mnt/c"}}},
      {argsOf({"--image", "a.vhdx", "--image=b.E01"}),
       false,
       Format::text,
       {{Request::image, "a.vhdx"}, {Request::image, "b.E01"}}},
      {argsOf({"--", "--json", "--"}),
       false,
       Format::text,
       {{Request::hive, "--json"}, {Request::hive, "--"}}},
  };
  for (const Case& c : cases) {
    const auto parsed = parseCommandLine(c.args, c.hasRegistry, !c.hasRegistry);
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    const Options& options = parsed.value();
    EXPECT_EQ(options.format, c.format);
    ASSERT_EQ(options.sources.size(), c.sources.size());
    for (std::size_t i = 0; i < c.sources.size(); ++i) {
      EXPECT_EQ(options.sources[i].kind, c.sources[i].kind) << i;
      EXPECT_EQ(options.sources[i].argument.text, c.sources[i].argument) << i;
      EXPECT_EQ(options.sources[i].argument.native, c.sources[i].argument) << i;
    }
  }
}

TEST(CommandLine, SaysWhatIsWrong) {
  struct Case {
    std::vector<Argument> args;
    bool hasRegistry;
    const char* message;
  };
  const Case cases[] = {
      {argsOf({}), false,
       "no source given: this system has no Windows registry; give --hive FILE, --windows DIR or "
       "--image FILE"},
      {argsOf({"--json"}), false,
       "no source given: this system has no Windows registry; give --hive FILE, --windows DIR or "
       "--image FILE"},
      {argsOf({"--computer", "S1"}), false,
       "--computer reads a Windows registry and works only on Windows; on this system give "
       "--hive FILE, --windows DIR or --image FILE"},
      {argsOf({"--image", "disk.vhdx"}), true,
       "--image reads disk images in the Linux build only; here, mount the image first "
       "(Mount-DiskImage -ImagePath FILE in PowerShell, or double-click the .vhdx), then give "
       "--windows X:\\ for the drive it appears as"},
      {argsOf({"--image="}), false, "--image needs a FILE"},
      {argsOf({"--hive"}), true, "--hive needs a FILE"},
      {argsOf({"--hive="}), true, "--hive needs a FILE"},
      {argsOf({"--windows", ""}), true, "--windows needs a DIR"},
      {argsOf({"--computer"}), true, "--computer needs a NAME"},
      {argsOf({"--json", "--csv"}), true, "--json and --csv cannot be combined"},
      {argsOf({"--xml"}), true, "unknown option '--xml'"},
      {argsOf({"--json=yes"}), true, "unknown option '--json=yes'"},
      {argsOf({"-j"}), true, "unknown option '-j'"},
      {argsOf({"SOFTWARE"}), true,
       "unexpected argument 'SOFTWARE': name each source with --hive FILE, --windows DIR or "
       "--computer NAME (or give files after --)"},
      {argsOf({"SOFTWARE"}), false,
       "unexpected argument 'SOFTWARE': name each source with --hive FILE, --windows DIR or "
       "--image FILE (or give files after --)"},
      {argsOf({"--", ""}), false, "--hive needs a FILE"},
  };
  for (const Case& c : cases) {
    const auto parsed = parseCommandLine(c.args, c.hasRegistry, !c.hasRegistry);
    ASSERT_FALSE(parsed.ok()) << c.message;
    EXPECT_EQ(parsed.error(), c.message);
  }
}

// Each option asks for its own answer, and only that one.
TEST(CommandLine, HelpAndVersionNeedNoSource) {
  const struct {
    const char* flag;
    bool help, version;
  } cases[] = {
      {"--help", true, false},
      {"-h", true, false},
      {"--version", false, true},
  };
  for (const auto& c : cases) {
    const auto parsed = parseCommandLine(argsOf({c.flag}), false, true);
    ASSERT_TRUE(parsed.ok()) << c.flag;
    const Options& options = parsed.value();
    EXPECT_EQ(options.help, c.help) << c.flag;
    EXPECT_EQ(options.version, c.version) << c.flag;
    EXPECT_TRUE(options.sources.empty()) << c.flag;
  }
}

// ---- registry views to records -------------------------------------------

class FakeRegistry : public Registry {
 public:
  bool twoViews = true;
  std::map<View, RegistryRead> reads;
  std::vector<View> asked;

  bool hasTwoViews() override { return twoViews; }
  RegistryRead readProductId(View view) override {
    asked.push_back(view);
    const auto it = reads.find(view);
    return it == reads.end() ? RegistryRead(std::nullopt) : it->second;
  }
};

RegistryRead valueRead(std::vector<std::uint8_t> data, std::uint32_t type = 3) {
  return std::optional<RegistryValue>(RegistryValue{type, std::move(data)});
}

RegistryRead failedRead() {
  return Failure{SourceError::accessDenied, "cannot open it: Access is denied (error 5)"};
}

TEST(ReadRegistry, GivesOneRecordPerViewHoldingTheValue) {
  const auto other = patternedValue(100);
  struct Case {
    const char* what;
    std::map<View, RegistryRead> reads;
    std::vector<std::pair<View, Status>> records;
  };
  const Case cases[] = {
      {"neither view", {}, {{View::none, Status::absent}}},
      {"32-bit view only",
       {{View::bits32, valueRead(realisticValue())}},
       {{View::bits32, Status::found}}},
      {"64-bit view only",
       {{View::bits64, valueRead(realisticValue())}},
       {{View::bits64, Status::found}}},
      {"both views",
       {{View::bits32, valueRead(realisticValue())}, {View::bits64, valueRead(other)}},
       {{View::bits32, Status::found}, {View::bits64, Status::found}}},
      {"a short value and a failure",
       {{View::bits32, valueRead(patternedValue(40))}, {View::bits64, failedRead()}},
       {{View::bits32, Status::invalid}, {View::bits64, Status::error}}},
  };
  for (const Case& c : cases) {
    FakeRegistry registry;
    registry.reads = c.reads;
    const auto records = readRegistry(registry, SourceKind::computer, "EXCH01");
    ASSERT_EQ(records.size(), c.records.size()) << c.what;
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].view, c.records[i].first) << c.what << " #" << i;
      EXPECT_EQ(records[i].status, c.records[i].second) << c.what << " #" << i;
      EXPECT_EQ(records[i].source, SourceKind::computer);
      EXPECT_EQ(records[i].location, "EXCH01");
      EXPECT_FALSE(records[i].hiveState);
    }
  }
  FakeRegistry both;
  both.reads = {{View::bits32, valueRead(realisticValue())}, {View::bits64, valueRead(other)}};
  const auto records = readRegistry(both, SourceKind::registry, "HERE");
  EXPECT_EQ(records[0].key, "M3R7T-JV33T-PWDB4-F9XM2-RYBVD");
  EXPECT_EQ(records[1].key, keyFromValueBytes(other));
  EXPECT_EQ(records[0].productId, "65317-308-1234567-45296");
}

TEST(ReadRegistry, ReadsOnlyTheOneViewOfA32BitWindows) {
  FakeRegistry registry;
  registry.twoViews = false;
  registry.reads = {{View::bits32, valueRead(realisticValue())},
                    {View::bits64, valueRead(realisticValue())}};
  const auto records = readRegistry(registry, SourceKind::registry, "OLD2003");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].view, View::bits32);
  EXPECT_EQ(registry.asked, std::vector<View>{View::bits32});
}

TEST(ReadRegistry, FailedViewCarriesItsErrorAndMessage) {
  FakeRegistry registry;
  registry.reads = {{View::bits64, failedRead()}};
  const auto records = readRegistry(registry, SourceKind::registry, "HERE");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].status, Status::error);
  EXPECT_STREQ(errorCodeName(records[0].errorCode), "access-denied");
  EXPECT_EQ(records[0].errorMessage, "cannot open it: Access is denied (error 5)");
}

// ---- whole runs over registries ------------------------------------------

// Machines by name: what each one's views hold, or none for one that cannot be reached.
class FakeSystem : public System {
 public:
  std::map<std::string, std::map<View, RegistryRead>> machines;
  std::string out, err;

  bool hasRegistry() const override { return true; }
  std::string computerName() override { return "HERE"; }
  tamsket::Result<std::unique_ptr<Registry>, Failure> connectRegistry(
      const Argument* computer) override {
    const auto it = machines.find(computer ? computer->text : "HERE");
    if (it == machines.end()) {
      return Failure{SourceError::cannotConnect,
                     "cannot connect to the registry of " + computer->text};
    }
    auto registry = std::make_unique<FakeRegistry>();
    registry->reads = it->second;
    return std::unique_ptr<Registry>(std::move(registry));
  }
  std::size_t failingWrite = SIZE_MAX;  // this write and the later ones fail
  WriteStatus closeStatus;
  std::size_t writes = 0;

  hive::SoftwareHives findSoftwareHives(const Argument&) override { return {}; }
  hive::Result<hive::Hive> openHive(const Argument&, hive::Logs) override {
    return hive::Error{hive::ErrorCode::cannotOpen, "no files here"};
  }
  WriteStatus writeOut(const std::string& text) override {
    if (++writes >= failingWrite) return std::string("No space left on device");
    out += text;
    return {};
  }
  WriteStatus closeOut() override { return closeStatus; }
  void writeErr(const std::string& text) override { err += text; }
};

std::size_t linesIn(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(Run, ExitsLikeGrepOverEverySource) {
  const std::map<View, RegistryRead> withKey = {{View::bits64, valueRead(realisticValue())}};
  const std::map<View, RegistryRead> shortValue = {{View::bits32, valueRead(patternedValue(9))}};
  const std::map<View, RegistryRead> halfFailed = {{View::bits32, valueRead(realisticValue())},
                                                   {View::bits64, failedRead()}};
  struct Case {
    std::vector<Argument> args;
    int exitCode;
    std::size_t jsonLines;
    std::size_t errorLines;
  };
  const Case cases[] = {
      {argsOf({"--json"}), 0, 1, 0},
      {argsOf({"--json", "--computer", "KEYED", "--computer", "KEYED"}), 0, 2, 0},
      {argsOf({"--json", "--computer", "KEYED", "--computer", "EMPTY"}), 1, 2, 0},
      {argsOf({"--json", "--computer", "SHORT"}), 1, 1, 0},
      {argsOf({"--json", "--computer", "EMPTY", "--computer", "GONE"}), 2, 2, 1},
      {argsOf({"--json", "--computer", "HALF"}), 2, 2, 1},
      {argsOf({"--json", "--computer", "GONE", "--computer", "GONE2"}), 2, 2, 2},
      {argsOf({"--json", "--bogus"}), 2, 0, 2},
      {argsOf({"--help", "--computer", "GONE"}), 0, 0, 0},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    system.machines = {{"HERE", withKey},
                       {"KEYED", withKey},
                       {"EMPTY", {}},
                       {"SHORT", shortValue},
                       {"HALF", halfFailed}};
    std::string shown;
    for (const auto& arg : c.args) shown += arg.text + " ";
    EXPECT_EQ(run(c.args, system), c.exitCode) << shown;
    if (c.args[0].text == "--json") {
      EXPECT_EQ(linesIn(system.out), c.jsonLines) << shown;
    }
    EXPECT_EQ(linesIn(system.err), c.errorLines) << shown << system.err;
  }
}

TEST(Run, TextGivesErrorsOnlyOnStandardErrorNamingTheSource) {
  FakeSystem system;
  system.machines = {{"EXCH01", {{View::bits32, valueRead(realisticValue())}}}};
  EXPECT_EQ(run(argsOf({"--computer", "OLD", "--computer", "EXCH01"}), system), 2);
  EXPECT_EQ(system.err, "tamsket-cli: cannot connect to the registry of OLD\n");
  EXPECT_EQ(system.out,
            "Microsoft Exchange\n"
            "  key         M3R7T-JV33T-PWDB4-F9XM2-RYBVD\n"
            "  product id  65317-308-1234567-45296\n"
            "  where       HKLM\\SOFTWARE\\Microsoft\\Exchange\\Setup (32-bit view) on EXCH01\n"
            "  value       REG_BINARY, 164 bytes\n"
            "  state       found\n");
}

// Each format and --help/--version are run against a full disk end to end;
// here, what only a stand-in can show: writing stops at the first failure,
// and a failure on closing counts too.
TEST(Run, OutputThatCannotBeWrittenIsAnErrorSaidOnce) {
  for (const bool onClose : {false, true}) {
    FakeSystem system;
    system.machines = {{"KEYED", {{View::bits64, valueRead(realisticValue())}}}};
    if (onClose) system.closeStatus = std::string("No space left on device");
    if (!onClose) system.failingWrite = 2;
    EXPECT_EQ(
        run(argsOf({"--computer", "KEYED", "--computer", "KEYED", "--computer", "KEYED"}), system),
        2);
    EXPECT_EQ(system.err, "tamsket-cli: cannot write the output: No space left on device\n");
    EXPECT_EQ(system.writes, onClose ? 3u : 2u);
  }
}

// Paths with \n, \x1b, U+202E and bytes not UTF-8 are run end to end.
TEST(EscapeForTerminal, ShowsWhatATerminalWouldActOnAndKeepsTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Users\\\xD0\x96 \xF0\x9F\x94\x91", "C:\\Users\\\xD0\x96 \xF0\x9F\x94\x91"},
      {std::string("\0\r\t\x7f", 4), "\\x00\\r\\t\\x7f"},
      {"\xC2\x9B \xE2\x80\xA8 \xED\xA0\x80", "\\u009b \\u2028 \\xed\\xa0\\x80"},
  };
  for (const auto& [in, shown] : cases) EXPECT_EQ(text::escapeForTerminal(in), shown) << shown;
}

}  // namespace

// README's table, the man page's list and --help name exactly the codes of the
// program's table: a code added in one place only fails here.
TEST(ErrorCodes, EveryListNamesExactlyTheTablesCodes) {
  const auto readText = [](const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const auto matches = [](const std::string& text, const std::regex& pattern) {
    std::set<std::string> found;
    for (std::sregex_iterator at(text.begin(), text.end(), pattern), end; at != end; ++at) {
      found.insert(std::regex_replace((*at)[1].str(), std::regex(R"(\\-)"), "-"));
    }
    return found;
  };
  std::set<std::string> all, posix, windows;
  for (std::size_t i = 0; i < kErrorCodeCount; ++i) {
    const ErrorCodeInfo& code = kErrorCodes[i];
    const std::string name = nameOf(code);
    EXPECT_TRUE(all.insert(name).second) << "twice: " << name;
    if (code.reach != Reach::registries) posix.insert(name);
    if (code.reach != Reach::images) windows.insert(name);
    EXPECT_EQ(errorCodeName(code.code), name);
  }
  const std::string readme = readText(TAMSKET_SOURCE_DIR "/README.md");
  EXPECT_EQ(matches(readme, std::regex(R"(\n\| `([a-z-]+)` \| [^|]+ \| [^|]+ \|)")), all);
  const std::string page = readText(TAMSKET_SOURCE_DIR "/packaging/tamsket-cli.1");
  const std::string errors = page.substr(page.find(".SH ERRORS"));
  EXPECT_EQ(matches(errors.substr(0, errors.find(".SH", 1)), std::regex(R"(\.TP\n\.B (\S+))")),
            posix);
  const std::regex listed(R"(([a-z]+(?:-[a-z]+)*)(?: \([^)]*\))?[,.])");
  for (const bool hasRegistry : {false, true}) {
    const std::string help = usageText(hasRegistry, !hasRegistry);
    const std::string codes = help.substr(help.find("Error codes: ") + 13);
    EXPECT_EQ(matches(codes.substr(0, codes.find(".\n") + 2), listed),
              hasRegistry ? windows : posix);
  }
}
