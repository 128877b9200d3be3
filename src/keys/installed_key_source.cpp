#include "keys/installed_key_source.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "keys/product_key_decoder.h"
#include "platform/registry.h"
#include "platform/unique_handle.h"

namespace {

constexpr char kSetupKey[] = "SOFTWARE\\Microsoft\\Exchange\\Setup";
constexpr char kProductIdValue[] = "DigitalProductId";
constexpr char kProductName[] = "Microsoft Exchange";

// The value is read into a zeroed buffer one byte larger than the capacity the
// query is given; a longer value fails the query for lack of room.
constexpr platform::RegDword kQueryCapacity = 164;
constexpr std::size_t kBufferSize = kQueryCapacity + 1;
// Where the packed key lies in the value. A shorter value leaves zeros there.
constexpr std::size_t kKeyWindowOffset = 52;

// Closes the opened key however the lookup ends.
using UniqueKey = platform::UniqueHandle<platform::RegKey, platform::regCloseKey>;

}  // namespace

std::string getExchangeKey() {
  UniqueKey setup;
  if (platform::regOpenKeyA(platform::hkeyLocalMachine(), kSetupKey, setup.receive()) !=
      platform::kErrorSuccess) {
    return {};
  }
  std::array<std::uint8_t, kBufferSize> buffer{};
  platform::RegDword size = kQueryCapacity;
  // The type is only passed in; the data is used whatever type is stored.
  platform::RegDword type = platform::kRegBinary;
  if (platform::regQueryValueExA(setup.get(), kProductIdValue, nullptr, &type, buffer.data(),
                                 &size) != platform::kErrorSuccess) {
    return {};
  }
  std::array<std::uint8_t, 15> window{};
  std::copy_n(buffer.begin() + kKeyWindowOffset, window.size(), window.begin());
  return decodeProductKey(window);
}

std::string getExchangeVersion() { return kProductName; }
