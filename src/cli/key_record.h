#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hive/hive.h"
#include "keys/product_id_value.h"

namespace cli {

// Where a record's value came from.
enum class SourceKind { registry, computer, hive, image };
// The registry view a value was read in; none where no single view applies.
enum class View { none, bits32, bits64 };
enum class Status { found, absent, invalid, error };
using hive::HiveState;

// The console program's own reasons, beside the hive reader's.
enum class SourceError {
  noHiveFound,
  cannotConnect,
  accessDenied,
  registryError,
  valueTooShort,
  notADiskImage,        // no image format, partition table or file system in the file
  noNtfsVolume,         // an image without an NTFS volume
  encryptedVolume,      // a BitLocker volume, to be unlocked first
  damagedImage,         // an image the library cannot read as it declares itself
  noImageSupport,       // the image module, or a library it needs, is not installed
  brokenSnapshotChain,  // a snapshot's parent missing or another disk, a loop, too deep
};
// Why a record holds no key: nothing, a hive reader's code or one of the program's own.
using ErrorCode = std::variant<std::monostate, hive::ErrorCode, SourceError>;

// One place a DigitalProductId was looked for, and what came of it. Texts are UTF-8.
struct KeyRecord {
  SourceKind source = SourceKind::hive;
  std::string location;  // the computer's name, the hive file's path, or where in an image
  View view = View::none;
  Status status = Status::absent;
  std::string place;  // the key read, or what was searched, for people
  std::string key;    // the decoded key when found
  std::optional<std::string> productId;
  std::optional<std::uint32_t> valueType;
  std::optional<std::uint64_t> valueSize;
  std::optional<HiveState> hiveState;
  bool hasLogFiles = false;  // a dirty hive's .LOG, .LOG1 or .LOG2 lie beside it
  bool logsIgnored = false;  // read as it lies (--no-logs)
  ErrorCode errorCode;       // set for error and invalid records
  std::string errorMessage;
  std::string hint;                 // why the record may not be what was meant, for people
  std::optional<std::string> logs;  // what became of a hive's transaction logs
};

// Fills status, key, product id, type and size from a DigitalProductId value of
// any size and type: the key comes from bytes 52..66 of a value of at least 67
// bytes; a shorter one is invalid.
void decodeValue(std::uint32_t type, const std::vector<std::uint8_t>& data, KeyRecord& record);

// "REG_BINARY", "REG_SZ", ... for the registry's value types; "0x%X" for others.
std::string valueTypeName(std::uint32_t type);

const char* sourceName(SourceKind source);   // "registry", "computer", "hive", "image"
const char* viewName(View view);             // "32-bit", "64-bit", or null for none
const char* statusName(Status status);       // "found", "absent", "invalid", "error"
const char* hiveStateName(HiveState state);  // "clean", "dirty", "recovered"
// The hive reader's names ("cannot-open", ...), "no-hive-found", "cannot-connect",
// "access-denied", "registry-error", "value-too-short", "not-a-disk-image",
// "no-ntfs-volume", "encrypted-volume", "damaged-image", "broken-snapshot-chain"; "" for none.
const char* errorCodeName(const ErrorCode& code);

}  // namespace cli
