#include "hive/hive.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "hive/base_block.h"
#include "hive/big_data.h"
#include "hive/file_source.h"
#include "hive/folder.h"
#include "hive/hive_bin.h"
#include "hive/key_node.h"
#include "hive/little_endian.h"
#include "hive/names.h"
#include "hive/subkey_list.h"
#include "hive/transaction_log.h"
#include "hive/value_key.h"
#include "text/text.h"

// Layout of a hive file, as read here:
//   0x0000  base block (4096 bytes): "regf", sequence numbers, version, root
//           cell offset, size of the hive bins, XOR checksum at 508
//   0x1000  hive bins: "hbin" headers of 32 bytes, each bin a multiple of
//           4096 bytes, filled with cells
// A cell is a 4-byte size (negative when in use, a multiple of 8, including
// itself) and its payload; cells are addressed by their offset from 0x1000.
// Each record a lookup passes through (nk, the subkey lists, vk, db) is read
// once, into the struct named after it below, and checked as it is read.
// Offsets in error messages are file offsets, as a hex editor shows them.

namespace hive {

namespace {

// How far back from a cell the start of its bin is searched for: bins larger
// than this are not read (Windows splits large data into big-data segments).
constexpr std::uint64_t kMaxBinPages = 16384;  // 64 MiB

std::string hex(std::uint64_t v) { return text::hexText(v); }

Error corruptAt(const char* what, std::uint64_t fileOffset, const std::string& why) {
  return Error{ErrorCode::corrupt,
               std::string("corrupt ") + what + " at offset " + hex(fileOffset) + ": " + why};
}

std::string bytes(std::uint64_t n) { return std::to_string(n) + " bytes"; }

const std::string notWholePages =
    "not a whole number of " + std::to_string(kPageSize) + "-byte pages";

// Where a cell's payload lies in the file, and how many bytes it holds.
struct Cell {
  std::uint64_t pos = 0;
  std::uint32_t size = 0;
  std::uint64_t at() const { return pos - 4; }  // the cell itself, for messages
};

struct Bin {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// A key's or a value's name where its record keeps it: Latin-1 bytes when
// `compressed`, else UTF-16LE.
struct StoredName {
  std::uint64_t pos = 0;
  std::uint16_t length = 0;  // in bytes
  bool compressed = false;
};

// A key node (nk): the parts a lookup uses.
struct KeyNode {
  std::uint32_t cell = 0;
  std::uint64_t at = 0;
  std::uint32_t subkeyCount = 0;
  std::uint32_t subkeyList = 0;
  std::uint32_t valueCount = 0;
  std::uint32_t valueList = 0;
  StoredName name;
};

// A subkey list as read: where it is, its two signature letters ("ri", "li",
// "lf" or "lh") and its entries, 4 bytes each for ri and li, 8 for lf and lh.
struct SubkeyList {
  std::uint32_t offset = 0;
  Cell cell;
  char kind[2] = {};
  std::uint32_t count = 0;
  std::size_t entrySize = 0;
  std::vector<std::uint8_t> entries;
  bool isIndexRoot() const { return kind[0] == 'r'; }
  std::uint32_t entryCell(std::uint32_t i) const { return le32(entries.data() + i * entrySize); }
  const std::uint8_t* entryTag(std::uint32_t i) const {  // lf: a hint; lh: a hash
    return entries.data() + i * entrySize + list_field::kEntryTag;
  }
};

// A value record (vk). Its data is kept in one of three ways: up to 4 bytes in
// the data offset field itself (`inlineData`), in the one cell that field
// names, or as big data (a db record) when the cell is smaller than the data.
struct ValueRecord {
  std::uint64_t at = 0;
  StoredName name;
  std::uint32_t type = 0;
  std::uint32_t dataSize = 0;  // without the inline flag
  bool inlineData = false;
  std::uint32_t dataOffset = 0;  // the inline bytes themselves when `inlineData`
};

// A big-data record (db): the data lies in `segmentCount` cells of 16,344
// bytes (the last one shorter), listed in the cell `segmentList`.
struct BigDataRecord {
  std::uint64_t at = 0;
  std::uint32_t segmentCount = 0;
  std::uint32_t segmentList = 0;
};

// What one pass over a leaf found; `passedOver`: entries whose hash or hint
// did not fit were left for the second pass.
struct LeafMatch {
  std::optional<KeyNode> key;
  bool passedOver = false;
};

}  // namespace

struct Hive::Impl {
  std::unique_ptr<ByteSource> source;
  std::uint64_t binsEnd = 0;
  std::uint32_t binsSize = 0;
  std::uint32_t rootCell = 0;
  std::uint32_t minor = 0;
  std::u16string embeddedName;
  HiveState state = HiveState::clean;
  bool logFiles = false;
  std::string logReport;
  // The last bins found: the cells of one lookup mostly share a few bins.
  mutable Bin recentBins[8];
  mutable unsigned nextBin = 0;

  std::optional<Error> readAt(std::uint64_t pos, void* out, std::size_t length) const;
  Result<Bin> findBin(std::uint64_t at, const char* what) const;
  Result<Cell> cell(std::uint32_t offset, const char* what) const;
  Result<bool> nameIs(const StoredName& stored, const std::u16string& want) const;
  Result<KeyNode> keyNode(std::uint32_t offset, const char* what) const;
  Result<SubkeyList> subkeyList(std::uint32_t offset) const;
  Result<std::vector<std::uint32_t>> leavesOf(const SubkeyList& indexRoot) const;
  Result<LeafMatch> searchLeaf(const SubkeyList& leaf, const std::u16string& name,
                               std::uint32_t hash, bool filtered) const;
  Result<std::optional<KeyNode>> findSubkey(const KeyNode& parent,
                                            const std::u16string& name) const;
  Result<ValueRecord> valueRecord(std::uint32_t offset) const;
  Result<Value> valueData(const ValueRecord& vk) const;
  Result<Value> inlineValue(const ValueRecord& vk) const;
  Result<Value> cellValue(const ValueRecord& vk, const Cell& data) const;
  Result<BigDataRecord> bigDataRecord(const ValueRecord& vk, const Cell& data) const;
  Result<Value> bigDataValue(const ValueRecord& vk, const BigDataRecord& db) const;
};

// A read that does not fill its buffer is the file having shrunk since it
// was opened (`truncated`), or the system failing it (`readError`).
std::optional<Error> Hive::Impl::readAt(std::uint64_t pos, void* out, std::size_t length) const {
  const ReadStatus status = source->read(pos, out, length);
  if (status.outcome == ReadStatus::Outcome::complete) return std::nullopt;
  const std::string what = "cannot read " + bytes(length) + " at offset " + hex(pos) + ": ";
  if (status.outcome == ReadStatus::Outcome::pastEnd) {
    return Error{ErrorCode::truncated, what + "the file is shorter than when it was opened"};
  }
  return Error{ErrorCode::readError, what + status.reason};
}

// Bins start at 4 KiB boundaries: the bin holding `at` is the nearest valid
// "hbin" header at or before it. A header counts only when its offset field
// names its own position and its size is whole pages within the hive bins.
Result<Bin> Hive::Impl::findBin(std::uint64_t at, const char* what) const {
  for (const Bin& b : recentBins) {
    if (b.end && at >= b.start + kBinHeaderSize && at < b.end) return b;
  }
  std::string damagedHeader;
  std::uint64_t page = at & ~std::uint64_t{0xFFF};
  for (std::uint64_t steps = 0; page >= kBinsStart && steps < kMaxBinPages;
       ++steps, page -= kPageSize) {
    std::uint8_t h[kBinHeaderSize];
    if (auto e = readAt(page, h, sizeof h)) return *e;
    const BinHeader header = parseBinHeader(h);
    if (!header.signature) continue;
    const std::uint32_t size = header.size;
    std::string why;
    switch (binFault(header, page, binsEnd)) {
      case BinFault::none: break;
      case BinFault::misplaced:
        why = "its offset field is " + hex(header.offset) + " instead of " + hex(page - kBinsStart);
        break;
      case BinFault::notWholePages: why = "its size " + hex(size) + " is " + notWholePages; break;
      case BinFault::pastBinsEnd:
        why = "its size " + hex(size) + " runs past the end of the hive bins at " + hex(binsEnd);
        break;
    }
    if (!why.empty()) {
      // Data inside a large bin can look like a header; look further back.
      if (damagedHeader.empty()) {
        damagedHeader = corruptAt("hive bin", page, why).message;
      }
      continue;
    }
    if (at < page + kBinHeaderSize) {
      return corruptAt(what, at, "it lies inside the header of the hive bin at " + hex(page));
    }
    if (at >= page + size) break;
    Bin found{page, page + size};
    recentBins[nextBin++ % 8] = found;
    return found;
  }
  if (!damagedHeader.empty()) return Error{ErrorCode::corrupt, damagedHeader};
  return corruptAt(what, at, "it lies in no valid hive bin");
}

Result<Cell> Hive::Impl::cell(std::uint32_t offset, const char* what) const {
  const std::uint64_t at = kBinsStart + offset;
  if (offset == kNoCell) {
    return Error{ErrorCode::corrupt, std::string("corrupt ") + what + ": a needed cell is missing"};
  }
  if (offset % kCellAlignment != 0) return corruptAt(what, at, "the offset is not a multiple of 8");
  if (std::uint64_t{offset} + 8 > binsSize) {
    return corruptAt(what, at, "it lies past the end of the hive bins at " + hex(binsEnd));
  }
  Result<Bin> bin = findBin(at, what);
  if (!bin) return bin.error();
  std::uint8_t raw[4];
  if (auto e = readAt(at, raw, 4)) return *e;
  const std::int64_t signedSize = static_cast<std::int32_t>(le32(raw));
  if (signedSize == 0) return corruptAt(what, at, "the cell's size is 0");
  if (signedSize > 0) return corruptAt(what, at, "the cell is marked free");
  const std::uint64_t size = static_cast<std::uint64_t>(-signedSize);
  if (size % kCellAlignment != 0)
    return corruptAt(what, at, "the cell's size " + hex(size) + " is not a multiple of 8");
  if (at + size > bin.value().end) {
    return corruptAt(what, at,
                     "the cell's size " + hex(size) + " crosses the end of its hive bin at " +
                         hex(bin.value().end));
  }
  return Cell{at + 4, static_cast<std::uint32_t>(size - 4)};
}

// The name's bytes are read only when its length can match.
Result<bool> Hive::Impl::nameIs(const StoredName& stored, const std::u16string& want) const {
  if (stored.length != (stored.compressed ? want.size() : want.size() * 2)) return false;
  std::uint8_t small[512];
  std::vector<std::uint8_t> large;
  std::uint8_t* text = small;
  if (stored.length > sizeof small) {
    large.resize(stored.length);
    text = large.data();
  }
  if (stored.length) {
    if (auto e = readAt(stored.pos, text, stored.length)) return *e;
  }
  return namesEqual(text, stored.length, stored.compressed, want);
}

Result<KeyNode> Hive::Impl::keyNode(std::uint32_t offset, const char* what) const {
  Result<Cell> c = cell(offset, what);
  if (!c) return c.error();
  const Cell& k = c.value();
  if (k.size < nk_field::kName) {
    return corruptAt(what, k.at(), "its cell of " + bytes(k.size) + " is too small for a key node");
  }
  std::uint8_t h[nk_field::kName];
  if (auto e = readAt(k.pos, h, sizeof h)) return *e;
  if (h[0] != 'n' || h[1] != 'k') return corruptAt(what, k.at(), "it is not a key node (\"nk\")");
  KeyNode node;
  node.cell = offset;
  node.at = k.at();
  node.subkeyCount = le32(h + nk_field::kSubkeyCount);
  node.subkeyList = le32(h + nk_field::kSubkeyList);
  node.valueCount = le32(h + nk_field::kValueCount);
  node.valueList = le32(h + nk_field::kValueList);
  node.name = StoredName{k.pos + nk_field::kName, le16(h + nk_field::kNameLength),
                         (le16(h + nk_field::kFlags) & kKeyCompName) != 0};
  if (node.name.length > k.size - nk_field::kName) {
    return corruptAt(what, k.at(),
                     "its name of " + bytes(node.name.length) + " is longer than its cell");
  }
  return node;
}

Result<SubkeyList> Hive::Impl::subkeyList(std::uint32_t offset) const {
  const char* what = "subkey list";
  Result<Cell> c = cell(offset, what);
  if (!c) return c.error();
  SubkeyList list;
  list.offset = offset;
  list.cell = c.value();
  if (list.cell.size < list_field::kEntries)
    return corruptAt(what, list.cell.at(), "its cell is too small for a list");
  std::uint8_t h[list_field::kEntries];
  if (auto e = readAt(list.cell.pos, h, sizeof h)) return *e;
  if ((h[0] == 'l' || h[0] == 'r') && h[1] == 'i') list.entrySize = kOffsetEntry;
  if (h[0] == 'l' && (h[1] == 'f' || h[1] == 'h')) list.entrySize = kTaggedEntry;
  if (list.entrySize == 0) {
    return corruptAt(what, list.cell.at(), "unknown list signature " + hex(le16(h)));
  }
  list.kind[0] = static_cast<char>(h[0]);
  list.kind[1] = static_cast<char>(h[1]);
  list.count = le16(h + list_field::kCount);
  if (list.count * list.entrySize > list.cell.size - list_field::kEntries) {
    return corruptAt(
        what, list.cell.at(),
        std::to_string(list.count) + " entries do not fit in its cell of " + bytes(list.cell.size));
  }
  list.entries.resize(list.count * list.entrySize);
  if (list.count) {
    const std::uint64_t at = list.cell.pos + list_field::kEntries;
    if (auto e = readAt(at, list.entries.data(), list.entries.size())) return *e;
  }
  return list;
}

// The leaves an index root lists; one listed twice would multiply the work of
// a lookup, and one that is the root itself would never end it.
Result<std::vector<std::uint32_t>> Hive::Impl::leavesOf(const SubkeyList& indexRoot) const {
  std::vector<std::uint32_t> leaves(indexRoot.count);
  for (std::uint32_t i = 0; i < indexRoot.count; ++i) leaves[i] = indexRoot.entryCell(i);
  std::vector<std::uint32_t> sorted = leaves;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (sorted[i] == indexRoot.offset) {
      return corruptAt("subkey list", indexRoot.cell.at(), "the index root lists itself");
    }
    if (i && sorted[i] == sorted[i - 1]) {
      return corruptAt(
          "subkey list", indexRoot.cell.at(),
          "the index root lists the leaf at " + hex(kBinsStart + sorted[i]) + " twice");
    }
  }
  return leaves;
}

// Looks through one leaf (li, lf or lh). The first pass (`filtered`) reads only
// the keys whose hash or hint fits; the second the others, since writers
// other than Windows compute hashes differently and a hint is only a hint.
Result<LeafMatch> Hive::Impl::searchLeaf(const SubkeyList& leaf, const std::u16string& name,
                                         std::uint32_t hash, bool filtered) const {
  LeafMatch match;
  for (std::uint32_t i = 0; i < leaf.count; ++i) {
    const std::uint32_t offset = leaf.entryCell(i);
    if (offset == leaf.offset) {
      return corruptAt("subkey list", leaf.cell.at(), "it lists itself as a key");
    }
    bool fits = true;
    if (leaf.kind[1] == 'h') fits = le32(leaf.entryTag(i)) == hash;
    if (leaf.kind[1] == 'f') fits = hintFits(leaf.entryTag(i), name);
    if (!fits) match.passedOver = true;
    if (fits != filtered) continue;
    Result<KeyNode> k = keyNode(offset, "key");
    if (!k) return k.error();
    Result<bool> same = nameIs(k.value().name, name);
    if (!same) return same.error();
    if (same.value()) {
      match.key = k.value();
      return match;
    }
  }
  return match;
}

// Both passes of searchLeaf, over the parent's one leaf or over every leaf of
// its index root.
Result<std::optional<KeyNode>> Hive::Impl::findSubkey(const KeyNode& parent,
                                                      const std::u16string& name) const {
  if (parent.subkeyCount == 0) return std::optional<KeyNode>();
  Result<SubkeyList> top = subkeyList(parent.subkeyList);
  if (!top) return top.error();
  const SubkeyList& root = top.value();
  std::vector<std::uint32_t> leaves;
  if (root.isIndexRoot()) {
    Result<std::vector<std::uint32_t>> listed = leavesOf(root);
    if (!listed) return listed.error();
    leaves = std::move(listed.value());
  }
  const std::size_t leafCount = root.isIndexRoot() ? leaves.size() : 1;
  const std::uint32_t hash = nameHash(name);
  bool passedOver = false;
  SubkeyList listedLeaf;
  for (bool filtered : {true, false}) {
    if (!filtered && !passedOver) break;
    for (std::size_t i = 0; i < leafCount; ++i) {
      const SubkeyList* leaf = &root;
      if (root.isIndexRoot()) {
        Result<SubkeyList> read = subkeyList(leaves[i]);
        if (!read) return read.error();
        if (read.value().isIndexRoot()) {
          return corruptAt("subkey list", read.value().cell.at(),
                           "the index root at " + hex(kBinsStart + parent.subkeyList) +
                               " points to another index root");
        }
        listedLeaf = std::move(read.value());
        leaf = &listedLeaf;
      }
      Result<LeafMatch> match = searchLeaf(*leaf, name, hash, filtered);
      if (!match) return match.error();
      if (match.value().key) return match.value().key;
      passedOver = passedOver || match.value().passedOver;
    }
  }
  return std::optional<KeyNode>();
}

Result<ValueRecord> Hive::Impl::valueRecord(std::uint32_t offset) const {
  Result<Cell> c = cell(offset, "value");
  if (!c) return c.error();
  const Cell& v = c.value();
  if (v.size < vk_field::kName) {
    return corruptAt("value", v.at(), "its cell of " + bytes(v.size) + " is too small for a value");
  }
  std::uint8_t h[vk_field::kName];
  if (auto e = readAt(v.pos, h, sizeof h)) return *e;
  if (h[0] != 'v' || h[1] != 'k') return corruptAt("value", v.at(), "it is not a value (\"vk\")");
  ValueRecord vk;
  vk.at = v.at();
  vk.name = StoredName{v.pos + vk_field::kName, le16(h + vk_field::kNameLength),
                       (le16(h + vk_field::kFlags) & kValueCompName) != 0};
  if (vk.name.length > v.size - vk_field::kName) {
    return corruptAt("value", v.at(),
                     "its name of " + bytes(vk.name.length) + " is longer than its cell");
  }
  const std::uint32_t sizeField = le32(h + vk_field::kDataSize);
  vk.inlineData = (sizeField & kDataInline) != 0;
  vk.dataSize = sizeField & ~kDataInline;
  vk.dataOffset = le32(h + vk_field::kDataOffset);
  vk.type = le32(h + vk_field::kType);
  return vk;
}

Result<Value> Hive::Impl::valueData(const ValueRecord& vk) const {
  if (vk.inlineData) return inlineValue(vk);
  if (vk.dataSize == 0) return Value{vk.type, {}};
  Result<Cell> c = cell(vk.dataOffset, "value data");
  if (!c) return c.error();
  if (c.value().size >= vk.dataSize) return cellValue(vk, c.value());
  Result<BigDataRecord> db = bigDataRecord(vk, c.value());
  if (!db) return db.error();
  return bigDataValue(vk, db.value());
}

// Up to 4 bytes kept in the data offset field itself, from its first byte on.
Result<Value> Hive::Impl::inlineValue(const ValueRecord& vk) const {
  if (vk.dataSize > 4) {
    return corruptAt(
        "value", vk.at,
        "it claims " + bytes(vk.dataSize) + " of data kept in the value itself (at most 4)");
  }
  Value value{vk.type, std::vector<std::uint8_t>(vk.dataSize)};
  for (std::uint32_t i = 0; i < vk.dataSize; ++i) {
    value.data[i] = static_cast<std::uint8_t>(vk.dataOffset >> (8 * i));
  }
  return value;
}

Result<Value> Hive::Impl::cellValue(const ValueRecord& vk, const Cell& data) const {
  Value value{vk.type, std::vector<std::uint8_t>(vk.dataSize)};
  if (auto e = readAt(data.pos, value.data.data(), vk.dataSize)) return *e;
  return value;
}

// A cell too small for the data is a db record only in hives of version 1.4
// or later, and only for data that needs more than one segment.
Result<BigDataRecord> Hive::Impl::bigDataRecord(const ValueRecord& vk, const Cell& data) const {
  std::uint8_t h[db_field::kEnd] = {};
  if (minor >= 4 && vk.dataSize > kSegmentSize && data.size >= db_field::kEnd) {
    if (auto e = readAt(data.pos, h, sizeof h)) return *e;
  }
  if (h[0] != 'd' || h[1] != 'b') {
    return corruptAt("value data", data.at(),
                     bytes(vk.dataSize) + " do not fit in its cell of " + bytes(data.size));
  }
  const BigDataRecord db{data.at(), le16(h + db_field::kSegmentCount),
                         le32(h + db_field::kSegmentList)};
  const std::uint32_t expected = (vk.dataSize + kSegmentSize - 1) / kSegmentSize;
  if (db.segmentCount != expected) {
    return corruptAt("big data record", db.at,
                     std::to_string(db.segmentCount) + " segments for " + bytes(vk.dataSize) +
                         " (" + std::to_string(expected) + " expected)");
  }
  return db;
}

Result<Value> Hive::Impl::bigDataValue(const ValueRecord& vk, const BigDataRecord& db) const {
  Result<Cell> l = cell(db.segmentList, "big data segment list");
  if (!l) return l.error();
  const Cell& list = l.value();
  if (list.size / 4 < db.segmentCount) {
    return corruptAt("big data segment list", list.at(),
                     std::to_string(db.segmentCount) + " segments do not fit in its cell of " +
                         bytes(list.size));
  }
  std::vector<std::uint8_t> raw(std::size_t{db.segmentCount} * 4);
  if (auto e = readAt(list.pos, raw.data(), raw.size())) return *e;
  // Every segment is checked before the data's memory is taken.
  std::vector<Cell> segments;
  segments.reserve(db.segmentCount);
  for (std::uint32_t i = 0; i < db.segmentCount; ++i) {
    Result<Cell> s = cell(le32(raw.data() + 4 * i), "big data segment");
    if (!s) return s.error();
    const std::uint32_t want = std::min(kSegmentSize, vk.dataSize - i * kSegmentSize);
    if (s.value().size < want) {
      return corruptAt("big data segment", s.value().at(),
                       bytes(want) + " do not fit in its cell of " + bytes(s.value().size));
    }
    segments.push_back(s.value());
  }
  Value value{vk.type, std::vector<std::uint8_t>(vk.dataSize)};
  for (std::uint32_t i = 0; i < db.segmentCount; ++i) {
    const std::uint32_t want = std::min(kSegmentSize, vk.dataSize - i * kSegmentSize);
    std::uint8_t* into = value.data.data() + std::size_t{i} * kSegmentSize;
    if (auto e = readAt(segments[i].pos, into, want)) return *e;
  }
  return value;
}

const char* errorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::cannotOpen: return "cannot-open";
    case ErrorCode::notAFile: return "not-a-file";
    case ErrorCode::inUse: return "in-use";
    case ErrorCode::notARegistryFile: return "not-a-registry-file";
    case ErrorCode::truncated: return "truncated";
    case ErrorCode::readError: return "read-error";
    case ErrorCode::unsupportedVersion: return "unsupported-version";
    case ErrorCode::corrupt: return "corrupt";
    case ErrorCode::keyNotFound: return "key-not-found";
    case ErrorCode::valueNotFound: return "value-not-found";
  }
  return "unknown";
}

Result<Hive> Hive::fromSource(std::unique_ptr<ByteSource> source) {
  return load(std::move(source), nullptr);
}

Result<Hive> Hive::fromSource(std::unique_ptr<ByteSource> source, std::vector<LogFile> logs) {
  return load(std::move(source), &logs);
}

// `logs`: null to read the file as it lies, else the logs to apply when it is dirty.
Result<Hive> Hive::load(std::unique_ptr<ByteSource> source, std::vector<LogFile>* logs) {
  using namespace base_field;
  auto impl = std::make_unique<Impl>();
  impl->source = std::move(source);
  const std::uint64_t fileSize = impl->source->size();
  std::uint8_t base[kBaseBlockSize] = {};
  const std::size_t have =
      static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kBaseBlockSize));
  if (have) {
    if (auto e = impl->readAt(0, base, have)) return *e;
  }
  if (have < 4 || std::memcmp(base, "regf", 4) != 0) {
    return Error{ErrorCode::notARegistryFile,
                 "not a registry file: it does not start with \"regf\""};
  }
  if (have < kBaseBlockSize) {
    return Error{ErrorCode::truncated, "truncated: the file is " + std::to_string(fileSize) +
                                           " bytes, shorter than the " +
                                           std::to_string(kBaseBlockSize) + "-byte base block"};
  }
  BaseBlock block = parseBaseBlock(base);
  const bool dirty = !block.checksumValid || block.primarySequence != block.secondarySequence;
  impl->state = dirty ? HiveState::dirty : HiveState::clean;
  if (logs && !dirty && !logs->empty()) impl->logReport = "not applied: the hive is clean";
  if (logs && dirty) {
    // No field of a base block that fails its checksum is trusted.
    const std::string damaged = "corrupt: the base block is damaged: its checksum at offset " +
                                hex(kChecksum) + " is " + hex(block.checksum) +
                                ", its bytes give " + hex(baseBlockChecksum(base));
    if (logs->empty()) {
      if (!block.checksumValid) return Error{ErrorCode::corrupt, damaged};
      impl->logReport = "none beside it";
    } else {
      Recovery recovery = recoverHive(std::move(impl->source), base, *logs);
      if (!recovery.source) {
        return Error{ErrorCode::corrupt,
                     damaged + " (no log beside it holds a sound copy" +
                         (recovery.report.empty() ? "" : ": " + recovery.report) + ")"};
      }
      impl->source = std::move(recovery.source);
      impl->logReport = recovery.report;
      if (recovery.complete) impl->state = HiveState::recovered;
      if (auto e = impl->readAt(0, base, kBaseBlockSize)) return *e;
      block = parseBaseBlock(base);
    }
  }
  const std::uint64_t size = impl->source->size();
  if (block.fileType != kPrimaryFile) {
    return Error{ErrorCode::notARegistryFile,
                 "not a primary hive file: its file type is " + std::to_string(block.fileType) +
                     " (a transaction log or another kind of registry file)"};
  }
  if (block.major != 1 || block.minor < 3 || block.minor > 6) {
    return Error{ErrorCode::unsupportedVersion,
                 "unsupported format version " + std::to_string(block.major) + "." +
                     std::to_string(block.minor) + " (versions 1.3 to 1.6 are read)"};
  }
  impl->minor = block.minor;
  impl->embeddedName = embeddedFileName(base);
  impl->binsSize = block.binsSize;
  impl->rootCell = block.rootCell;
  impl->binsEnd = kBinsStart + impl->binsSize;
  if (!isWholePages(impl->binsSize)) {
    return corruptAt("base block", kBinsSize,
                     "the hive bins' size " + hex(impl->binsSize) + " is " + notWholePages);
  }
  if (impl->binsEnd > size) {
    return Error{ErrorCode::truncated,
                 "truncated: the base block declares hive bins up to offset " + hex(impl->binsEnd) +
                     ", but the file ends at " + hex(size)};
  }
  // Its signature and offset field only: a read error names the bytes read.
  std::uint8_t first[bin_field::kSize];
  if (auto e = impl->readAt(kBinsStart, first, sizeof first)) return *e;
  if (std::memcmp(first, "hbin", 4) != 0 || le32(first + bin_field::kOffset) != 0) {
    return corruptAt("hive bin", kBinsStart, "the first hive bin's header is missing");
  }
  Result<KeyNode> root = impl->keyNode(impl->rootCell, "root key");
  if (!root) return root.error();
  return Hive(std::move(impl));
}

std::vector<std::string> logNamesBeside(const Folder& folder, const std::string& hive) {
  std::vector<std::string> names = folder.names();
  std::sort(names.begin(), names.end());
  std::vector<std::string> logs;
  for (const char* suffix : {".LOG", ".LOG1", ".LOG2"}) {
    const std::string want = hive + suffix;
    const std::string* chosen = nullptr;
    for (const std::string& name : names) {
      if (!text::equalsIgnoringAsciiCase(name, want)) continue;
      if (!chosen || name == want) chosen = &name;
    }
    if (chosen) logs.push_back(*chosen);
  }
  return logs;
}

Result<Hive> Hive::openWithLogs(std::unique_ptr<ByteSource> source, const Folder& folder,
                                const std::string& name, Logs mode) {
  const std::vector<std::string> names = logNamesBeside(folder, name);
  std::vector<LogFile> logs;
  if (mode == Logs::apply) {
    for (const std::string& logName : names) {
      Result<std::unique_ptr<ByteSource>> opened = folder.open(logName);
      logs.push_back(opened ? LogFile{logName, std::move(opened.value()), ""}
                            : LogFile{logName, nullptr, opened.error().message});
    }
  }
  Result<Hive> hive = load(std::move(source), mode == Logs::apply ? &logs : nullptr);
  if (hive) hive.value().impl_->logFiles = !names.empty();
  return hive;
}

Result<Hive> Hive::openIn(const Folder& folder, const std::string& name, Logs logs) {
  Result<std::unique_ptr<ByteSource>> source = folder.open(name);
  if (!source) return source.error();
  return openWithLogs(std::move(source.value()), folder, name, logs);
}

Result<Hive> Hive::open(const text::PathString& path, Logs logs) {
  Result<std::unique_ptr<ByteSource>> source = openFileSource(path);
  if (!source) return source.error();
  std::string name;
  const std::unique_ptr<Folder> folder = folderOf(path, name);
  return openWithLogs(std::move(source.value()), *folder, name, logs);
}

Hive::Hive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Hive::Hive(Hive&&) noexcept = default;
Hive& Hive::operator=(Hive&&) noexcept = default;
Hive::~Hive() = default;

HiveState Hive::state() const { return impl_->state; }
bool Hive::hasLogFiles() const { return impl_->logFiles; }
const std::string& Hive::logReport() const { return impl_->logReport; }
std::uint32_t Hive::minorVersion() const { return impl_->minor; }
std::u16string Hive::embeddedName() const { return impl_->embeddedName; }
Key Hive::root() const { return Key{impl_->rootCell}; }

Result<Key> Hive::findKey(std::string_view path) const {
  Result<KeyNode> root = impl_->keyNode(impl_->rootCell, "root key");
  if (!root) return root.error();
  KeyNode node = root.value();
  std::string_view rest = path;
  std::string parentName;
  while (!rest.empty()) {
    const std::size_t cut = rest.find('\\');
    const std::string_view part = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    if (part.empty()) continue;  // "A\\\\B", a leading or a trailing separator
    std::u16string name;
    if (!text::utf8ToUtf16Strict(part, &name)) {
      return Error{ErrorCode::keyNotFound,
                   "key not found: " + std::string(path) + " (the path is not valid UTF-8)"};
    }
    Result<std::optional<KeyNode>> found = impl_->findSubkey(node, name);
    if (!found) return found.error();
    if (!found.value()) {
      return Error{ErrorCode::keyNotFound,
                   "key not found: " + std::string(path) + " (no subkey \"" + std::string(part) +
                       "\" under " +
                       (parentName.empty() ? "the root key" : "\"" + parentName + "\"") + ")"};
    }
    node = *found.value();
    parentName = std::string(part);
  }
  return Key{node.cell};
}

Result<Value> Hive::readValue(Key key, std::string_view name) const {
  Result<KeyNode> node = impl_->keyNode(key.cell, "key");
  if (!node) return node.error();
  std::u16string want;
  const Error notFound{ErrorCode::valueNotFound, "value not found: \"" + std::string(name) +
                                                     "\" in the key at offset " +
                                                     hex(node.value().at)};
  if (!text::utf8ToUtf16Strict(name, &want)) return notFound;
  const std::uint32_t count = node.value().valueCount;
  if (count == 0) return notFound;
  Result<Cell> c = impl_->cell(node.value().valueList, "value list");
  if (!c) return c.error();
  const Cell& list = c.value();
  if (count > list.size / 4) {
    return corruptAt(
        "value list", list.at(),
        std::to_string(count) + " values do not fit in its cell of " + bytes(list.size));
  }
  // The list is read in parts, so a key with many values takes little memory.
  std::uint8_t raw[4 * 256];
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t part = std::min<std::uint32_t>(count - done, 256);
    if (auto e = impl_->readAt(list.pos + 4 * std::uint64_t{done}, raw, 4 * part)) return *e;
    for (std::uint32_t i = 0; i < part; ++i) {
      Result<ValueRecord> vk = impl_->valueRecord(le32(raw + 4 * i));
      if (!vk) return vk.error();
      Result<bool> same = impl_->nameIs(vk.value().name, want);
      if (!same) return same.error();
      if (same.value()) return impl_->valueData(vk.value());
    }
    done += part;
  }
  return notFound;
}

}  // namespace hive
