#include "hive/transaction_log.h"

#include <algorithm>
#include <cstring>

#include "hive/base_block.h"
#include "hive/hive_bin.h"
#include "hive/little_endian.h"
#include "hive/log_entry.h"
#include "hive/log_plan.h"
#include "hive/marvin32.h"
#include "hive/recovered_source.h"
#include "result/result.h"
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

constexpr std::size_t kEntryHeader = entry_field::kPages;

std::string hex(std::uint64_t v) { return text::hexText(v); }

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// All `length` bytes read, or why not.
using LogRead = tamsket::Status<std::string>;

LogRead readLog(const LogFile& log, std::uint64_t at, void* out, std::size_t length) {
  const ReadStatus status = log.bytes->read(at, out, length);
  if (status.outcome == ReadStatus::Outcome::complete) return {};
  if (status.outcome == ReadStatus::Outcome::pastEnd) {
    return LogRead("it ends at " + hex(log.bytes->size()));
  }
  return LogRead("cannot read " + std::to_string(length) + " bytes at offset " + hex(at) + ": " +
                 status.reason);
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
  if (LogRead read = readLog(log, 0, h.sector, kSector); !read) {
    h.problem = read.error();
    return h;
  }
  h.base = parseBaseBlock(h.sector);
  const std::uint32_t type = h.base.fileType;
  if (!h.base.signature || (type != 1 && type != 2 && type != kNewFormatLog)) {
    h.problem = "not a transaction log";
  } else if (!h.base.checksumValid) {
    h.problem = "its base block fails its checksum";
  } else if (primaryValid) {
    const std::u16string name = embeddedFileName(h.sector);
    const std::u16string primaryName = embeddedFileName(primaryBase);
    if (!name.empty() && !primaryName.empty() && name != primaryName) {
      h.problem = "a log of another hive (" + text::utf16ToUtf8(name.data(), name.size()) + ")";
    }
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
  std::uint64_t hashes[2] = {};     // as its header gives them
  std::vector<std::uint8_t> bytes;  // the whole entry as read and hashed, once
};

// What reading an entry came to: a sound entry, the end of the entries, or
// damage (what is wrong with it).
struct EntryRead {
  enum class Outcome { sound, end, damaged };
  Outcome outcome = Outcome::sound;
  std::string damage;
  static EntryRead end() { return {Outcome::end, {}}; }
  static EntryRead damaged(std::string why) { return {Outcome::damaged, std::move(why)}; }
};

// Reads and checks the entry at `at` into entry.bytes: each byte is read and
// hashed once, and what is applied later is what was hashed here.
EntryRead readEntry(const LogHeader& log, std::uint64_t at, Entry& entry) {
  std::vector<std::uint8_t>& bytes = entry.bytes;
  const std::uint64_t fileSize = log.file->bytes->size();
  std::uint8_t h[kEntryHeader];
  if (fileSize - at < 4) return EntryRead::end();
  if (fileSize - at < kEntryHeader) {
    if (!readLog(*log.file, at, h, 4) || std::memcmp(h, "HvLE", 4) != 0) return EntryRead::end();
    return EntryRead::damaged("is cut short by the end of the file");
  }
  if (LogRead read = readLog(*log.file, at, h, sizeof h); !read) {
    return EntryRead::damaged(read.error());
  }
  const EntryHeader header = parseEntryHeader(h);
  if (!header.signature) return EntryRead::end();
  entry.at = at;
  entry.size = header.size;
  entry.sequence = header.sequence;
  entry.numbered = true;
  entry.binsSize = header.binsSize;
  entry.hashes[0] = header.dataHash;
  entry.hashes[1] = header.headerHash;
  const std::uint32_t pages = header.pageCount;
  if (entry.size < kEntryHeader || entry.size % kSector != 0) {
    return EntryRead::damaged("has a size of " + hex(entry.size) +
                              ", not a whole number of sectors");
  }
  if (entry.size > fileSize - at) return EntryRead::damaged("is cut short by the end of the file");
  bytes.resize(entry.size);
  if (LogRead read = readLog(*log.file, at, bytes.data(), bytes.size()); !read) {
    return EntryRead::damaged(read.error());
  }
  // The pages are laid out as `bytes` says; it must say what was checked.
  if (std::memcmp(bytes.data(), h, kEntryHeader) != 0) {
    return EntryRead::damaged("changed while it was read");
  }
  if (marvin32(kLogEntrySeed, bytes.data() + kEntryHeader, entry.size - kEntryHeader) !=
          entry.hashes[0] ||
      marvin32(kLogEntrySeed, bytes.data(), entry_field::kHeaderHashed) != entry.hashes[1]) {
    return EntryRead::damaged("fails its hash");
  }
  if (!isWholePages(entry.binsSize)) {
    return EntryRead::damaged("gives a hive bins size of " + hex(entry.binsSize));
  }
  std::uint64_t need = kEntryHeader + std::uint64_t{pages} * kPageRefSize;
  for (std::uint32_t i = 0; i < pages && need <= entry.size; ++i) {
    const PageRef page = pageRef(bytes.data(), i);
    if (page.offset % kSector || page.length == 0 || page.length % kSector ||
        std::uint64_t{page.offset} + page.length > entry.binsSize) {
      return EntryRead::damaged("logs a page of " + hex(page.length) + " bytes at " +
                                hex(kBinsStart + page.offset) + " outside the hive bins");
    }
    need += page.length;
  }
  if (need > entry.size) return EntryRead::damaged("lists more pages than it holds");
  return {};
}

// Lays a checked entry's pages over the hive, which keeps its bytes.
void applyEntry(std::vector<std::uint8_t> entry, RecoveredSource& hive) {
  const std::uint8_t* bytes = hive.hold(std::move(entry));
  const std::uint32_t pages = le32(bytes + entry_field::kPageCount);
  std::size_t data = kEntryHeader + std::size_t{pages} * kPageRefSize;
  for (std::uint32_t i = 0; i < pages; ++i) {
    const PageRef page = pageRef(bytes, i);
    hive.putSectors(kBinsStart + page.offset, bytes + data, page.length);
    data += page.length;
  }
}

// A file's sound entries, in file order, and what ended them.
struct EntryScan {
  std::vector<Entry> entries;
  bool damaged = false;  // else its entries ended cleanly
  std::string damage;
  Entry damagedEntry;  // its index, its number if it could be read
};

EntryScan scanEntries(const LogHeader& log) {
  EntryScan scan;
  std::uint64_t at = kSector;
  for (std::size_t index = 1;; ++index) {
    Entry entry;
    entry.log = &log;
    entry.index = index;
    EntryRead read = readEntry(log, at, entry);
    if (read.outcome == EntryRead::Outcome::end) break;
    if (read.outcome == EntryRead::Outcome::damaged) {
      scan.damaged = true;
      scan.damage = std::move(read.damage);
      entry.bytes = {};
      scan.damagedEntry = std::move(entry);
      break;
    }
    at += entry.size;
    scan.entries.push_back(std::move(entry));
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

std::string entryNote(const LogHeader& log, std::size_t index, const std::string& problem) {
  return log.file->name + ": entry " + std::to_string(index) + " " + problem;
}

// What became of the new-format logs, told from their plan.
void describePlan(const LogPlan& plan, const std::vector<const LogHeader*>& logs,
                  const std::vector<EntryScan>& scans, std::uint32_t firstSequence,
                  std::vector<std::string>& notes) {
  std::vector<std::string> damage;
  for (std::size_t file : plan.damagedFiles) {
    damage.push_back(entryNote(*logs[file], scans[file].damagedEntry.index, scans[file].damage));
  }
  const auto afterName = [&] { return logs[plan.after.file]->file->name; };
  if (!plan.apply.empty()) {
    std::vector<const LogHeader*> used;
    for (const PlannedEntry& e : plan.apply) {
      if (std::find(used.begin(), used.end(), logs[e.file]) == used.end()) {
        used.push_back(logs[e.file]);
      }
    }
    notes.push_back("applied " + plural(plan.apply.size(), "entry", "entries") + " from " +
                    namesOf(used));
    notes.insert(notes.end(), damage.begin(), damage.end());
    if (plan.goesOn) {
      notes.push_back(afterName() + " goes on at sequence number " +
                      std::to_string(plan.after.sequence) + ", not " + std::to_string(plan.next));
    }
  } else if (!damage.empty()) {
    notes.insert(notes.end(), damage.begin(), damage.end());
  } else if (plan.empty) {
    notes.push_back(namesOf(logs) + (logs.size() == 1 ? " holds" : " hold") + " no entries");
  } else {
    notes.push_back(!plan.goesOn
                        ? namesOf(logs) + ": no entry is newer than the hive (sequence number " +
                              std::to_string(firstSequence) + ")"
                        : afterName() + ": its entries go on at sequence number " +
                              std::to_string(plan.after.sequence) + ", the hive needs " +
                              std::to_string(firstSequence));
  }
}

// The new format: the entries the plan names, each read again and applied.
// Returns whether they ran to their end.
bool applyNewFormat(const std::vector<const LogHeader*>& logs, std::uint32_t firstSequence,
                    RecoveredSource& hive, Recovery& recovery, std::vector<std::string>& notes) {
  std::vector<EntryScan> scans;
  std::vector<ScannedLog> scanned;
  for (const LogHeader* log : logs) {
    scans.push_back(scanEntries(*log));
    const EntryScan& scan = scans.back();
    ScannedLog s;
    for (const Entry& e : scan.entries) s.sequences.push_back(e.sequence);
    s.damaged = scan.damaged;
    s.numbered = scan.damagedEntry.numbered;
    s.damagedSequence = scan.damagedEntry.sequence;
    scanned.push_back(std::move(s));
  }
  const LogPlan plan = planLogEntries(scanned, firstSequence);
  for (const PlannedEntry& planned : plan.apply) {
    Entry& entry = scans[planned.file].entries[planned.index - 1];
    applyEntry(std::move(entry.bytes), hive);
    hive.setBinsSize(entry.binsSize);
  }
  if (!plan.apply.empty()) {
    const Entry& last = scans[plan.apply.back().file].entries[plan.apply.back().index - 1];
    recovery.applied = true;
    putLe32(hive.base() + base_field::kPrimarySequence, last.sequence);
    putLe32(hive.base() + base_field::kSecondarySequence, last.sequence);
    putLe32(hive.base() + base_field::kBinsSize, last.binsSize);
    storeBaseBlockChecksum(hive.base());
  }
  describePlan(plan, logs, scans, firstSequence, notes);
  return plan.complete();
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
  if (!isWholePages(b.binsSize)) {
    notes.push_back(name + "it gives a hive bins size of " + hex(b.binsSize));
    return;
  }
  const std::uint64_t sector = kSector * b.clustering;
  const std::uint64_t fileSize = log.file->bytes->size();
  const std::size_t bitmapBytes = b.binsSize / kSector / 8;
  if (sector + kDirtyBitmap + bitmapBytes > fileSize) {
    notes.push_back(name + "its dirty vector runs past the end of the file");
    return;
  }
  std::vector<std::uint8_t> vector(kDirtyBitmap + bitmapBytes);
  const LogRead read = readLog(*log.file, sector, vector.data(), vector.size());
  if (!read || std::memcmp(vector.data(), "DIRT", 4) != 0) {
    notes.push_back(name + (read ? "no dirty vector (\"DIRT\") in it" : read.error()));
    return;
  }
  const std::uint8_t* bitmap = vector.data() + kDirtyBitmap;
  std::uint64_t dirty = 0;
  for (std::size_t i = 0; i < bitmapBytes; ++i) {
    for (int bit = 0; bit < 8; ++bit) dirty += (bitmap[i] >> bit) & 1;
  }
  const std::uint64_t pagesAt =
      (sector + kDirtyBitmap + bitmapBytes + sector - 1) / sector * sector;
  if (dirty * kSector > fileSize - std::min(fileSize, pagesAt)) {
    notes.push_back(name + "its dirty vector names " + std::to_string(dirty) +
                    " sectors, more than the file holds");
    return;
  }
  std::vector<std::uint8_t> pages(static_cast<std::size_t>(dirty) * kSector);
  if (const LogRead pagesRead = readLog(*log.file, pagesAt, pages.data(), pages.size());
      !pagesRead) {
    notes.push_back(name + pagesRead.error());
    return;
  }
  // A dirty sector that starts a hive bin must hold a sound bin header, or
  // nothing of this log is applied.
  std::vector<std::uint64_t> targets;  // where each dirty sector goes in the hive
  for (std::size_t i = 0; i < bitmapBytes * 8; ++i) {
    if (!((bitmap[i / 8] >> (i % 8)) & 1)) continue;
    const std::uint64_t to = kBinsStart + i * kSector;
    const std::uint8_t* data = pages.data() + targets.size() * kSector;
    if (to % kPageSize == 0 && parseBinHeader(data).signature &&
        binFault(parseBinHeader(data), to, kBinsStart + b.binsSize) != BinFault::none) {
      notes.push_back(name + "the dirty hive bin at " + hex(to) + " is damaged");
      return;
    }
    targets.push_back(to);
  }
  const std::uint8_t* held = hive.hold(std::move(pages));
  for (std::size_t i = 0; i < targets.size(); ++i) {
    hive.putSectors(targets[i], held + i * kSector, kSector);
  }
  // The log's base block is the hive's as it was when the log was written.
  hive.adoptBaseBlock(log.sector, b.binsSize);
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
      hive->read(kBinsStart + bin_field::kTimestamp, stamp, 8).outcome ==
          ReadStatus::Outcome::complete) {
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
    hive->adoptBaseBlock(baseFrom->sector, baseFrom->base.binsSize);
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
