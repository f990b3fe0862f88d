// Throughput of the file stream: a 64 MiB file written and read through
// TSFSFileStream with methods 0, 2, 6 and 8, in block-sized calls, inside an
// unencrypted container on disk. The baseline of the same run is the codec
// itself: CompressBuffer and DecompressBuffer over the same bytes cut into
// the same blocks, with no container underneath.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"
#include "container/api/FileStream.h"
#include "container/api/SingleFileSystem.h"
#include "container/compress/SFSCompress.h"

namespace {

constexpr int64_t kFileSize = int64_t{64} << 20;

// Mixed text: words, numbers and line breaks, with a few binary stretches.
const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    static const char* const words[] = {
        "price ", "project ",       "quantity ",    "unit ",  "labour ",   "material ", "machine ",
        "total ", "section ",       "item ",        "steel ", "concrete ", "m3 ",       "t ",
        "=\r\n",  "[FILEINFO]\r\n", "ProductName=", "rate ",  "0.00 ",     "sum "};
    std::mt19937 rng(7);
    std::vector<uint8_t> d;
    d.reserve(static_cast<size_t>(kFileSize) + 64);
    while (static_cast<int64_t>(d.size()) < kFileSize) {
      const uint32_t r = rng();
      if (r % 97 == 0) {
        for (int i = 0; i < 64; ++i) d.push_back(static_cast<uint8_t>(rng()));
      } else if (r % 3 == 0) {
        const std::string n = std::to_string(rng() % 100000) + " ";
        d.insert(d.end(), n.begin(), n.end());
      } else {
        const char* w = words[r % (sizeof words / sizeof words[0])];
        d.insert(d.end(), w, w + std::strlen(w));
      }
    }
    d.resize(static_cast<size_t>(kFileSize));
    return d;
  }();
  return data;
}

using zk::bench::Dir;

std::string ContainerName(uint8_t method) {
  return Dir() / ("stream-" + std::to_string(method) + ".sfs");
}

// Writes the whole file through a file stream in block-sized calls.
void WriteFile(zk::TSingleFileSystem& fs, uint8_t method) {
  const auto block = static_cast<size_t>(zk::BlockSizeForMethod(method));
  const std::vector<uint8_t>& data = Data();
  zk::TSFSFileStream s(&fs, "\\data.bin", 0xFFFF, {}, {}, {}, method);
  for (size_t at = 0; at < data.size(); at += block) {
    const size_t n = std::min(block, data.size() - at);
    s.WriteBuffer(data.data() + at, static_cast<int32_t>(n));
  }
}

void SetCounters(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() * kFileSize);
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(kFileSize) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

void BM_StreamWrite(benchmark::State& state) {
  const auto method = static_cast<uint8_t>(state.range(0));
  Data();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(ContainerName(method));
    auto fs = zk::TSingleFileSystem::Create(ContainerName(method), 0xFFFF, {}, {}, {}, method);
    state.ResumeTiming();
    WriteFile(*fs, method);
    state.PauseTiming();
    fs.reset();
    state.ResumeTiming();
  }
  SetCounters(state);
}

void BM_StreamRead(benchmark::State& state) {
  const auto method = static_cast<uint8_t>(state.range(0));
  {
    std::filesystem::remove(ContainerName(method));
    auto fs = zk::TSingleFileSystem::Create(ContainerName(method), 0xFFFF, {}, {}, {}, method);
    WriteFile(*fs, method);
  }
  auto fs = zk::TSingleFileSystem::Create(ContainerName(method), 0);
  const auto block = zk::BlockSizeForMethod(method);
  std::vector<uint8_t> buffer(static_cast<size_t>(block));
  for (auto _ : state) {
    zk::TSFSFileStream s(fs.get(), "\\data.bin", 0);
    int64_t total = 0;
    while (const int32_t n = s.Read(buffer.data(), block)) total += n;
    if (total != kFileSize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  SetCounters(state);
}

// The codec alone: the same blocks compressed and decompressed in memory.
void BM_CodecCompress(benchmark::State& state) {
  const auto method = static_cast<uint8_t>(state.range(0));
  const auto block = static_cast<size_t>(zk::BlockSizeForMethod(method));
  const std::vector<uint8_t>& data = Data();
  for (auto _ : state) {
    for (size_t at = 0; at < data.size(); at += block) {
      const auto n = static_cast<int32_t>(std::min(block, data.size() - at));
      std::vector<uint8_t> out;
      int32_t outSize = 0;
      if (!zk::CompressBuffer(data.data() + at, n, out, method, outSize)) {
        state.SkipWithError("compression failed");
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
  SetCounters(state);
}

void BM_CodecDecompress(benchmark::State& state) {
  const auto method = static_cast<uint8_t>(state.range(0));
  const auto block = static_cast<size_t>(zk::BlockSizeForMethod(method));
  const std::vector<uint8_t>& data = Data();
  std::vector<std::vector<uint8_t>> packed;
  std::vector<int32_t> sizes;
  for (size_t at = 0; at < data.size(); at += block) {
    const auto n = static_cast<int32_t>(std::min(block, data.size() - at));
    std::vector<uint8_t> out;
    int32_t outSize = 0;
    zk::CompressBuffer(data.data() + at, n, out, method, outSize);
    out.resize(static_cast<size_t>(outSize));
    packed.push_back(std::move(out));
    sizes.push_back(n);
  }
  int64_t compressed = 0;
  for (const auto& p : packed) compressed += static_cast<int64_t>(p.size());
  for (auto _ : state) {
    for (size_t i = 0; i < packed.size(); ++i) {
      std::vector<uint8_t> out;
      int32_t outSize = sizes[i];
      if (!zk::DecompressBuffer(packed[i].data(), static_cast<int32_t>(packed[i].size()), out,
                                method, outSize)) {
        state.SkipWithError("decompression failed");
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(kFileSize);
  SetCounters(state);
}

}  // namespace

// Each method's four measurements run one after another, so that a codec and
// the stream over it are measured under the same load of the machine.
int main(int argc, char** argv) {
  for (int m : {0, 2, 6, 8}) {
    for (auto [name, fn] : {std::pair{"BM_CodecCompress", &BM_CodecCompress},
                            std::pair{"BM_StreamWrite", &BM_StreamWrite},
                            std::pair{"BM_CodecDecompress", &BM_CodecDecompress},
                            std::pair{"BM_StreamRead", &BM_StreamRead}}) {
      benchmark::RegisterBenchmark(name, fn)->Arg(m)->Unit(benchmark::kMillisecond)->Iterations(2);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
