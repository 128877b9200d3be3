#pragma once

// A read-only reader of Windows registry files ("regf" hives), portable C++17
// needing only the standard library, the text module and the result type. It
// never writes to the file and trusts nothing in it: every offset, count and
// length is checked before use, and damage is reported as an Error value,
// never a crash or a hang.
//
// Names are compared as Windows compares them for ASCII and Latin-1 letters
// (case-insensitively); other UTF-16 code units are compared exactly.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "result/result.h"
#include "text/text.h"

namespace hive {

// Stable codes: callers and scripts may rely on their names (errorCodeName).
enum class ErrorCode {
  cannotOpen,          // the file could not be opened (the system's reason in the message)
  notAFile,            // a pipe, a device or a socket, not a file that can be read at any offset
  inUse,               // another program holds the file open without sharing it
  notARegistryFile,    // no "regf" signature, or not a primary hive file
  truncated,           // the file ends before the data its base block declares
  readError,           // the system failed a read (a failing disk; its words in the message)
  unsupportedVersion,  // a format version other than 1.3 to 1.6
  corrupt,             // a structure is damaged (what and where in the message)
  keyNotFound,
  valueNotFound,
};

// "cannot-open", "not-a-file", "in-use", "not-a-registry-file", "truncated",
// "read-error", "unsupported-version", "corrupt", "key-not-found", "value-not-found".
const char* errorCodeName(ErrorCode code);

struct Error {
  ErrorCode code;
  std::string message;  // one line a person can act on, in English
                        // (offsets in it are file offsets, as a hex editor shows them)
};

template <typename T>
using Result = tamsket::Result<T, Error>;

// Clean: the base block's sequence numbers agree and its checksum is right.
// Dirty: the hive was not closed cleanly and is read as it lies, or with only
// part of its logs: its contents may be older than the transaction logs beside
// it (none, none usable, not applied, or one that could not be read or whose
// entries stop short). Recovered: it was not closed cleanly, every log beside
// it was read, and their entries were applied in memory to their end, as
// Windows applies them when it loads the hive.
enum class HiveState { clean, dirty, recovered };

// Whether a dirty hive's transaction logs are applied, or the file read as it lies.
enum class Logs { apply, ignore };

// What became of a read: every byte came, the file ended first, or the system
// failed it (the reader reports these as truncated and readError).
struct ReadStatus {
  enum class Outcome { complete, pastEnd, failed };
  Outcome outcome = Outcome::complete;
  std::string reason;  // when failed: the system's words ("Input/output error")
  static ReadStatus pastEnd() { return {Outcome::pastEnd, {}}; }
  static ReadStatus failed(std::string reason) { return {Outcome::failed, std::move(reason)}; }
};

// Where the reader gets the file's bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Copies `length` bytes at `offset` into `out`, all of them or the status says why not.
  virtual ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const = 0;
};

// A transaction log beside a hive: its file name (for messages) and its bytes,
// or why it could not be opened.
struct LogFile {
  std::string name;
  std::unique_ptr<ByteSource> bytes;
  std::string openProblem;  // when bytes is null
};

class Folder;

struct Value {
  std::uint32_t type = 0;  // REG_BINARY = 3, REG_SZ = 1, ...
  std::vector<std::uint8_t> data;
};

// A key found in the hive: the offset of its nk cell.
struct Key {
  std::uint32_t cell = 0;
};

class Hive {
 public:
  // Opens the file read-only, sharing it with every other reader and writer,
  // and, when it is dirty, the transaction logs beside it likewise.
  static Result<Hive> open(const text::PathString& path, Logs logs = Logs::apply);
  // The hive `name` of `folder`, with its logs "<name>.LOG", ".LOG1" and
  // ".LOG2" in any letter case from the same folder.
  static Result<Hive> openIn(const Folder& folder, const std::string& name,
                             Logs logs = Logs::apply);
  // Reads a hive held elsewhere (in memory, for example) as it lies.
  static Result<Hive> fromSource(std::unique_ptr<ByteSource> source);
  // Reads a hive held elsewhere, applying `logs` when it is dirty. A base
  // block that fails its checksum is then taken from a log, or is corrupt.
  static Result<Hive> fromSource(std::unique_ptr<ByteSource> source, std::vector<LogFile> logs);

  HiveState state() const;
  // Whether "<name>.LOG", ".LOG1" or ".LOG2" lies beside the file (open and openIn).
  bool hasLogFiles() const;
  // What became of the logs, in one line ("applied 13 entries from
  // SOFTWARE.LOG1 and SOFTWARE.LOG2", "none beside it", ...); "" for a clean
  // hive without logs, and for one read as it lies.
  const std::string& logReport() const;
  // 3 to 6: the format's minor version.
  std::uint32_t minorVersion() const;
  // The file name the base block keeps: the end of the path Windows loaded the
  // hive from ("emRoot\System32\Config\SOFTWARE"), up to 32 UTF-16 units; may be empty.
  std::u16string embeddedName() const;

  Key root() const;
  // The key at `path` below the root, names separated by '\' and given in
  // UTF-8 ("Microsoft\\Exchange\\Setup"); an empty path is the root. Empty parts
  // (a leading, trailing or doubled '\') are skipped.
  Result<Key> findKey(std::string_view path) const;
  // The value `name` (UTF-8; "" is the key's default value) of `key`.
  Result<Value> readValue(Key key, std::string_view name) const;

  Hive(Hive&&) noexcept;
  Hive& operator=(Hive&&) noexcept;
  ~Hive();

 private:
  struct Impl;
  explicit Hive(std::unique_ptr<Impl> impl);
  static Result<Hive> load(std::unique_ptr<ByteSource> source, std::vector<LogFile>* logs);
  static tamsket::Status<Error> recover(Impl& impl, std::uint8_t* base,
                                        const std::vector<LogFile>& logs);
  static Result<Hive> openWithLogs(std::unique_ptr<ByteSource> source, const Folder& folder,
                                   const std::string& name, Logs logs);
  std::unique_ptr<Impl> impl_;
};

}  // namespace hive
