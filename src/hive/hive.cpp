#include "hive/hive.h"

#include "hive/hive_impl.h"

// Layout of a hive file, as read here:
//   0x0000  base block (4096 bytes): "regf", sequence numbers, version, root
//           cell offset, size of the hive bins, XOR checksum at 508
//   0x1000  hive bins: "hbin" headers of 32 bytes, each bin a multiple of
//           4096 bytes, filled with cells
// Cells are read in cells.cpp, the records in them in records.cpp, keys and
// values found in lookup.cpp, and a hive opened in opening.cpp.

namespace hive {

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

}  // namespace hive
