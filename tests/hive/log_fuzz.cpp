// libFuzzer target for the transaction logs: a dirty hive and two logs from
// any bytes (a 4-byte length of the hive, one of LOG1, then the three), the
// logs applied and the fixtures' Exchange value read.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "hive/hive.h"
#include "memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 8;
  std::uint32_t lengths[2] = {};
  for (int i = 0; i < 2 && size >= 8; ++i) {
    for (int b = 0; b < 4; ++b) lengths[i] |= std::uint32_t{data[4 * i + b]} << (8 * b);
  }
  const auto part = [&](std::size_t want) {
    const std::size_t n = at > size ? 0 : std::min(want, size - at);
    auto source = std::make_unique<MemorySource>(data + std::min(at, size), n);
    at += n;
    return source;
  };
  std::unique_ptr<MemorySource> primary = part(lengths[0]);
  std::vector<hive::LogFile> logs;
  logs.push_back({"SOFTWARE.LOG1", part(lengths[1]), ""});
  logs.push_back({"SOFTWARE.LOG2", part(size), ""});
  hive::Result<hive::Hive> h = hive::Hive::fromSource(std::move(primary), std::move(logs));
  if (!h) return 0;
  hive::Result<hive::Key> key = h.value().findKey("Microsoft\\Exchange\\Setup");
  if (key) h.value().readValue(key.value(), "DigitalProductId");
  return 0;
}
