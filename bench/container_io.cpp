// Throughput of files inside a container: a 64 MiB file written and read
// through FileWrite/FileRead in 64 KiB calls, in an unencrypted and in an
// encrypted container, beside the baseline of the same bytes written to and
// read from a plain file through the platform's file calls in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "container/api/SingleFileSystem.h"
#include "platform/os/FileSystem.h"

namespace {

constexpr int64_t kFileSize = int64_t{64} << 20;
constexpr int32_t kChunk = 64 << 10;

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(static_cast<size_t>(kFileSize));
    std::mt19937 rng(7);
    for (auto& b : d) b = static_cast<uint8_t>(rng());
    return d;
  }();
  return data;
}

using zk::bench::Dir;

const char* PasswordOf(int64_t encrypted) {
  return encrypted != 0 ? "bench-password" : "";
}

void WriteContainerFile(zk::TSingleFileSystem& fs) {
  const int32_t h = fs.OpenFile("\\data.bin", zk::ModeCreate);
  const uint8_t* p = Data().data();
  for (int64_t done = 0; done < kFileSize; done += kChunk) {
    if (fs.FileWrite(h, p + done, kChunk) != kChunk) throw std::runtime_error("short write");
  }
  fs.CloseFile(h);
}

// Baseline: the same bytes to a plain file.
void BM_PlainFileWrite(benchmark::State& state) {
  zk::os::IFileSystem& files = zk::os::FileSystem();
  const std::string name = Dir() / "plain.bin";
  for (auto _ : state) {
    auto h = files.Open(name, zk::os::TFileAccess::ReadWrite, zk::os::TFileShare::Exclusive,
                        zk::os::TFileCreation::CreateAlways);
    const uint8_t* p = Data().data();
    for (int64_t done = 0; done < kFileSize; done += kChunk) files.Write(h, p + done, kChunk);
    files.Close(h);
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_PlainFileRead(benchmark::State& state) {
  zk::os::IFileSystem& files = zk::os::FileSystem();
  const std::string name = Dir() / "plain-read.bin";
  {
    auto h = files.Open(name, zk::os::TFileAccess::ReadWrite, zk::os::TFileShare::Exclusive,
                        zk::os::TFileCreation::CreateAlways);
    files.Write(h, Data().data(), static_cast<int32_t>(kFileSize));
    files.Close(h);
  }
  std::vector<uint8_t> buffer(kChunk);
  for (auto _ : state) {
    auto h = files.Open(name, zk::os::TFileAccess::Read, zk::os::TFileShare::ShareReadWrite,
                        zk::os::TFileCreation::OpenExisting);
    for (int64_t done = 0; done < kFileSize; done += kChunk) files.Read(h, buffer.data(), kChunk);
    files.Close(h);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

// Range(0): 0 unencrypted, 1 encrypted.
void BM_ContainerWrite(benchmark::State& state) {
  const std::string name = Dir() / ("write" + std::to_string(state.range(0)) + ".sfs");
  for (auto _ : state) {
    state.PauseTiming();
    auto fs = zk::TSingleFileSystem::Create(name, zk::ModeCreate, PasswordOf(state.range(0)));
    state.ResumeTiming();
    WriteContainerFile(*fs);
    state.PauseTiming();
    fs.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_ContainerRead(benchmark::State& state) {
  const std::string name = Dir() / ("read" + std::to_string(state.range(0)) + ".sfs");
  const char* password = PasswordOf(state.range(0));
  {
    auto fs = zk::TSingleFileSystem::Create(name, zk::ModeCreate, password);
    WriteContainerFile(*fs);
  }
  auto fs = zk::TSingleFileSystem::Create(name, zk::ModeReadOnly, password);
  std::vector<uint8_t> buffer(kChunk);
  for (auto _ : state) {
    const int32_t h = fs->OpenFile("\\data.bin", zk::ModeReadOnly);
    for (int64_t done = 0; done < kFileSize; done += kChunk) {
      if (fs->FileRead(h, buffer.data(), kChunk) != kChunk) throw std::runtime_error("short read");
    }
    fs->CloseFile(h);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

BENCHMARK(BM_PlainFileWrite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ContainerWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PlainFileRead)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ContainerRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
