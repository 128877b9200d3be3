#pragma once

// The records a lookup passes through (nk, the subkey lists, vk, db), each
// read once into the struct named after it and checked as it is read.

#include <cstdint>
#include <string>
#include <vector>

#include "hive/cells.h"
#include "hive/little_endian.h"
#include "hive/subkey_list.h"

namespace hive {

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

class RecordReader : public CellReader {
 public:
  std::uint32_t minor = 0;  // the format's minor version: db records from 4 on

  Result<bool> nameIs(const StoredName& stored, const std::u16string& want) const;
  Result<KeyNode> keyNode(std::uint32_t offset, const char* what) const;
  Result<SubkeyList> subkeyList(std::uint32_t offset) const;
  Result<ValueRecord> valueRecord(std::uint32_t offset) const;
  Result<Value> valueData(const ValueRecord& vk) const;

 private:
  Result<Value> inlineValue(const ValueRecord& vk) const;
  Result<Value> cellValue(const ValueRecord& vk, const Cell& data) const;
  Result<BigDataRecord> bigDataRecord(const ValueRecord& vk, const Cell& data) const;
  Result<Value> bigDataValue(const ValueRecord& vk, const BigDataRecord& db) const;
};

}  // namespace hive
