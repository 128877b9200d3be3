#include "keys/product_id_value.h"

#include "keys/product_key_decoder.h"

namespace keys {

namespace {

// The product id field: 24 bytes of text from offset 8, before the key index at 32.
constexpr std::size_t kProductIdOffset = 8;
constexpr std::size_t kProductIdFieldEnd = 32;

std::optional<std::string> readProductId(const std::uint8_t* data, std::size_t size) {
  // A value that ends inside the field holds no product id, whatever text
  // (a short REG_SZ, say) happens to lie there.
  if (size < kProductIdFieldEnd) return std::nullopt;
  const std::size_t end = size < kKeyWindowOffset ? size : kKeyWindowOffset;
  std::string text;
  for (std::size_t i = kProductIdOffset; i < end; ++i) {
    if (data[i] == 0) {
      if (text.empty()) return std::nullopt;
      return text;
    }
    if (data[i] < 0x20 || data[i] > 0x7E) return std::nullopt;
    text.push_back(static_cast<char>(data[i]));
  }
  return std::nullopt;
}

}  // namespace

ProductIdValue parseProductIdValue(const std::uint8_t* data, std::size_t size) {
  ProductIdValue value;
  value.productId = readProductId(data, size);
  if (size >= kKeyWindowOffset + kKeyWindowSize)
    value.key = decodeProductKey(keyWindowOf(data, size));
  return value;
}

}  // namespace keys
