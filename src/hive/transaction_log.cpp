#include "hive/transaction_log.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "hive/base_block.h"
#include "hive/little_endian.h"
#include "hive/marvin32.h"
#include "text/text.h"

// Layout of a log file, as read here:
//   0x000  a copy of the hive's base block, first sector only (file type 1,
//          2 or 6; its own checksum)
//   new format, from 0x200: log entries at 512-byte boundaries, each
//     "HvLE", size, flags, sequence number, hive bins size, page count,
//     Marvin32 of the rest from 40 on, Marvin32 of the first 32 bytes,
//     then (offset, size) per page and the pages themselves
//   old format, from the second sector: "DIRT" and a bitmap with one bit per
//     512-byte sector of the hive bins, then the dirty sectors in bit order
//     from the next sector boundary

namespace hive {

namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kEntryHeader = 40;

std::string hex(std::uint64_t v) { return text::hexText(v); }

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The recovered hive: logged sectors laid over the primary file's bytes,
// whose own bytes are read only where no log holds the sector.
class RecoveredSource : public ByteSource {
 public:
  RecoveredSource(std::unique_ptr<ByteSource> primary, const std::uint8_t* base)
      : primary_(std::move(primary)), size_(primary_->size()) {
    std::memcpy(base_, base, kBaseBlockSize);
  }
  std::uint8_t* base() { return base_; }
  void setBinsSize(std::uint32_t binsSize) {
    size_ = std::max(primary_->size(), kBinsStart + binsSize);
  }
  // `length` is a whole number of sectors, at a sector boundary of the file.
  void putSectors(std::uint64_t fileOffset, const std::uint8_t* data, std::size_t length) {
    for (std::size_t done = 0; done < length; done += kSector) {
      const auto slot = sectors_.emplace((fileOffset + done) / kSector, pages_.size());
      if (slot.second) pages_.resize(pages_.size() + kSector);
      std::memcpy(pages_.data() + slot.first->second, data + done, kSector);
    }
  }
  std::size_t sectorCount() const { return sectors_.size(); }

  std::uint64_t size() const override { return size_; }
  ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset > size_ || length > size_ - offset) return ReadStatus::pastEnd();
    auto* p = static_cast<std::uint8_t*>(out);
    while (length) {
      std::size_t n = 0;
      if (offset < kBaseBlockSize) {
        n = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBaseBlockSize - offset));
        std::memcpy(p, base_ + offset, n);
      } else if (auto at = sectors_.find(offset / kSector); at != sectors_.end()) {
        const std::size_t within = static_cast<std::size_t>(offset % kSector);
        n = std::min(length, kSector - within);
        std::memcpy(p, pages_.data() + at->second + within, n);
      } else {
        // As many following sectors as no log holds, in one read of the primary.
        n = std::min(length, kSector - static_cast<std::size_t>(offset % kSector));
        while (n < length && !sectors_.count((offset + n) / kSector)) {
          n = std::min(length, n + kSector);
        }
        const std::uint64_t primaryEnd = primary_->size();
        const std::size_t fromPrimary =
            offset >= primaryEnd
                ? 0
                : static_cast<std::size_t>(std::min<std::uint64_t>(n, primaryEnd - offset));
        if (fromPrimary) {
          ReadStatus status = primary_->read(offset, p, fromPrimary);
          if (status.outcome != ReadStatus::Outcome::complete) return status;
        }
        // A hive that grew in its logs: bytes no log holds past the primary's end.
        std::memset(p + fromPrimary, 0, n - fromPrimary);
      }
      p += n;
      offset += n;
      length -= n;
    }
    return {};
  }

 private:
  std::unique_ptr<ByteSource> primary_;
  std::uint8_t base_[kBaseBlockSize];
  std::map<std::uint64_t, std::size_t> sectors_;  // file offset / 512 → in pages_
  std::vector<std::uint8_t> pages_;
  std::uint64_t size_;
};

// "" when all `length` bytes were read, else why not.
std::string readLog(const LogFile& log, std::uint64_t at, void* out, std::size_t length) {
  const ReadStatus status = log.bytes->read(at, out, length);
  if (status.outcome == ReadStatus::Outcome::complete) return "";
  if (status.outcome == ReadStatus::Outcome::pastEnd) return "it ends at " + hex(log.bytes->size());
  return "cannot read " + std::to_string(length) + " bytes at offset " + hex(at) + ": " +
         status.reason;
}

// A log's first sector, and whether it is a log of this hive at all.
struct LogHeader {
  const LogFile* file = nullptr;
  std::uint8_t sector[kSector] = {};
  BaseBlock base;
  std::string problem;  // why the log cannot be used
  // It could not be read, or was not this hive's log: what it held is unknown.
  // An empty file holds nothing (Windows keeps an empty .LOG beside .LOG1 and .LOG2).
  bool unread = false;
};

std::u16string fileNameOf(const std::uint8_t* block) {
  std::u16string name;
  for (std::size_t at = base_field::kFileName;
       at < base_field::kFileNameEnd && (block[at] || block[at + 1]); at += 2) {
    name += static_cast<char16_t>(block[at] | block[at + 1] << 8);
  }
  return name;
}

LogHeader readHeader(const LogFile& log, const std::uint8_t* primaryBase, bool primaryValid) {
  LogHeader h;
  h.file = &log;
  h.unread = true;
  if (!log.bytes) {
    h.problem = log.openProblem;
    return h;
  }
  if (log.bytes->size() < kSector) {
    h.problem = log.bytes->size() ? "too short for a transaction log" : "empty";
    h.unread = log.bytes->size() != 0;
    return h;
  }
  h.problem = readLog(log, 0, h.sector, kSector);
  if (!h.problem.empty()) return h;
  h.base = parseBaseBlock(h.sector);
  const std::uint32_t type = h.base.fileType;
  if (!h.base.signature || (type != 1 && type != 2 && type != kNewFormatLog)) {
    h.problem = "not a transaction log";
  } else if (!h.base.checksumValid) {
    h.problem = "its base block fails its checksum";
  } else if (primaryValid && !fileNameOf(h.sector).empty() && !fileNameOf(primaryBase).empty() &&
             fileNameOf(h.sector) != fileNameOf(primaryBase)) {
    const std::u16string name = fileNameOf(h.sector);
    h.problem = "a log of another hive (" + text::utf16ToUtf8(name.data(), name.size()) + ")";
  }
  h.unread = !h.problem.empty();
  return h;
}

// One log entry of the new format, checked.
struct Entry {
  const LogHeader* log = nullptr;
  std::size_t index = 0;  // 1 for a file's first entry
  std::uint64_t at = 0;
  std::uint32_t size = 0;
  std::uint32_t sequence = 0;
  bool numbered = false;  // its header was read: `sequence` is what it claims
  std::uint32_t binsSize = 0;
  std::uint64_t hashes[2] = {};  // as its header gives them
  std::size_t order = 0;         // among the entries of all files
};

// Reads and checks the entry at `at` into `bytes`: "" when it is sound,
// "end" where the entries end, else what is wrong with it. `hashed`: this
// entry as an earlier read found it, its hashes checked; hashing it again, most
// of the work, is spared while its header is still the same.
std::string readEntry(const LogHeader& log, std::uint64_t at, std::vector<std::uint8_t>& bytes,
                      Entry& entry, const Entry* hashed = nullptr) {
  const std::uint64_t fileSize = log.file->bytes->size();
  std::uint8_t h[kEntryHeader];
  if (fileSize - at < 4) return "end";
  if (fileSize - at < kEntryHeader) {
    if (!readLog(*log.file, at, h, 4).empty() || std::memcmp(h, "HvLE", 4) != 0) return "end";
    return "is cut short by the end of the file";
  }
  std::string problem = readLog(*log.file, at, h, sizeof h);
  if (!problem.empty()) return problem;
  if (std::memcmp(h, "HvLE", 4) != 0) return "end";
  entry.at = at;
  entry.size = le32(h + 4);
  entry.sequence = le32(h + 12);
  entry.numbered = true;
  entry.binsSize = le32(h + 16);
  entry.hashes[0] = le64(h + 24);
  entry.hashes[1] = le64(h + 32);
  const std::uint32_t pages = le32(h + 20);
  if (entry.size < kEntryHeader || entry.size % kSector != 0) {
    return "has a size of " + hex(entry.size) + ", not a whole number of sectors";
  }
  if (entry.size > fileSize - at) return "is cut short by the end of the file";
  bytes.resize(entry.size);
  problem = readLog(*log.file, at, bytes.data(), bytes.size());
  if (!problem.empty()) return problem;
  // The pages are laid out as `bytes` says; it must say what was checked.
  if (std::memcmp(bytes.data(), h, kEntryHeader) != 0) return "changed while it was read";
  if (hashed) {
    if (hashed->size != entry.size || hashed->sequence != entry.sequence ||
        hashed->hashes[0] != entry.hashes[0] || hashed->hashes[1] != entry.hashes[1]) {
      return "changed since it was read";
    }
  } else if (marvin32(kLogEntrySeed, bytes.data() + kEntryHeader, entry.size - kEntryHeader) !=
                 entry.hashes[0] ||
             marvin32(kLogEntrySeed, bytes.data(), 32) != entry.hashes[1]) {
    return "fails its hash";
  }
  if (entry.binsSize == 0 || entry.binsSize % 4096 != 0) {
    return "gives a hive bins size of " + hex(entry.binsSize);
  }
  std::uint64_t need = kEntryHeader + std::uint64_t{pages} * 8;
  for (std::uint32_t i = 0; i < pages && need <= entry.size; ++i) {
    const std::uint8_t* ref = bytes.data() + kEntryHeader + 8 * i;
    const std::uint32_t offset = le32(ref);
    const std::uint32_t length = le32(ref + 4);
    if (offset % kSector || length == 0 || length % kSector ||
        std::uint64_t{offset} + length > entry.binsSize) {
      return "logs a page of " + hex(length) + " bytes at " + hex(kBinsStart + offset) +
             " outside the hive bins";
    }
    need += length;
  }
  if (need > entry.size) return "lists more pages than it holds";
  return "";
}

// Lays a checked entry's pages over the hive.
void applyEntry(const std::vector<std::uint8_t>& bytes, RecoveredSource& hive) {
  const std::uint32_t pages = le32(bytes.data() + 20);
  std::size_t data = kEntryHeader + std::size_t{pages} * 8;
  for (std::uint32_t i = 0; i < pages; ++i) {
    const std::uint8_t* ref = bytes.data() + kEntryHeader + 8 * i;
    hive.putSectors(kBinsStart + le32(ref), bytes.data() + data, le32(ref + 4));
    data += le32(ref + 4);
  }
}

// A file's sound entries, in file order, and what ended them.
struct EntryScan {
  std::vector<Entry> entries;
  std::string damage;  // "" at a clean end
  Entry damaged;       // the entry that has it: its index, its number if it could be read
};

EntryScan scanEntries(const LogHeader& log) {
  EntryScan scan;
  std::vector<std::uint8_t> bytes;
  std::uint64_t at = kSector;
  for (std::size_t index = 1;; ++index) {
    Entry entry;
    entry.log = &log;
    entry.index = index;
    const std::string problem = readEntry(log, at, bytes, entry);
    if (problem == "end") break;
    if (!problem.empty()) {
      scan.damage = problem;
      scan.damaged = entry;
      break;
    }
    scan.entries.push_back(entry);
    at += entry.size;
  }
  return scan;
}

std::string namesOf(const std::vector<const LogHeader*>& logs) {
  std::string names;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    if (i) names += i + 1 == logs.size() ? " and " : ", ";
    names += logs[i]->file->name;
  }
  return names;
}

// The new format: the entries of both files from the hive's sequence number on,
// in sequence order, stopping at the first that is missing or damaged. Returns
// whether they ran to their end: no entry left past the stop, and no damage
// where an entry still needed could lie.
bool applyNewFormat(const std::vector<const LogHeader*>& logs, std::uint32_t firstSequence,
                    RecoveredSource& hive, Recovery& recovery, std::vector<std::string>& notes) {
  std::vector<EntryScan> scans;
  std::vector<Entry> all;
  for (const LogHeader* log : logs) {
    scans.push_back(scanEntries(*log));
    all.insert(all.end(), scans.back().entries.begin(), scans.back().entries.end());
  }
  // In sequence order, and in file order among equals (without the
  // temporary buffer of std::stable_sort, which the lean Windows build lacks).
  for (std::size_t i = 0; i < all.size(); ++i) all[i].order = i;
  std::sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) {
    return a.sequence != b.sequence ? a.sequence < b.sequence : a.order < b.order;
  });
  // The entries to apply are those from the hive's sequence number on: the
  // first of them may come later than that number, the rest follow it one by one.
  std::uint32_t next = firstSequence;
  const auto first = std::find_if(all.begin(), all.end(),
                                  [&](const Entry& e) { return e.sequence >= firstSequence; });
  if (first != all.end()) next = first->sequence;
  std::size_t applied = 0;
  std::vector<const LogHeader*> used;
  const Entry* last = nullptr;
  std::vector<std::uint8_t> bytes;
  std::vector<std::string> damage;
  for (const Entry& entry : all) {
    if (entry.sequence != next) {
      if (entry.sequence < next) continue;  // applied already, or older than the hive
      break;
    }
    Entry again;
    const std::string problem = readEntry(*entry.log, entry.at, bytes, again, &entry);
    if (!problem.empty()) {  // changed or failed since it was scanned
      damage.push_back(entry.log->file->name + ": entry " + std::to_string(entry.index) + " " +
                       problem);
      break;
    }
    applyEntry(bytes, hive);
    hive.setBinsSize(entry.binsSize);
    if (std::find(used.begin(), used.end(), entry.log) == used.end()) used.push_back(entry.log);
    last = &entry;
    ++applied;
    ++next;
  }
  // Damage matters where an entry still needed could lie: right after the
  // last one applied, in a file none of whose entries were, or in an entry
  // whose number, when it could be read, is not older than the one needed.
  for (std::size_t i = 0; i < scans.size(); ++i) {
    const EntryScan& scan = scans[i];
    if (scan.damage.empty()) continue;
    const bool atTheStop = scan.entries.empty()
                               ? applied == 0
                               : last && last->log == logs[i] && last->index == scan.entries.size();
    if (atTheStop || !scan.damaged.numbered || scan.damaged.sequence >= next) {
      damage.push_back(logs[i]->file->name + ": entry " + std::to_string(scan.damaged.index) + " " +
                       scan.damage);
    }
  }
  const auto after =
      std::find_if(all.begin(), all.end(), [&](const Entry& e) { return e.sequence > next; });
  const bool complete = damage.empty() && after == all.end();
  if (applied) {
    recovery.applied = true;
    putLe32(hive.base() + base_field::kPrimarySequence, last->sequence);
    putLe32(hive.base() + base_field::kSecondarySequence, last->sequence);
    putLe32(hive.base() + base_field::kBinsSize, last->binsSize);
    storeBaseBlockChecksum(hive.base());
    notes.push_back("applied " + plural(applied, "entry", "entries") + " from " + namesOf(used));
    notes.insert(notes.end(), damage.begin(), damage.end());
    if (after != all.end()) {
      notes.push_back(after->log->file->name + " goes on at sequence number " +
                      std::to_string(after->sequence) + ", not " + std::to_string(next));
    }
    return complete;
  }
  if (!damage.empty()) {
    notes.insert(notes.end(), damage.begin(), damage.end());
  } else if (all.empty()) {
    notes.push_back(namesOf(logs) + (logs.size() == 1 ? " holds" : " hold") + " no entries");
  } else {
    notes.push_back(after == all.end()
                        ? namesOf(logs) + ": no entry is newer than the hive (sequence number " +
                              std::to_string(firstSequence) + ")"
                        : after->log->file->name + ": its entries go on at sequence number " +
                              std::to_string(after->sequence) + ", the hive needs " +
                              std::to_string(firstSequence));
  }
  return complete;
}

// The old format: the dirty sectors of one log written at the same time as
// the primary's base block (their timestamps agree).
void applyOldFormat(const LogHeader& log, RecoveredSource& hive, Recovery& recovery,
                    std::vector<std::string>& notes) {
  const std::string name = log.file->name + ": ";
  const BaseBlock& b = log.base;
  if (b.clustering == 0 || b.clustering > 8) {
    notes.push_back(name + "its clustering factor " + std::to_string(b.clustering) +
                    " is not 1 to 8");
    return;
  }
  if (b.binsSize == 0 || b.binsSize % 4096 != 0) {
    notes.push_back(name + "it gives a hive bins size of " + hex(b.binsSize));
    return;
  }
  const std::uint64_t sector = kSector * b.clustering;
  const std::uint64_t fileSize = log.file->bytes->size();
  const std::size_t bitmapBytes = b.binsSize / kSector / 8;
  if (sector + 4 + bitmapBytes > fileSize) {
    notes.push_back(name + "its dirty vector runs past the end of the file");
    return;
  }
  std::vector<std::uint8_t> vector(4 + bitmapBytes);
  std::string problem = readLog(*log.file, sector, vector.data(), vector.size());
  if (!problem.empty() || std::memcmp(vector.data(), "DIRT", 4) != 0) {
    notes.push_back(name + (problem.empty() ? "no dirty vector (\"DIRT\") in it" : problem));
    return;
  }
  const std::uint8_t* bitmap = vector.data() + 4;
  std::uint64_t dirty = 0;
  for (std::size_t i = 0; i < bitmapBytes; ++i) {
    for (int bit = 0; bit < 8; ++bit) dirty += (bitmap[i] >> bit) & 1;
  }
  const std::uint64_t pagesAt = (sector + 4 + bitmapBytes + sector - 1) / sector * sector;
  if (dirty * kSector > fileSize - std::min(fileSize, pagesAt)) {
    notes.push_back(name + "its dirty vector names " + std::to_string(dirty) +
                    " sectors, more than the file holds");
    return;
  }
  std::vector<std::uint8_t> pages(static_cast<std::size_t>(dirty) * kSector);
  problem = readLog(*log.file, pagesAt, pages.data(), pages.size());
  if (!problem.empty()) {
    notes.push_back(name + problem);
    return;
  }
  // A dirty sector that starts a hive bin must hold a sound bin header, or
  // nothing of this log is applied.
  std::vector<std::uint64_t> targets;  // where each dirty sector goes in the hive
  for (std::size_t i = 0; i < bitmapBytes * 8; ++i) {
    if (!((bitmap[i / 8] >> (i % 8)) & 1)) continue;
    const std::uint64_t to = kBinsStart + i * kSector;
    const std::uint8_t* data = pages.data() + targets.size() * kSector;
    if (to % 4096 == 0 && std::memcmp(data, "hbin", 4) == 0 &&
        (le32(data + 4) != to - kBinsStart || le32(data + 8) % 4096 != 0)) {
      notes.push_back(name + "the dirty hive bin at " + hex(to) + " is damaged");
      return;
    }
    targets.push_back(to);
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    hive.putSectors(targets[i], pages.data() + i * kSector, kSector);
  }
  // The log's base block is the hive's as it was when the log was written.
  std::memcpy(hive.base(), log.sector, kSector);
  putLe32(hive.base() + base_field::kFileType, kPrimaryFile);
  storeBaseBlockChecksum(hive.base());
  hive.setBinsSize(b.binsSize);
  recovery.applied = true;
  notes.push_back("applied " + plural(targets.size(), "dirty sector", "dirty sectors") + " from " +
                  log.file->name);
}

std::string joined(const std::vector<std::string>& notes) {
  std::string line;
  for (const std::string& note : notes) line += (line.empty() ? "" : "; ") + note;
  return line;
}

}  // namespace

Recovery recoverHive(std::unique_ptr<ByteSource> primary, const std::uint8_t* base,
                     const std::vector<LogFile>& logs) {
  Recovery recovery;
  const BaseBlock primaryBase = parseBaseBlock(base);
  std::vector<LogHeader> headers;
  headers.reserve(logs.size());
  for (const LogFile& log : logs) {
    headers.push_back(readHeader(log, base, primaryBase.checksumValid));
  }
  // Notes on logs that cannot be used are told when nothing could be applied;
  // on those that could not be read, always: what they held is missing.
  std::vector<std::string> unusable;
  std::vector<std::string> unread;
  std::vector<std::string> notes;
  std::vector<const LogHeader*> newFormat;
  std::vector<const LogHeader*> oldFormat;
  bool complete = true;
  for (const LogHeader& h : headers) {
    if (!h.problem.empty()) {
      unusable.push_back(h.file->name + ": " + h.problem);
      if (h.unread) unread.push_back(unusable.back());
      complete = complete && !h.unread;
    } else {
      (h.base.fileType == kNewFormatLog ? newFormat : oldFormat).push_back(&h);
    }
  }
  auto hive = std::make_unique<RecoveredSource>(std::move(primary), base);
  // An old-format log applies when it was written with the primary's base
  // block (the same timestamp; the first bin keeps a copy for a damaged one).
  std::uint64_t timestamp = primaryBase.timestamp;
  std::uint8_t stamp[8];
  if (!primaryBase.checksumValid &&
      hive->read(kBinsStart + 20, stamp, 8).outcome == ReadStatus::Outcome::complete) {
    timestamp = le64(stamp);
  }
  // A primary whose base block is damaged takes a log's: of the new format's,
  // the oldest, so that every entry after it can follow; of the old format's,
  // one written to its end, written with the hive if one was.
  std::uint32_t firstSequence = primaryBase.primarySequence;
  const LogHeader* baseFrom = nullptr;
  if (!primaryBase.checksumValid) {
    for (const LogHeader* h : newFormat) {
      if (!baseFrom || h->base.primarySequence < baseFrom->base.primarySequence) baseFrom = h;
    }
    for (const LogHeader* h : oldFormat) {
      if (newFormat.empty() && h->base.primarySequence == h->base.secondarySequence &&
          (!baseFrom ||
           (h->base.timestamp == timestamp && baseFrom->base.timestamp != timestamp))) {
        baseFrom = h;
      }
    }
    if (!baseFrom) {
      recovery.report = joined(unusable);
      return recovery;
    }
    std::memcpy(hive->base(), baseFrom->sector, kSector);
    putLe32(hive->base() + base_field::kFileType, kPrimaryFile);
    storeBaseBlockChecksum(hive->base());
    hive->setBinsSize(baseFrom->base.binsSize);
    firstSequence = baseFrom->base.primarySequence;
    recovery.baseRecovered = true;
    notes.push_back("base block taken from " + baseFrom->file->name);
  }
  if (!newFormat.empty()) {
    complete = applyNewFormat(newFormat, firstSequence, *hive, recovery, notes) && complete;
  }
  // The log that gave the base block is the hive's state as it logged it: it
  // applies whatever time the damaged primary gives.
  for (const LogHeader* h : oldFormat) {
    if (recovery.applied) break;
    if (h->base.primarySequence != h->base.secondarySequence) {
      notes.push_back(h->file->name + ": it was not written to its end");
    } else if (h != baseFrom && h->base.timestamp != timestamp) {
      notes.push_back(h->file->name + ": written at another time than the hive");
    } else {
      applyOldFormat(*h, *hive, recovery, notes);
    }
  }
  if (recovery.applied) {
    notes.insert(notes.end(), unread.begin(), unread.end());
    if (!complete) notes.push_back("the hive may lack later changes");
  } else {
    notes.insert(notes.begin(), unusable.begin(), unusable.end());
    if (!notes.empty()) notes.back() += "; none applied";
  }
  recovery.complete = recovery.applied && complete;
  recovery.report = joined(notes);
  recovery.source = std::move(hive);
  return recovery;
}

}  // namespace hive
