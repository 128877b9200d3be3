// Finding a key by its path and a value by its name.
#include <algorithm>

#include "hive/base_block.h"
#include "hive/hive_impl.h"
#include "hive/names.h"
#include "text/text.h"

namespace hive {

namespace {

// What one pass over a leaf found; `passedOver`: entries whose hash or hint
// did not fit were left for the second pass.
struct LeafMatch {
  std::optional<KeyNode> key;
  bool passedOver = false;
};

// The leaves an index root lists; one listed twice would multiply the work of
// a lookup, and one that is the root itself would never end it.
Result<std::vector<std::uint32_t>> leavesOf(const SubkeyList& indexRoot) {
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
Result<LeafMatch> searchLeaf(const RecordReader& hive, const SubkeyList& leaf,
                             const std::u16string& name, std::uint32_t hash, bool filtered) {
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
    Result<KeyNode> k = hive.keyNode(offset, "key");
    if (!k) return k.error();
    Result<bool> same = hive.nameIs(k.value().name, name);
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
Result<std::optional<KeyNode>> findSubkey(const RecordReader& hive, const KeyNode& parent,
                                          const std::u16string& name) {
  if (parent.subkeyCount == 0) return std::optional<KeyNode>();
  Result<SubkeyList> top = hive.subkeyList(parent.subkeyList);
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
        Result<SubkeyList> read = hive.subkeyList(leaves[i]);
        if (!read) return read.error();
        if (read.value().isIndexRoot()) {
          return corruptAt("subkey list", read.value().cell.at(),
                           "the index root at " + hex(kBinsStart + parent.subkeyList) +
                               " points to another index root");
        }
        listedLeaf = std::move(read.value());
        leaf = &listedLeaf;
      }
      Result<LeafMatch> match = searchLeaf(hive, *leaf, name, hash, filtered);
      if (!match) return match.error();
      if (match.value().key) return match.value().key;
      passedOver = passedOver || match.value().passedOver;
    }
  }
  return std::optional<KeyNode>();
}

}  // namespace

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
    Result<std::optional<KeyNode>> found = findSubkey(*impl_, node, name);
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
