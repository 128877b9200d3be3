// Targeted damage to a small hive, each kind of it giving its own error.
//
// corruption_base (see fixtures.py) is Root -lh-> A -li-> B -lf-> C -ri-> D, E,
// with D holding an inline, an ordinary and a big-data value; make_hive's
// .cells file says where each cell is. Every row damages a copy and walks the
// whole tree; the first error must be the one the row names.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hive/hive.h"
#include "memory_source.h"

namespace {

using hive::ErrorCode;
using hive::Hive;
using Bytes = std::vector<std::uint8_t>;
using Cells = std::map<std::string, std::uint32_t>;

std::string fixturePath(const std::string& name) {
  const char* dir = std::getenv("TAMSKET_HIVE_FIXTURES");
  return std::string(dir ? dir : "fixtures") + "/" + name;
}

struct Base {
  Bytes bytes;
  Cells cells;
};

const Base& base() {
  static const Base b = [] {
    Base out;
    std::ifstream in(fixturePath("corruption_base.hive"), std::ios::binary);
    out.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::ifstream cells(fixturePath("corruption_base.cells"));
    std::string line;
    while (std::getline(cells, line)) {
      const auto tab = line.find('\t');
      out.cells[line.substr(0, tab)] = static_cast<std::uint32_t>(std::stoul(line.substr(tab + 1)));
    }
    return out;
  }();
  return b;
}

// File offset of a cell (its size field) and of a field of its payload.
std::uint32_t at(const std::string& label) { return 0x1000 + base().cells.at(label); }
std::uint32_t field(const std::string& label, std::uint32_t offset) {
  return at(label) + 4 + offset;
}

void put16(Bytes& b, std::uint32_t pos, std::uint16_t v) {
  b.at(pos) = v & 0xFF;
  b.at(pos + 1) = v >> 8;
}
void put32(Bytes& b, std::uint32_t pos, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(pos + i) = (v >> (8 * i)) & 0xFF;
}
std::uint32_t get32(const Bytes& b, std::uint32_t pos) {
  return b.at(pos) | b.at(pos + 1) << 8 | b.at(pos + 2) << 16 | std::uint32_t{b.at(pos + 3)} << 24;
}

// The start of the bin holding file offset `pos`: the nearest "hbin" page before it.
std::uint32_t binOf(const Bytes& b, std::uint32_t pos) {
  for (std::uint32_t page = pos & ~0xFFFu; page >= 0x1000; page -= 0x1000) {
    if (b[page] == 'h' && b[page + 1] == 'b' && b[page + 2] == 'i' && b[page + 3] == 'n') {
      return page;
    }
  }
  return 0;
}

std::string hex(std::uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

// Fails every read that covers the byte at `failAt`, as a disk does at a bad sector.
class FailingSource : public OwnedSource {
 public:
  FailingSource(Bytes bytes, std::uint64_t failAt)
      : OwnedSource(std::move(bytes)), failAt_(failAt) {}
  hive::ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset <= failAt_ && failAt_ - offset < length) {
      return hive::ReadStatus::failed(std::strerror(EIO));
    }
    return OwnedSource::read(offset, out, length);
  }

 private:
  std::uint64_t failAt_;
};

// Opens the source and does every lookup the base hive answers; the first error.
std::optional<hive::Error> firstError(std::unique_ptr<hive::ByteSource> source) {
  auto h = Hive::fromSource(std::move(source));
  if (!h) return h.error();
  for (const char* path : {"A\\B\\C\\D", "A\\B\\C\\E"}) {
    auto key = h.value().findKey(path);
    if (!key) return key.error();
    for (const char* name : {"Inline", "Ordinary", "Big"}) {
      auto value = h.value().readValue(key.value(), name);
      if (!value && value.error().code != ErrorCode::valueNotFound) return value.error();
    }
  }
  return std::nullopt;
}
std::optional<hive::Error> firstError(Bytes bytes) {
  return firstError(std::make_unique<OwnedSource>(std::move(bytes)));
}

TEST(HiveCorruption, TheUndamagedBaseReadsWhole) {
  ASSERT_GT(base().bytes.size(), 0x3000u) << "fixture missing: run check_fixtures.py first";
  EXPECT_FALSE(firstError(base().bytes));
  auto h = Hive::fromSource(std::make_unique<OwnedSource>(base().bytes));
  ASSERT_TRUE(h);
  auto d = h.value().findKey("A\\B\\C\\D");
  ASSERT_TRUE(d);
  const Bytes big = h.value().readValue(d.value(), "Big").value().data;
  ASSERT_EQ(big.size(), 16445u);
  // fixtures.pattern(16445): byte i = (7 i + 13 (i >> 8)) mod 256, across both segments.
  for (std::size_t i :
       {std::size_t{0}, std::size_t{16343}, std::size_t{16344}, std::size_t{16444}}) {
    EXPECT_EQ(big[i], static_cast<std::uint8_t>(i * 7 + (i >> 8) * 13)) << i;
  }
}

struct Damage {
  const char* what;
  std::function<void(Bytes&)> apply;
  ErrorCode code;
  std::string message;  // a part of the message
  std::string where;    // the offset the message must name, as "0x…"; "" for none
};

TEST(HiveCorruption, EachDamageGivesItsOwnError) {
  ASSERT_GT(base().bytes.size(), 0x3000u) << "fixture missing: run check_fixtures.py first";
  const std::uint32_t binE = binOf(base().bytes, at("nk:A\\B\\C\\E"));
  ASSERT_GT(binE, 0x1000u);
  const std::uint32_t bins = get32(base().bytes, 40);
  const Damage table[] = {
      // Base block
      {"signature", [](Bytes& b) { b[0] = 'R'; }, ErrorCode::notARegistryFile, "\"regf\"", ""},
      {"a log file's type", [](Bytes& b) { put32(b, 28, 6); }, ErrorCode::notARegistryFile,
       "file type is 6", ""},
      {"version 1.2", [](Bytes& b) { put32(b, 24, 2); }, ErrorCode::unsupportedVersion, "1.2", ""},
      {"version 1.7", [](Bytes& b) { put32(b, 24, 7); }, ErrorCode::unsupportedVersion, "1.7", ""},
      {"major version 2", [](Bytes& b) { put32(b, 20, 2); }, ErrorCode::unsupportedVersion, "2.5",
       ""},
      {"bins size not whole pages", [](Bytes& b) { put32(b, 40, 0x1234); }, ErrorCode::corrupt,
       "hive bins' size 0x1234", ""},
      {"bins size 0", [](Bytes& b) { put32(b, 40, 0); }, ErrorCode::corrupt, "hive bins' size 0x0",
       ""},
      {"bins past the end of the file", [&](Bytes& b) { put32(b, 40, bins + 0x1000); },
       ErrorCode::truncated, "declares hive bins up to offset", hex(0x2000 + bins)},
      {"root past the bins", [](Bytes& b) { put32(b, 36, 0x100000); }, ErrorCode::corrupt,
       "past the end of the hive bins", "0x101000"},
      {"root unaligned", [](Bytes& b) { put32(b, 36, 0x24); }, ErrorCode::corrupt,
       "not a multiple of 8", "0x1024"},
      {"root is the security cell", [](Bytes& b) { put32(b, 36, base().cells.at("sk")); },
       ErrorCode::corrupt, "corrupt root key", hex(at("sk"))},
      {"first bin's header", [](Bytes& b) { b[0x1000] = 'x'; }, ErrorCode::corrupt,
       "first hive bin", "0x1000"},
      // Bins
      {"bin offset mismatch", [&](Bytes& b) { put32(b, binE + 4, binE - 0x1000 + 0x1000); },
       ErrorCode::corrupt, "its offset field is " + hex(binE), hex(binE)},
      {"bin size not whole pages", [&](Bytes& b) { put32(b, binE + 8, 0x1100); },
       ErrorCode::corrupt, "hive bin at offset " + hex(binE) + ": its size 0x1100", ""},
      {"bin past the hive bins", [&](Bytes& b) { put32(b, binE + 8, 0x100000); },
       ErrorCode::corrupt, "runs past the end of the hive bins", hex(binE)},
      {"bin signature gone", [&](Bytes& b) { b[binE] = 'x'; }, ErrorCode::corrupt,
       "lies in no valid hive bin", ""},
      {"cell inside a bin header",
       [&](Bytes& b) { put32(b, field("nk:A", 28), binE - 0x1000 + 8); }, ErrorCode::corrupt,
       "inside the header of the hive bin at " + hex(binE), hex(binE + 8)},
      // Cell sizes
      {"cell size 0", [](Bytes& b) { put32(b, at("nk:A\\B"), 0); }, ErrorCode::corrupt, "size is 0",
       hex(at("nk:A\\B"))},
      {"cell size positive (free)", [](Bytes& b) { put32(b, at("nk:A\\B"), 88); },
       ErrorCode::corrupt, "marked free", hex(at("nk:A\\B"))},
      {"cell size unaligned",
       [](Bytes& b) { put32(b, at("nk:A\\B"), static_cast<std::uint32_t>(-84)); },
       ErrorCode::corrupt, "not a multiple of 8", hex(at("nk:A\\B"))},
      {"cell size huge", [](Bytes& b) { put32(b, at("nk:A\\B"), 0x80000008); }, ErrorCode::corrupt,
       "crosses the end of its hive bin", hex(at("nk:A\\B"))},
      {"cell crosses its bin",
       [](Bytes& b) { put32(b, at("nk:A\\B"), static_cast<std::uint32_t>(-0x1000)); },
       ErrorCode::corrupt, "crosses the end of its hive bin at 0x2000", hex(at("nk:A\\B"))},
      // Offsets
      {"subkey list past the end", [](Bytes& b) { put32(b, field("nk:A", 28), 0x7FFFFFF8); },
       ErrorCode::corrupt, "past the end of the hive bins", "0x80000FF8"},
      {"subkey list unaligned",
       [](Bytes& b) { put32(b, field("nk:A", 28), base().cells.at("list:A") + 4); },
       ErrorCode::corrupt, "not a multiple of 8", hex(at("list:A") + 4)},
      {"subkey list missing", [](Bytes& b) { put32(b, field("nk:A", 28), 0xFFFFFFFF); },
       ErrorCode::corrupt, "a needed cell is missing", ""},
      // Subkey lists
      {"ri pointing to an ri",
       [](Bytes& b) {
         b[field("leaf:A\\B\\C:0", 0)] = 'r';
         b[field("leaf:A\\B\\C:0", 1)] = 'i';
       },
       ErrorCode::corrupt, "points to another index root", hex(at("leaf:A\\B\\C:0"))},
      {"ri listing itself",
       [](Bytes& b) { put32(b, field("list:A\\B\\C", 4), base().cells.at("list:A\\B\\C")); },
       ErrorCode::corrupt, "index root lists itself", hex(at("list:A\\B\\C"))},
      {"ri listing a leaf twice",
       [](Bytes& b) { put32(b, field("list:A\\B\\C", 8), base().cells.at("leaf:A\\B\\C:0")); },
       ErrorCode::corrupt, "twice", hex(at("list:A\\B\\C"))},
      {"leaf listing itself",
       [](Bytes& b) { put32(b, field("list:A", 4), base().cells.at("list:A")); },
       ErrorCode::corrupt, "lists itself", hex(at("list:A"))},
      {"li count larger than its cell", [](Bytes& b) { put16(b, field("list:A", 2), 1000); },
       ErrorCode::corrupt, "1000 entries do not fit", hex(at("list:A"))},
      {"lh count larger than its cell", [](Bytes& b) { put16(b, field("list:", 2), 2); },
       ErrorCode::corrupt, "2 entries do not fit", hex(at("list:"))},
      {"ri count larger than its cell",
       [](Bytes& b) { put16(b, field("list:A\\B\\C", 2), 0xFFFF); }, ErrorCode::corrupt,
       "65535 entries do not fit", hex(at("list:A\\B\\C"))},
      {"unknown list signature", [](Bytes& b) { b[field("list:A\\B", 0)] = 'x'; },
       ErrorCode::corrupt, "unknown list signature", hex(at("list:A\\B"))},
      {"list entry not a key",
       [](Bytes& b) { put32(b, field("list:A\\B", 4), base().cells.at("sk")); }, ErrorCode::corrupt,
       "too small for a key node", hex(at("sk"))},
      // Keys
      {"key signature", [](Bytes& b) { b[field("nk:A\\B\\C", 0)] = 'm'; }, ErrorCode::corrupt,
       "not a key node", hex(at("nk:A\\B\\C"))},
      {"key name longer than its cell", [](Bytes& b) { put16(b, field("nk:A\\B", 72), 0xFFFF); },
       ErrorCode::corrupt, "name of 65535 bytes is longer than its cell", hex(at("nk:A\\B"))},
      {"key name 1 byte longer than its cell", [](Bytes& b) { put16(b, field("nk:A\\B", 72), 9); },
       ErrorCode::corrupt, "name of 9 bytes is longer than its cell", hex(at("nk:A\\B"))},
      // Values
      {"value count larger than its list",
       [](Bytes& b) { put32(b, field("nk:A\\B\\C\\D", 36), 100000); }, ErrorCode::corrupt,
       "100000 values do not fit", hex(at("values:A\\B\\C\\D"))},
      {"value signature", [](Bytes& b) { b[field("vk:A\\B\\C\\D:Inline", 1)] = 'x'; },
       ErrorCode::corrupt, "not a value", hex(at("vk:A\\B\\C\\D:Inline"))},
      {"value name longer than its cell",
       [](Bytes& b) { put16(b, field("vk:A\\B\\C\\D:Ordinary", 2), 5000); }, ErrorCode::corrupt,
       "name of 5000 bytes is longer than its cell", hex(at("vk:A\\B\\C\\D:Ordinary"))},
      {"inline data over 4 bytes",
       [](Bytes& b) { put32(b, field("vk:A\\B\\C\\D:Inline", 4), 0x80000005); }, ErrorCode::corrupt,
       "claims 5 bytes", hex(at("vk:A\\B\\C\\D:Inline"))},
      {"data larger than its cell",
       [](Bytes& b) { put32(b, field("vk:A\\B\\C\\D:Ordinary", 4), 5000); }, ErrorCode::corrupt,
       "5000 bytes do not fit in its cell of 100 bytes", hex(at("data:A\\B\\C\\D:Ordinary"))},
      {"big data in a small cell that is no db",
       [](Bytes& b) {
         put32(b, field("vk:A\\B\\C\\D:Big", 8), base().cells.at("data:A\\B\\C\\D:Ordinary"));
       },
       ErrorCode::corrupt, "16445 bytes do not fit", hex(at("data:A\\B\\C\\D:Ordinary"))},
      {"db with an absurd segment count",
       [](Bytes& b) { put16(b, field("data:A\\B\\C\\D:Big", 2), 0xFFFF); }, ErrorCode::corrupt,
       "65535 segments for 16445 bytes (2 expected)", hex(at("data:A\\B\\C\\D:Big"))},
      {"db with no segments", [](Bytes& b) { put16(b, field("data:A\\B\\C\\D:Big", 2), 0); },
       ErrorCode::corrupt, "0 segments for 16445 bytes", hex(at("data:A\\B\\C\\D:Big"))},
      {"db segment list past the end",
       [](Bytes& b) { put32(b, field("data:A\\B\\C\\D:Big", 4), 0x10000000); }, ErrorCode::corrupt,
       "big data segment list", "0x10001000"},
      {"db segment in a cell too small",
       [](Bytes& b) {
         put32(b, field("segments:A\\B\\C\\D:Big", 0), base().cells.at("data:A\\B\\C\\D:Ordinary"));
       },
       ErrorCode::corrupt, "16344 bytes do not fit", hex(at("data:A\\B\\C\\D:Ordinary"))},
      {"db segment unaligned",
       [](Bytes& b) {
         put32(b, field("segments:A\\B\\C\\D:Big", 4),
               base().cells.at("segment:A\\B\\C\\D:Big:1") + 1);
       },
       ErrorCode::corrupt, "corrupt big data segment", hex(at("segment:A\\B\\C\\D:Big:1") + 1)},
  };
  for (const Damage& d : table) {
    Bytes bytes = base().bytes;
    d.apply(bytes);
    const auto error = firstError(bytes);
    ASSERT_TRUE(error) << d.what << ": no error";
    EXPECT_EQ(error->code, d.code) << d.what << ": " << error->message;
    EXPECT_NE(error->message.find(d.message), std::string::npos)
        << d.what << ": " << error->message;
    if (!d.where.empty()) {
      EXPECT_NE(error->message.find("offset " + d.where), std::string::npos)
          << d.what << ": " << error->message;
    }
  }
}

TEST(HiveCorruption, TruncationAtEvery512BytesIsReportedAsSuch) {
  const Bytes& whole = base().bytes;
  ASSERT_EQ(whole.size() % 512, 0u);
  for (std::size_t cut = 0; cut < whole.size(); cut += 512) {
    const auto error = firstError(Bytes(whole.begin(), whole.begin() + cut));
    ASSERT_TRUE(error) << cut;
    EXPECT_EQ(error->code, cut == 0 ? ErrorCode::notARegistryFile : ErrorCode::truncated)
        << cut << ": " << error->message;
  }
}

TEST(HiveCorruption, AFailingReadIsAReadErrorNamingTheRead) {
  ASSERT_GT(base().bytes.size(), 0x3000u) << "fixture missing: run check_fixtures.py first";
  struct Case {
    const char* what;
    std::uint32_t failAt;
    std::uint32_t readAt;  // where the read that covers it starts
    std::size_t length;
  } cases[] = {
      {"base block's checksum", 508, 0, 4096},
      {"first bin's offset field", 0x1004, 0x1000, 8},
      {"a key's cell size", at("nk:A\\B") + 2, at("nk:A\\B"), 4},
      {"a key node's name length", field("nk:A\\B", 72), field("nk:A\\B", 0), 76},
      {"a key's name", field("nk:A\\B", 76), field("nk:A\\B", 76), 1},
      {"an lh list's entries", field("list:", 4), field("list:", 4), 8},
      {"a value record's type", field("vk:A\\B\\C\\D:Ordinary", 12),
       field("vk:A\\B\\C\\D:Ordinary", 0), 20},
      {"the last big data segment", field("segment:A\\B\\C\\D:Big:1", 100),
       field("segment:A\\B\\C\\D:Big:1", 0), 16445 - 16344},
  };
  for (const Case& c : cases) {
    const auto error = firstError(std::make_unique<FailingSource>(base().bytes, c.failAt));
    ASSERT_TRUE(error) << c.what << ": no error";
    EXPECT_EQ(error->code, ErrorCode::readError) << c.what << ": " << error->message;
    EXPECT_EQ(error->message, "cannot read " + std::to_string(c.length) + " bytes at offset " +
                                  hex(c.readAt) + ": " + std::strerror(EIO))
        << c.what;
  }
}

TEST(HiveCorruption, WrongChecksumOrSequenceMakesTheHiveDirtyButReadable) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> apply;
  } cases[] = {
      {"checksum off by one bit", [](Bytes& b) { b[508] ^= 1; }},
      {"a field under the checksum changed", [](Bytes& b) { b[44] ^= 2; }},
      {"secondary sequence number behind", [](Bytes& b) { put32(b, 8, get32(b, 4) - 1); }},
  };
  for (const Case& c : cases) {
    Bytes bytes = base().bytes;
    c.apply(bytes);
    auto h = Hive::fromSource(std::make_unique<OwnedSource>(bytes));
    ASSERT_TRUE(h) << c.what << ": " << h.error().message;
    EXPECT_EQ(h.value().state(), hive::HiveState::dirty) << c.what;
    EXPECT_FALSE(firstError(bytes)) << c.what;
  }
  auto clean = Hive::fromSource(std::make_unique<OwnedSource>(base().bytes));
  EXPECT_EQ(clean.value().state(), hive::HiveState::clean);
}

TEST(HiveCorruption, ALookupPastTheDamageStillWorks) {
  // Damage under E does not stop a lookup of D, which never reads it.
  Bytes bytes = base().bytes;
  put32(bytes, at("nk:A\\B\\C\\E"), 0);
  auto h = Hive::fromSource(std::make_unique<OwnedSource>(bytes));
  ASSERT_TRUE(h);
  auto d = h.value().findKey("A\\B\\C\\D");
  ASSERT_TRUE(d) << d.error().message;
  EXPECT_TRUE(h.value().readValue(d.value(), "Big"));
  auto e = h.value().findKey("A\\B\\C\\E");
  ASSERT_FALSE(e);
  EXPECT_EQ(e.error().code, ErrorCode::corrupt);
}

}  // namespace
