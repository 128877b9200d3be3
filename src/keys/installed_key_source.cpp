#include "keys/installed_key_source.h"

#include <array>
#include <cstdint>

#include "keys/product_id_value.h"
#include "keys/product_key_decoder.h"
#include "platform/registry.h"

namespace keys {

namespace {

// The value is read into a zeroed buffer one byte larger than the capacity the
// query is given; a longer value fails the query for lack of room.
constexpr platform::RegDword kQueryCapacity = 164;
constexpr std::size_t kBufferSize = kQueryCapacity + 1;

}  // namespace

std::string getExchangeKey() {
  platform::UniqueKey setup;
  if (platform::regOpenKeyA(platform::hkeyLocalMachine(), kSetupKey, setup.receive()) !=
      platform::kErrorSuccess) {
    return {};
  }
  std::array<std::uint8_t, kBufferSize> buffer{};
  platform::RegDword size = kQueryCapacity;
  // The type is only passed in; the data is used whatever type is stored.
  platform::RegDword type = platform::kRegBinary;
  if (platform::regQueryValueExA(setup.get(), kProductIdValueName, nullptr, &type, buffer.data(),
                                 &size) != platform::kErrorSuccess) {
    return {};
  }
  // Whatever the value's size: a shorter one leaves the buffer's zeros in the window.
  return decodeProductKey(keyWindowOf(buffer.data(), buffer.size()));
}

std::string getExchangeVersion() { return kProductName; }

}  // namespace keys
