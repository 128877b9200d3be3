// The hive reader on the fixture hives (written and checked against hivex and
// libregf by check_fixtures.py, whose output directory TAMSKET_HIVE_FIXTURES
// names), on damaged copies of them, and its name rules on their own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <cstdio>

#include "hive/base_block.h"
#include "hive/hive.h"
#include "hive/little_endian.h"
#include "hive/marvin32.h"
#include "hive/names.h"
#include "text/text.h"
#include "memory_source.h"

namespace {

using hive::ErrorCode;
using hive::Hive;
using Bytes = std::vector<std::uint8_t>;

std::string fixturePath(const std::string& name) {
  const char* dir = std::getenv("TAMSKET_HIVE_FIXTURES");
  return std::string(dir ? dir : "fixtures") + "/" + name;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A copy of a fixture as `dir`/SOFTWARE, in a new folder whose name goes into `dir`.
std::string copyFixture(const char* name, char (&dir)[25]) {
  std::snprintf(dir, sizeof dir, "/tmp/tamsket-hive-XXXXXX");
  if (!mkdtemp(dir)) return "";
  const std::string copy = std::string(dir) + "/SOFTWARE";
  const Bytes bytes = readFile(fixturePath(name));
  std::ofstream(copy, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return copy;
}

std::string utf16le(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::string dataOf(const hive::Value& v) { return std::string(v.data.begin(), v.data.end()); }

// A fixture hive opened from its file; fails the test when it does not open.
Hive openFixture(const std::string& name) {
  auto h = Hive::open(fixturePath(name + ".hive"));
  if (!h) ADD_FAILURE() << name << ": " << h.error().message;
  return std::move(h.value());
}

TEST(HiveNames, UpperCaseCoversAsciiAndLatin1LettersOnly) {
  struct Case {
    char16_t in, out;
  } cases[] = {
      {u'a', u'A'},     {u'z', u'Z'},     {u'A', u'A'},     {u'`', u'`'}, {u'{', u'{'},
      {u'0', u'0'},     {0xE0, 0xC0},     {0xFE, 0xDE},     {0xF7, 0xF7}, {0xFF, 0x178},
      {0xB5, 0x39C},    {0xDF, 0xDF},     {0xC9, 0xC9},     {0xD7, 0xD7}, {0x0430, 0x0430},
      {0x03B1, 0x03B1}, {0x0101, 0x0101}, {0xD83D, 0xD83D},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hive::upcaseUnit(c.in), c.out) << std::hex << static_cast<int>(c.in);
  }
}

TEST(HiveNames, StoredNamesMatchCaseInsensitivelyInBothEncodings) {
  struct Case {
    std::string stored;
    bool compressed;
    std::u16string want;
    bool equal;
  } cases[] = {
      {"Setup", true, u"SETUP", true},
      {"Setup", true, u"Setu", false},
      {"Setup", true, u"Setups", false},
      {"Caf\xE9", true, u"CAF\u00C9", true},
      {"\xFF", true, u"\u0178", true},
      {"Stra\xDF"
       "e",
       true, u"STRASSE", false},
      {utf16le(u"Setup"), false, u"sEtUp", true},
      {utf16le(u"\u041A\u043B\u044E\u0447"), false, u"\u041A\u043B\u044E\u0447", true},
      {utf16le(u"\u041A\u043B\u044E\u0447"), false, u"\u043A\u043B\u044E\u0447", false},
      {utf16le(u"Setup"), false, u"Setupp", false},
      {utf16le(u"Setup") + "x", false, u"Setup", false},  // odd length
      {"", true, u"", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hive::namesEqual(reinterpret_cast<const std::uint8_t*>(c.stored.data()),
                               c.stored.size(), c.compressed, c.want),
              c.equal)
        << c.stored;
  }
}

TEST(HiveNames, HashIsWindowsLhHashOfTheUpperCasedName) {
  EXPECT_EQ(hive::nameHash(u""), 0u);
  EXPECT_EQ(hive::nameHash(u"A"), 65u);
  EXPECT_EQ(hive::nameHash(u"ab"), 65u * 37 + 66);
  EXPECT_EQ(hive::nameHash(u"\u00E9"), 0xC9u);
  // 37^7 overflows 32 bits: the hash wraps.
  EXPECT_EQ(hive::nameHash(u"SOFTWARE"), 0xE9FE1463u);
}

TEST(HiveNames, Utf8PathsDecodeToUtf16AndMalformedOnesAreRefused) {
  struct Case {
    std::string in;
    bool ok;
    std::u16string out;
  } cases[] = {
      {"Setup", true, u"Setup"},
      {"Caf\xC3\xA9", true, u"Caf\u00E9"},
      {"\xE9\x8D\xB5", true, u"\u9375"},
      {"\xF0\x9F\x94\x91", true, u"\U0001F511"},
      {"\xC3", false, u""},              // cut short
      {"\xC0\xAF", false, u""},          // overlong
      {"\xE0\x80\xAF", false, u""},      // overlong
      {"\xED\xA0\x80", false, u""},      // a surrogate
      {"\xF4\x90\x80\x80", false, u""},  // past U+10FFFF
      {"\xA9", false, u""},              // a lone continuation byte
      {"a\xFF", false, u""},
  };
  for (const Case& c : cases) {
    std::u16string out;
    EXPECT_EQ(text::utf8ToUtf16Strict(c.in, &out), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(out, c.out) << c.in;
    }
  }
}

TEST(HiveNames, LfHintsFilterOnAsciiCharactersOnly) {
  const std::uint8_t hint[4] = {'S', 'e', 't', 'u'};
  EXPECT_TRUE(hive::hintFits(hint, u"SETUP"));
  EXPECT_TRUE(hive::hintFits(hint, u"set"));
  EXPECT_FALSE(hive::hintFits(hint, u"Setx"));
  EXPECT_TRUE(hive::hintFits(hint, u"\u00E9etu")) << "non-ASCII is never held against a hint";
}

TEST(HiveLookup, FindsKeysAsWindowsComparesNames) {
  Hive h = openFixture("software");
  struct Case {
    const char* path;
    bool found;
  } cases[] = {
      {"Microsoft\\Exchange\\Setup", true},
      {"MICROSOFT\\exchange\\sEtUp", true},
      {"\\Microsoft\\Exchange\\Setup\\", true},  // empty parts are skipped
      {"Microsoft\\\\Exchange\\Setup", true},
      {"Microsoft\\Exchange\\Setu", false},
      {"Microsoft\\Exchange Server", true},
      {"Microsoft\\ExchangeServer", true},
      {"Microsoft\\Exchange\\Setup\\Extra", false},
      {"Wow6432Node\\Microsoft\\Exchange\\Setup", true},
      {"Microsoft/Exchange/Setup", false},
  };
  for (const Case& c : cases) {
    auto key = h.findKey(c.path);
    EXPECT_EQ(key.ok(), c.found) << c.path << (key ? "" : ": " + key.error().message);
    if (!key) {
      EXPECT_EQ(key.error().code, ErrorCode::keyNotFound) << c.path;
    }
  }
  EXPECT_EQ(h.findKey("").value().cell, h.root().cell);
}

TEST(HiveLookup, NonAsciiNamesInBothEncodings) {
  Hive h = openFixture("names");
  struct Case {
    const char* path;
    const char* value;
    bool found;
  } cases[] = {
      {"CAF\xC3\x89", "Caf\xC3\xA9", true},  // Latin-1 folds
      {"\xC3\xA4\xC3\xB6\xC3\xBC \xC3\x84\xC3\x96\xC3\x9C \xC5\xB8", "Unicode",
       false},  // no folding of accents
      {"\xC3\xA4\xC3\xB6\xC3\xBC \xC3\x84\xC3\x96\xC3\x9C \xC5\xB8",
       "\xC3\xBCN\xC3\x8F"
       "C\xC3\x96"
       "D\xC3\x89",
       true},                    // y-diaeresis to its capital
      {"plain", "PLAIN", true},  // ASCII stored as UTF-16
      {"\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", true},
      {"\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87", "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87",
       false},  // Cyrillic exact
      {"Emoji \xF0\x9F\x94\x91", "Emoji \xF0\x9F\x94\x91", true},
      {"caf\xC3\xA9\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87\\\xE9\x8D\xB5", "here", true},
  };
  for (const Case& c : cases) {
    auto key = h.findKey(c.path);
    bool found = false;
    if (key) found = h.readValue(key.value(), c.value).ok();
    EXPECT_EQ(found, c.found) << c.path << " / " << c.value;
  }
}

// Counts what a lookup reads.
class CountingSource : public OwnedSource {
 public:
  using OwnedSource::OwnedSource;
  hive::ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    ++reads;
    bytes += length;
    return OwnedSource::read(offset, out, length);
  }
  mutable std::size_t reads = 0;
  mutable std::size_t bytes = 0;
};

TEST(HiveLookup, ReadsOnlyTheCellsOnThePath) {
  // 5,200 keys under one ri: a lookup reads the ri, the leaves' entries, and
  // the one key whose hash matches, not the other keys.
  const Bytes file = readFile(fixturePath("ri_lh_5200.hive"));
  ASSERT_GT(file.size(), 500000u);
  auto source = std::make_unique<CountingSource>(file);
  CountingSource* counter = source.get();
  auto h = Hive::fromSource(std::move(source));
  ASSERT_TRUE(h) << h.error().message;
  counter->reads = counter->bytes = 0;
  auto key = h.value().findKey("Classes\\Key05199");
  ASSERT_TRUE(key) << key.error().message;
  auto value = h.value().readValue(key.value(), "Index");
  ASSERT_TRUE(value);
  EXPECT_EQ(value.value().data, (Bytes{0x4F, 0x14, 0, 0}));
  EXPECT_LT(counter->reads, 200u);
  EXPECT_LT(counter->bytes, 5200u * 8 + 4096) << "more than the leaves' entries and a few cells";
}

TEST(HiveLookup, ReadsValuesOfEverySizeClass) {
  Hive h = openFixture("lists_lh_15");
  auto key = h.findKey("Microsoft\\Exchange\\Setup");
  ASSERT_TRUE(key);
  struct Case {
    const char* name;
    std::uint32_t type;
    std::size_t size;
  } cases[] = {
      {"Empty", 3, 0},
      {"Inline2", 3, 2},
      {"Inline4", 3, 4},
      {"Dword", 4, 4},
      {"DigitalProductId", 3, 164},
      {"Big16344", 3, 16344},
      {"Big16345", 3, 16345},
      {"Big40000", 3, 40000},
      {"", 1, 36},
  };
  for (const Case& c : cases) {
    auto v = h.readValue(key.value(), c.name);
    ASSERT_TRUE(v) << c.name << ": " << v.error().message;
    EXPECT_EQ(v.value().type, c.type) << c.name;
    EXPECT_EQ(v.value().data.size(), c.size) << c.name;
  }
  EXPECT_EQ(dataOf(h.readValue(key.value(), "Inline2").value()), "\xAB\xCD");
  EXPECT_EQ(dataOf(h.readValue(key.value(), "dword").value()), "\x78\x56\x34\x12");
  auto missing = h.readValue(key.value(), "NoSuchValue");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ErrorCode::valueNotFound);
  EXPECT_NE(missing.error().message.find("NoSuchValue"), std::string::npos);
}

TEST(HiveFile, ReportsStateVersionAndLogFiles) {
  struct Case {
    const char* name;
    hive::HiveState state;
    std::uint32_t minor;
  } cases[] = {
      {"software", hive::HiveState::clean, 5},    {"software_dirty", hive::HiveState::dirty, 5},
      {"software_13", hive::HiveState::clean, 3}, {"lists_lf_14", hive::HiveState::clean, 4},
      {"lists_lh_16", hive::HiveState::clean, 6},
  };
  for (const Case& c : cases) {
    Hive h = openFixture(c.name);
    EXPECT_EQ(h.state(), c.state) << c.name;
    EXPECT_EQ(h.minorVersion(), c.minor) << c.name;
    EXPECT_FALSE(h.hasLogFiles()) << c.name;
  }
  // A dirty hive is still read.
  Hive dirty = openFixture("software_dirty");
  EXPECT_TRUE(dirty.findKey("Microsoft\\Exchange\\Setup"));

  char dir[25];
  const std::string copy = copyFixture("software_dirty.hive", dir);
  ASSERT_NE(copy, "");
  EXPECT_FALSE(Hive::open(copy).value().hasLogFiles());
  for (const char* log : {".LOG2", ".LOG1"}) {
    std::ofstream(copy + log).put('x');
    EXPECT_TRUE(Hive::open(copy).value().hasLogFiles()) << log;
    std::remove((copy + log).c_str());
  }
  std::remove(copy.c_str());
  rmdir(dir);
}

TEST(HiveFile, AFileThatShrinksOnceOpenIsTruncatedNotAReadError) {
  char dir[25];
  const std::string copy = copyFixture("software.hive", dir);
  ASSERT_NE(copy, "");
  auto h = Hive::open(copy);
  ASSERT_TRUE(h) << h.error().message;
  ASSERT_EQ(truncate(copy.c_str(), 0x1100), 0);  // the root key stays, its subkeys go
  auto key = h.value().findKey("Microsoft\\Exchange\\Setup");
  ASSERT_FALSE(key);
  EXPECT_EQ(key.error().code, ErrorCode::truncated) << key.error().message;
  EXPECT_NE(key.error().message.find("shorter than when it was opened"), std::string::npos)
      << key.error().message;
  std::remove(copy.c_str());
  rmdir(dir);
}

// The flags this process holds `path` open with (from /proc), or -1.
int openFlagsOf(const std::string& path) {
  char real[4096];
  if (!realpath(path.c_str(), real)) return -1;
  for (int fd = 0; fd < 1024; ++fd) {
    char link[4096];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(proc.c_str(), link, sizeof link - 1);
    if (n <= 0) continue;
    link[n] = 0;
    if (std::string(link) != real) continue;
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
    std::string word;
    while (info >> word) {
      if (word == "flags:") {
        info >> word;
        return static_cast<int>(std::stol(word, nullptr, 8));
      }
    }
  }
  return -1;
}

TEST(HiveFile, OpensReadOnlyAndLeavesTheFileAsItWas) {
  const std::string path = fixturePath("software.hive");
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  const Bytes bytes = readFile(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  {
    auto h = Hive::open(path);
    ASSERT_TRUE(h) << h.error().message;
    auto key = h.value().findKey("Microsoft\\Exchange\\Setup");
    ASSERT_TRUE(key);
    EXPECT_TRUE(h.value().readValue(key.value(), "DigitalProductId"));
    EXPECT_EQ(openFlagsOf(path) & O_ACCMODE, O_RDONLY);
  }
  chmod(path.c_str(), before.st_mode & 07777);
  struct stat after;
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(readFile(path), bytes);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST(HiveFile, CannotOpenGivesTheSystemsReason) {
  struct Case {
    std::string path;
    const char* reason;
  } cases[] = {
      {fixturePath("no-such-file.hive"), "No such file or directory"},
      {fixturePath(""), "Is a directory"},
      {fixturePath("software.hive/x"), "Not a directory"},
  };
  for (const Case& c : cases) {
    auto h = Hive::open(c.path);
    ASSERT_FALSE(h) << c.path;
    EXPECT_EQ(h.error().code, ErrorCode::cannotOpen) << c.path;
    EXPECT_NE(h.error().message.find(c.reason), std::string::npos) << h.error().message;
    EXPECT_NE(h.error().message.find(c.path), std::string::npos) << h.error().message;
    EXPECT_STREQ(hive::errorCodeName(h.error().code), "cannot-open");
  }
}

TEST(HiveFile, ErrorCodeNamesAreStable) {
  const std::pair<ErrorCode, const char*> names[] = {
      {ErrorCode::cannotOpen, "cannot-open"},
      {ErrorCode::notAFile, "not-a-file"},
      {ErrorCode::inUse, "in-use"},
      {ErrorCode::notARegistryFile, "not-a-registry-file"},
      {ErrorCode::truncated, "truncated"},
      {ErrorCode::readError, "read-error"},
      {ErrorCode::unsupportedVersion, "unsupported-version"},
      {ErrorCode::corrupt, "corrupt"},
      {ErrorCode::keyNotFound, "key-not-found"},
      {ErrorCode::valueNotFound, "value-not-found"},
  };
  for (const auto& [code, name] : names) EXPECT_STREQ(hive::errorCodeName(code), name);
}

// A log that counts the bytes read from it.
class CountingLog : public hive::ByteSource {
 public:
  explicit CountingLog(Bytes bytes, std::uint64_t& read) : bytes_(std::move(bytes)), read_(read) {}
  std::uint64_t size() const override { return bytes_.size(); }
  hive::ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) {
      return hive::ReadStatus::pastEnd();
    }
    std::memcpy(out, bytes_.data() + offset, length);
    read_ += length;
    return {};
  }

 private:
  Bytes bytes_;
  std::uint64_t& read_;
};

// An entry is read and hashed once, and what is applied is what was hashed:
// the log is read no more than once over (its entry's 40-byte header twice).
TEST(HiveLogs, EachLoggedByteIsReadOnce) {
  const Bytes primary = readFile(fixturePath("software_dirty.hive"));  // sequence numbers 2, 1
  ASSERT_GE(primary.size(), 8192u);
  Bytes log(primary.begin(), primary.begin() + 512);
  hive::putLe32(log.data() + hive::base_field::kFileType, hive::kNewFormatLog);
  hive::putLe32(log.data() + hive::base_field::kSecondarySequence, 2);
  hive::storeBaseBlockChecksum(log.data());
  // One entry, numbered 2, logging the first page of the hive bins as it is.
  Bytes entry(40 + 8 + 4096 + 464);
  std::memcpy(entry.data(), "HvLE", 4);
  const std::uint32_t fields[] = {static_cast<std::uint32_t>(entry.size()), 0, 2,
                                  hive::le32(primary.data() + 40), 1};
  for (int i = 0; i < 5; ++i) hive::putLe32(entry.data() + 4 + 4 * i, fields[i]);
  hive::putLe32(entry.data() + 44, 4096);
  std::memcpy(entry.data() + 48, primary.data() + 4096, 4096);
  const auto putHash = [&](std::size_t at, std::uint64_t hash) {
    for (int b = 0; b < 8; ++b) entry[at + b] = static_cast<std::uint8_t>(hash >> (8 * b));
  };
  putHash(24, hive::marvin32(hive::kLogEntrySeed, entry.data() + 40, entry.size() - 40));
  putHash(32, hive::marvin32(hive::kLogEntrySeed, entry.data(), 32));
  log.insert(log.end(), entry.begin(), entry.end());
  std::uint64_t read = 0;
  std::vector<hive::LogFile> logs;
  logs.push_back({"SOFTWARE.LOG1", std::make_unique<CountingLog>(log, read), ""});
  auto h = Hive::fromSource(std::make_unique<OwnedSource>(primary), std::move(logs));
  ASSERT_TRUE(h) << h.error().message;
  EXPECT_EQ(h.value().state(), hive::HiveState::recovered) << h.value().logReport();
  EXPECT_EQ(read, log.size() + 40);
}

TEST(Marvin32, GivesThePublishedValues) {
  // SymCrypt's self-test (lib/marvin32.c: its default seed over "abc"), and the
  // .NET runtime's MarvinTests.cs (TestDataAndExpectedHashes): 0 to 7 bytes, so
  // every length of the tail after the last whole word.
  constexpr std::uint64_t kSeed1 = 0x4FB61A001BDBCC, kSeed3 = 0x804FB61A801BDBCC;
  struct Case {
    std::uint64_t seed;
    std::vector<std::uint8_t> data;
    std::uint64_t hash;
  } cases[] = {
      {0xD53CD9CECD0893B7, {'a', 'b', 'c'}, 0x22C74339492769BF},
      {kSeed1, {}, 0x30ED35C100CD3C7D},
      {kSeed1, {0xaf}, 0x48E73FC77D75DDC1},
      {kSeed1, {0xe7, 0x0f}, 0xB5F6E1FC485DBFF8},
      {kSeed1, {0x37, 0xf4, 0x95}, 0xF0B07C789B8CF7E8},
      {kSeed1, {0x86, 0x42, 0xdc, 0x59}, 0x7008F2E87E9CF556},
      {kSeed1, {0x15, 0x3f, 0xb7, 0x98, 0x26}, 0xE6C08C6DA2AFA997},
      {kSeed1, {0x09, 0x32, 0xe6, 0x24, 0x6c, 0x47}, 0x6F04BF1A5EA24060},
      {kSeed1, {0xab, 0x42, 0x7e, 0xa8, 0xd1, 0x0f, 0xc7}, 0xE11847E4F0678C41},
      {kSeed3, {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF}, 0xFDFD187B1D3CE784},
      // The log entries' seed, worked out by a throwaway script that printed each
      // state word (s0 the low one, seeded 0x7A4E55C5; s1 = 0x82EF4D88):
      //   empty:    s0 += 0x00000080 -> 7A4E5645; mix -> B1B72148 DA18F67A;
      //             mix -> 03966E08 B39EFCA4
      //   01 02 03: s0 += 0x80030201 -> FA5157C6; mix -> A8C2918D 1C9448C9;
      //             mix -> CEED7730 602B041F
      {hive::kLogEntrySeed, {}, 0xB39EFCA403966E08},
      {hive::kLogEntrySeed, {0x01, 0x02, 0x03}, 0x602B041FCEED7730},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hive::marvin32(c.seed, c.data.data(), c.data.size()), c.hash)
        << std::hex << c.seed << " over " << c.data.size() << " bytes";
  }
}

}  // namespace
