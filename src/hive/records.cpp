#include "hive/records.h"

#include <algorithm>

#include "hive/big_data.h"
#include "hive/key_node.h"
#include "hive/names.h"
#include "hive/value_key.h"

namespace hive {

// The name's bytes are read only when its length can match.
Result<bool> RecordReader::nameIs(const StoredName& stored, const std::u16string& want) const {
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

Result<KeyNode> RecordReader::keyNode(std::uint32_t offset, const char* what) const {
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

Result<SubkeyList> RecordReader::subkeyList(std::uint32_t offset) const {
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

Result<ValueRecord> RecordReader::valueRecord(std::uint32_t offset) const {
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

Result<Value> RecordReader::valueData(const ValueRecord& vk) const {
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
Result<Value> RecordReader::inlineValue(const ValueRecord& vk) const {
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

Result<Value> RecordReader::cellValue(const ValueRecord& vk, const Cell& data) const {
  Value value{vk.type, std::vector<std::uint8_t>(vk.dataSize)};
  if (auto e = readAt(data.pos, value.data.data(), vk.dataSize)) return *e;
  return value;
}

// A cell too small for the data is a db record only in hives of version 1.4
// or later, and only for data that needs more than one segment.
Result<BigDataRecord> RecordReader::bigDataRecord(const ValueRecord& vk, const Cell& data) const {
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

Result<Value> RecordReader::bigDataValue(const ValueRecord& vk, const BigDataRecord& db) const {
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

}  // namespace hive
