// Decoding speed: the decoder against the plain long division it replaces.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "common/key_oracle.h"
#include "keys/product_key_decoder.h"

namespace {

std::vector<std::array<std::uint8_t, 15>> randomWindows() {
  std::mt19937_64 random(42);
  std::vector<std::array<std::uint8_t, 15>> windows(1024);
  for (auto& w : windows) {
    for (auto& byte : w) byte = static_cast<std::uint8_t>(random());
  }
  return windows;
}

template <std::string (*decode)(std::array<std::uint8_t, 15>)>
void decodeRandomWindows(benchmark::State& state) {
  const auto windows = randomWindows();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decode(windows[i++ & 1023]));
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(decodeRandomWindows<keys::decodeProductKey>)->Name("decodeProductKey");
BENCHMARK(decodeRandomWindows<decodeByLongDivision>)->Name("longDivision");

}  // namespace
