// Whole-buffer compression by method code on a few MiB of mixed text, cut into
// the blocks that a compressed file stream uses for the method. Reports MB/s
// of the uncompressed bytes and the ratio (compressed / uncompressed) of every
// method, and, as the baseline of the same run, zlib and bzip2 called
// directly through their one-shot buffer functions on the same blocks.
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "container/compress/SFSCompress.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 4 MiB: INI sections with GBK names, prose from a word list, tables of
// numbers and a little binary, in stretches of a few KiB each.
const Bytes& MixedText() {
  static const Bytes data = [] {
    static const char* const words[] = {
        "the",  "price",    "of",       "steel",      "and",     "concrete", "is",
        "set",  "by",       "contract", "for",        "each",    "item",     "quantity",
        "unit", "material", "labour",   "machinery",  "total",   "project",  "section",
        "work", "cost",     "rate",     "adjustment", "between", "schedule", "annex"};
    static const char* const names[] = {"\xB9\xA4\xB3\xCC", "\xBC\xC6\xBC\xDB", "\xB2\xC4\xC1\xCF",
                                        "\xC8\xCB\xB9\xA4"};
    std::mt19937 rng(2016);
    std::string s;
    const size_t size = 4 << 20;
    while (s.size() < size) {
      switch (rng() % 4) {
        case 0:  // INI text
          s += "[SECTION" + std::to_string(rng() % 100) + "]\r\n";
          for (int i = 0; i < 20; ++i) {
            s += std::string(names[rng() % 4]) + std::to_string(rng() % 50) + "=" +
                 std::to_string(rng() % 100000) + "\r\n";
          }
          break;
        case 1:  // prose
          for (int i = 0; i < 300; ++i) {
            s += words[rng() % (sizeof(words) / sizeof(words[0]))];
            s += (rng() % 12 == 0) ? ".\r\n" : " ";
          }
          break;
        case 2:  // a table of numbers
          for (int i = 0; i < 60; ++i) {
            for (int j = 0; j < 6; ++j) {
              s += std::to_string(rng() % 10000) + "." + std::to_string(rng() % 100) + "\t";
            }
            s += "\r\n";
          }
          break;
        default:  // binary
          for (int i = 0; i < 512; ++i) s += static_cast<char>(rng());
      }
    }
    s.resize(size);
    return Bytes(s.begin(), s.end());
  }();
  return data;
}

struct TBlock {
  const uint8_t* Data;
  int32_t Size;
};

std::vector<TBlock> Blocks(uint8_t method) {
  const Bytes& data = MixedText();
  const size_t blockSize = static_cast<size_t>(zk::BlockSizeForMethod(method));
  std::vector<TBlock> blocks;
  for (size_t at = 0; at < data.size(); at += blockSize) {
    blocks.push_back(
        {data.data() + at, static_cast<int32_t>(std::min(blockSize, data.size() - at))});
  }
  return blocks;
}

const char* MethodName(int method) {
  static const char* const names[] = {"stored", "zlib-1", "zlib-5",  "ppm-o5",  "ppm-o13",
                                      "zlib-9", "ppm-o3", "bzip2-2", "bzip2-6", "bzip2-9"};
  return names[method];
}

void Report(benchmark::State& state, size_t in, size_t out) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in));
  state.counters["ratio"] = static_cast<double>(out) / static_cast<double>(in);
}

// --- Through the dispatch --------------------------------------------------------

void BM_CompressBuffer(benchmark::State& state) {
  const auto method = static_cast<uint8_t>(state.range(0));
  state.SetLabel(MethodName(method));
  const std::vector<TBlock> blocks = Blocks(method);
  size_t in = 0, out = 0;
  for (auto _ : state) {
    in = out = 0;
    for (const TBlock& b : blocks) {
      Bytes coded;
      int32_t size = 0;
      if (!zk::CompressBuffer(b.Data, b.Size, coded, method, size)) state.SkipWithError("failed");
      in += static_cast<size_t>(b.Size);
      out += static_cast<size_t>(size);
      benchmark::DoNotOptimize(coded.data());
    }
  }
  Report(state, in, out);
}

void BM_DecompressBuffer(benchmark::State& state) {
  const auto method = static_cast<uint8_t>(state.range(0));
  state.SetLabel(MethodName(method));
  const std::vector<TBlock> blocks = Blocks(method);
  std::vector<Bytes> coded(blocks.size());
  size_t in = 0, out = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    int32_t size = 0;
    zk::CompressBuffer(blocks[i].Data, blocks[i].Size, coded[i], method, size);
    in += static_cast<size_t>(blocks[i].Size);
    out += coded[i].size();
  }
  for (auto _ : state) {
    for (size_t i = 0; i < blocks.size(); ++i) {
      Bytes plain;
      int32_t size = blocks[i].Size;
      if (!zk::DecompressBuffer(coded[i].data(), static_cast<int32_t>(coded[i].size()), plain,
                                method, size) ||
          size != blocks[i].Size) {
        state.SkipWithError("failed");
      }
      benchmark::DoNotOptimize(plain.data());
    }
  }
  Report(state, in, out);
}

// --- The libraries called directly (baseline) ---------------------------------

int ZlibLevel(int method) {
  return method == 1 ? 1 : (method == 2 ? 5 : 9);
}
int BZip2BlockSize(int method) {
  return method == 7 ? 2 : (method == 8 ? 6 : 9);
}

void BM_ZlibDirectCompress(benchmark::State& state) {
  const int method = static_cast<int>(state.range(0));
  state.SetLabel(MethodName(method));
  const std::vector<TBlock> blocks = Blocks(static_cast<uint8_t>(method));
  size_t in = 0, out = 0;
  for (auto _ : state) {
    in = out = 0;
    for (const TBlock& b : blocks) {
      uLongf size = compressBound(static_cast<uLong>(b.Size));
      Bytes coded(size);
      if (compress2(coded.data(), &size, b.Data, static_cast<uLong>(b.Size), ZlibLevel(method)) !=
          Z_OK) {
        state.SkipWithError("failed");
      }
      in += static_cast<size_t>(b.Size);
      out += size;
      benchmark::DoNotOptimize(coded.data());
    }
  }
  Report(state, in, out);
}

void BM_ZlibDirectDecompress(benchmark::State& state) {
  const int method = static_cast<int>(state.range(0));
  state.SetLabel(MethodName(method));
  const std::vector<TBlock> blocks = Blocks(static_cast<uint8_t>(method));
  std::vector<Bytes> coded(blocks.size());
  size_t in = 0, out = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    uLongf size = compressBound(static_cast<uLong>(blocks[i].Size));
    coded[i].resize(size);
    compress2(coded[i].data(), &size, blocks[i].Data, static_cast<uLong>(blocks[i].Size),
              ZlibLevel(method));
    coded[i].resize(size);
    in += static_cast<size_t>(blocks[i].Size);
    out += size;
  }
  for (auto _ : state) {
    for (size_t i = 0; i < blocks.size(); ++i) {
      Bytes plain(static_cast<size_t>(blocks[i].Size));
      uLongf size = plain.size();
      if (uncompress(plain.data(), &size, coded[i].data(), static_cast<uLong>(coded[i].size())) !=
          Z_OK) {
        state.SkipWithError("failed");
      }
      benchmark::DoNotOptimize(plain.data());
    }
  }
  Report(state, in, out);
}

void BM_BZip2DirectCompress(benchmark::State& state) {
  const int method = static_cast<int>(state.range(0));
  state.SetLabel(MethodName(method));
  const std::vector<TBlock> blocks = Blocks(static_cast<uint8_t>(method));
  size_t in = 0, out = 0;
  for (auto _ : state) {
    in = out = 0;
    for (const TBlock& b : blocks) {
      Bytes coded(static_cast<size_t>(b.Size) + static_cast<size_t>(b.Size) / 100 + 600);
      auto size = static_cast<unsigned>(coded.size());
      if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(coded.data()), &size,
                                   const_cast<char*>(reinterpret_cast<const char*>(b.Data)),
                                   static_cast<unsigned>(b.Size), BZip2BlockSize(method), 0,
                                   0) != BZ_OK) {
        state.SkipWithError("failed");
      }
      in += static_cast<size_t>(b.Size);
      out += size;
      benchmark::DoNotOptimize(coded.data());
    }
  }
  Report(state, in, out);
}

void BM_BZip2DirectDecompress(benchmark::State& state) {
  const int method = static_cast<int>(state.range(0));
  state.SetLabel(MethodName(method));
  const std::vector<TBlock> blocks = Blocks(static_cast<uint8_t>(method));
  std::vector<Bytes> coded(blocks.size());
  size_t in = 0, out = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    coded[i].resize(static_cast<size_t>(blocks[i].Size) +
                    static_cast<size_t>(blocks[i].Size) / 100 + 600);
    auto size = static_cast<unsigned>(coded[i].size());
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(coded[i].data()), &size,
                             const_cast<char*>(reinterpret_cast<const char*>(blocks[i].Data)),
                             static_cast<unsigned>(blocks[i].Size), BZip2BlockSize(method), 0, 0);
    coded[i].resize(size);
    in += static_cast<size_t>(blocks[i].Size);
    out += size;
  }
  for (auto _ : state) {
    for (size_t i = 0; i < blocks.size(); ++i) {
      Bytes plain(static_cast<size_t>(blocks[i].Size));
      auto size = static_cast<unsigned>(plain.size());
      if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(plain.data()), &size,
                                     reinterpret_cast<char*>(coded[i].data()),
                                     static_cast<unsigned>(coded[i].size()), 0, 0) != BZ_OK) {
        state.SkipWithError("failed");
      }
      benchmark::DoNotOptimize(plain.data());
    }
  }
  Report(state, in, out);
}

void AllMethods(benchmark::internal::Benchmark* b) {
  for (int m = 0; m < 10; ++m) b->Arg(m);
}
void ZlibMethods(benchmark::internal::Benchmark* b) {
  b->Arg(1)->Arg(2)->Arg(5);
}
void BZip2Methods(benchmark::internal::Benchmark* b) {
  b->Arg(7)->Arg(8)->Arg(9);
}

BENCHMARK(BM_CompressBuffer)->Apply(AllMethods)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecompressBuffer)->Apply(AllMethods)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDirectCompress)->Apply(ZlibMethods)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDirectDecompress)->Apply(ZlibMethods)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BZip2DirectCompress)->Apply(BZip2Methods)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BZip2DirectDecompress)->Apply(BZip2Methods)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
