// Opening a hive: its base block checked, its logs found and, when it is
// dirty, applied, then its first bin and root key checked.
#include <algorithm>
#include <cstring>

#include "hive/base_block.h"
#include "hive/file_source.h"
#include "hive/folder.h"
#include "hive/hive_bin.h"
#include "hive/hive_impl.h"
#include "hive/little_endian.h"
#include "hive/transaction_log.h"

namespace hive {

using tamsket::Status;

Result<Hive> Hive::fromSource(std::unique_ptr<ByteSource> source) {
  return load(std::move(source), nullptr);
}

Result<Hive> Hive::fromSource(std::unique_ptr<ByteSource> source, std::vector<LogFile> logs) {
  return load(std::move(source), &logs);
}

namespace {

// The base block as the file begins: "regf" and all 4096 bytes there.
Status<Error> readBaseBlock(const CellReader& file, std::uint8_t* base) {
  const std::uint64_t fileSize = file.source->size();
  const std::size_t have =
      static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kBaseBlockSize));
  if (have) {
    if (auto e = file.readAt(0, base, have)) return *e;
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
  return {};
}

// The fields of a base block to be read from, once it is the hive's own.
Status<Error> checkBaseBlock(const BaseBlock& block) {
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
  if (!isWholePages(block.binsSize)) {
    return corruptAt("base block", base_field::kBinsSize,
                     "the hive bins' size " + hex(block.binsSize) + " is " + notWholePages());
  }
  return {};
}

}  // namespace

// Applies `logs` to a dirty hive, its source and `base` becoming the recovered
// ones; a base block that fails its checksum must then come from a log.
Status<Error> Hive::recover(Impl& impl, std::uint8_t* base, const std::vector<LogFile>& logs) {
  const BaseBlock block = parseBaseBlock(base);
  // No field of a base block that fails its checksum is trusted.
  const std::string damaged = "corrupt: the base block is damaged: its checksum at offset " +
                              hex(base_field::kChecksum) + " is " + hex(block.checksum) +
                              ", its bytes give " + hex(baseBlockChecksum(base));
  if (logs.empty()) {
    if (!block.checksumValid) return Error{ErrorCode::corrupt, damaged};
    impl.logReport = "none beside it";
    return {};
  }
  Recovery recovery = recoverHive(std::move(impl.source), base, logs);
  if (!recovery.source) {
    return Error{ErrorCode::corrupt, damaged + " (no log beside it holds a sound copy" +
                                         (recovery.report.empty() ? "" : ": " + recovery.report) +
                                         ")"};
  }
  impl.source = std::move(recovery.source);
  impl.logReport = recovery.report;
  if (recovery.complete) impl.state = HiveState::recovered;
  if (auto e = impl.readAt(0, base, kBaseBlockSize)) return *e;
  return {};
}

// `logs`: null to read the file as it lies, else the logs to apply when it is dirty.
Result<Hive> Hive::load(std::unique_ptr<ByteSource> source, std::vector<LogFile>* logs) {
  auto impl = std::make_unique<Impl>();
  impl->source = std::move(source);
  std::uint8_t base[kBaseBlockSize] = {};
  if (Status<Error> read = readBaseBlock(*impl, base); !read) return read.error();
  BaseBlock block = parseBaseBlock(base);
  const bool dirty = !block.checksumValid || block.primarySequence != block.secondarySequence;
  impl->state = dirty ? HiveState::dirty : HiveState::clean;
  if (logs && !dirty && !logs->empty()) impl->logReport = "not applied: the hive is clean";
  if (logs && dirty) {
    if (Status<Error> recovered = recover(*impl, base, *logs); !recovered) {
      return recovered.error();
    }
    block = parseBaseBlock(base);
  }
  if (Status<Error> sound = checkBaseBlock(block); !sound) return sound.error();
  impl->minor = block.minor;
  impl->embeddedName = embeddedFileName(base);
  impl->binsSize = block.binsSize;
  impl->rootCell = block.rootCell;
  impl->binsEnd = kBinsStart + impl->binsSize;
  const std::uint64_t size = impl->source->size();
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

}  // namespace hive
