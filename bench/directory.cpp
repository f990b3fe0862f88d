// Directory of a container: making N empty files in nested folders (names
// repeated across folders) and looking every path up again, for N = 10,000
// and 100,000. The baseline, measured in the same run, is an ordered map of
// the same path texts (insert, then find).
//
// Layout: 100 top folders of 10 sub-folders each (1,000 leaves); each leaf
// holds N / 1,000 files named file0, file1, ... so every file name occurs in
// all 1,000 leaves.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "container/engine/SFSEngine.h"

namespace {

using namespace zk;

struct TContainer {
  std::string Folder;
  std::unique_ptr<TPageFileManager> PageFile;
  std::unique_ptr<TFreeSpaceManager> FreeSpace;
  std::unique_ptr<TDIRManager> Dir;

  TContainer() {
    std::string pattern = "/tmp/zk-bench-dir-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    Folder = pattern;
    PageFile = std::make_unique<TPageFileManager>(Folder + "/bench.sfs", fmCreateNew, "", "", "",
                                                  false, 4096, 8, -1);
    FreeSpace = std::make_unique<TFreeSpaceManager>(*PageFile);
    Dir = std::make_unique<TDIRManager>(*PageFile, *FreeSpace);
  }
  ~TContainer() {
    Dir.reset();
    FreeSpace.reset();
    PageFile.reset();
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
  }
};

std::vector<std::string> LeafFolders() {
  std::vector<std::string> leaves;
  for (int top = 0; top < 100; ++top)
    for (int sub = 0; sub < 10; ++sub)
      leaves.push_back("\\dir" + std::to_string(top) + "\\sub" + std::to_string(sub));
  return leaves;
}

std::vector<std::string> FilePaths(int64_t n) {
  std::vector<std::string> paths;
  const auto leaves = LeafFolders();
  const int64_t perLeaf = n / static_cast<int64_t>(leaves.size());
  for (int64_t f = 0; f < perLeaf; ++f)
    for (const auto& leaf : leaves) paths.push_back(leaf + "\\file" + std::to_string(f));
  return paths;
}

void Fill(TContainer& c, const std::vector<std::string>& paths) {
  for (const auto& leaf : LeafFolders())
    if (!c.Dir->ForceDirectories(leaf)) throw std::runtime_error("folder");
  for (const auto& p : paths)
    if (c.Dir->CreateFileItem(p, "", "", "") < 0) throw std::runtime_error("file");
}

void BM_CreateFiles(benchmark::State& state) {
  const auto paths = FilePaths(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto c = std::make_unique<TContainer>();
    state.ResumeTiming();
    Fill(*c, paths);
    state.PauseTiming();
    c.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(paths.size()));
}

void BM_LookupPaths(benchmark::State& state) {
  const auto paths = FilePaths(state.range(0));
  TContainer c;
  Fill(c, paths);
  for (auto _ : state) {
    for (const auto& p : paths) {
      const int32_t item = c.Dir->FindItem(p);
      if (item < 0) throw std::runtime_error("lookup");
      benchmark::DoNotOptimize(item);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(paths.size()));
}

void BM_BaselineMapInsert(benchmark::State& state) {
  const auto paths = FilePaths(state.range(0));
  for (auto _ : state) {
    std::map<std::string, int32_t> index;
    int32_t n = 0;
    for (const auto& leaf : LeafFolders()) index.emplace(leaf, n++);
    for (const auto& p : paths) index.emplace(p, n++);
    benchmark::DoNotOptimize(index);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(paths.size()));
}

void BM_BaselineMapLookup(benchmark::State& state) {
  const auto paths = FilePaths(state.range(0));
  std::map<std::string, int32_t> index;
  int32_t n = 0;
  for (const auto& p : paths) index.emplace(p, n++);
  for (auto _ : state) {
    for (const auto& p : paths) benchmark::DoNotOptimize(index.find(p));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(paths.size()));
}

}  // namespace

BENCHMARK(BM_CreateFiles)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LookupPaths)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineMapInsert)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineMapLookup)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
