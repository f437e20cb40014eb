// Throughput of Md5::Update on buffers in cache, from one block to the size
// of the read buffer that Md5OfStream uses.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "support/md5.h"

namespace {

void BM_Md5Update(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  std::vector<char> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 131 + 7);
  mb::Md5 md5;
  for (auto _ : state) {
    md5.Update(data.data(), data.size());
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(md5.Finish());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5Update)->RangeMultiplier(8)->Range(64, 256 << 10);

// A whole message: Update plus the padding and the final block.
void BM_Md5Message(benchmark::State& state) {
  std::vector<char> data(static_cast<std::size_t>(state.range(0)), 'm');
  for (auto _ : state) {
    mb::Md5 md5;
    md5.Update(data.data(), data.size());
    benchmark::DoNotOptimize(md5.Finish());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5Message)->Arg(0)->Arg(55)->Arg(4096);

}  // namespace
