// Sequential page transfers through the multi-part file against the same
// transfers on a plain file descriptor: 256 MiB in 4 KiB transfers, each at a
// page offset (a seek and then one read or write, as the page file does).
// Files live in a temporary folder under /tmp that is removed at the end.
// Opening, closing and flushing are outside the timed part.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "container/storage/SFSHugeFile.h"

namespace {

constexpr int64_t TotalBytes = int64_t{256} << 20;
constexpr int32_t PageSize = 4096;
constexpr int64_t Pages = TotalBytes / PageSize;

class TBenchDir {
 public:
  TBenchDir() {
    std::string pattern = "/tmp/zk-bench-hugefile-XXXXXX";
    if (::mkdtemp(pattern.data())) FPath = pattern;
  }
  ~TBenchDir() {
    std::error_code ec;
    if (!FPath.empty()) std::filesystem::remove_all(FPath, ec);
  }
  std::string File(const char* name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

TBenchDir& Dir() {
  static TBenchDir dir;
  return dir;
}

std::vector<uint8_t>& Page() {
  static std::vector<uint8_t> page = [] {
    std::vector<uint8_t> p(PageSize);
    for (int32_t i = 0; i < PageSize; ++i)
      p[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 1);
    return p;
  }();
  return page;
}

void Finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TotalBytes);
}

// The baseline: lseek and write/read on a descriptor.
void BM_PlainFdWrite(benchmark::State& state) {
  const std::string path = Dir().File("plain.dat");
  for (auto _ : state) {
    state.PauseTiming();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    state.ResumeTiming();
    for (int64_t i = 0; i < Pages; ++i) {
      ::lseek(fd, i * PageSize, SEEK_SET);
      if (::write(fd, Page().data(), PageSize) != PageSize) state.SkipWithError("write failed");
    }
    state.PauseTiming();
    ::fsync(fd);
    ::close(fd);
    state.ResumeTiming();
  }
  Finish(state);
}

void BM_PlainFdRead(benchmark::State& state) {
  const std::string path = Dir().File("plain.dat");
  std::vector<uint8_t> buffer(PageSize);
  {
    // The file, written once outside the timing.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    for (int64_t i = 0; i < Pages; ++i)
      if (::write(fd, Page().data(), PageSize) != PageSize) state.SkipWithError("write failed");
    ::close(fd);
  }
  for (auto _ : state) {
    state.PauseTiming();
    int fd = ::open(path.c_str(), O_RDONLY);
    state.ResumeTiming();
    for (int64_t i = 0; i < Pages; ++i) {
      ::lseek(fd, i * PageSize, SEEK_SET);
      if (::read(fd, buffer.data(), PageSize) != PageSize) state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(buffer.data());
    state.PauseTiming();
    ::close(fd);
    state.ResumeTiming();
  }
  Finish(state);
}

// The multi-part file with the given part size (argument, in MiB; 0 for one
// unlimited part).
int64_t PartSizeOf(const benchmark::State& state) {
  return state.range(0) == 0 ? zk::MaxPartSize : state.range(0) << 20;
}

void BM_HugeFileWrite(benchmark::State& state) {
  const std::string path = Dir().File("huge.dat");
  for (auto _ : state) {
    state.PauseTiming();
    zk::TSFSHugeFile file(path, false, true, false, PartSizeOf(state));
    if (!file.Open(true, false)) state.SkipWithError("create failed");
    state.ResumeTiming();
    for (int64_t i = 0; i < Pages; ++i) {
      file.SetPosition(i * PageSize);
      file.WriteBuffer(Page().data(), PageSize);
    }
    state.PauseTiming();
    file.Close();  // flushes every part
    state.ResumeTiming();
  }
  Finish(state);
}

void BM_HugeFileRead(benchmark::State& state) {
  const std::string path = Dir().File("huge.dat");
  std::vector<uint8_t> buffer(PageSize);
  {
    // The chain of this part size, written once outside the timing.
    zk::TSFSHugeFile file(path, false, true, false, PartSizeOf(state));
    file.Open(true, false);
    for (int64_t i = 0; i < Pages; ++i) file.WriteBuffer(Page().data(), PageSize);
  }
  for (auto _ : state) {
    state.PauseTiming();
    zk::TSFSHugeFile file(path, true, false, false, -1);
    if (!file.Open(false, false)) state.SkipWithError("open failed");
    state.ResumeTiming();
    for (int64_t i = 0; i < Pages; ++i) {
      file.SetPosition(i * PageSize);
      file.ReadBuffer(buffer.data(), PageSize);
    }
    benchmark::DoNotOptimize(buffer.data());
    state.PauseTiming();
    file.Close();
    state.ResumeTiming();
  }
  Finish(state);
}

}  // namespace

BENCHMARK(BM_PlainFdWrite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_HugeFileWrite)->Arg(0)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PlainFdRead)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_HugeFileRead)->Arg(0)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
