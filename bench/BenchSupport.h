// Helpers shared by the benchmark programs: TBenchDir, a scratch folder under
// the system's temporary folder removed with everything in it when the
// program ends, and Dir(), the one such folder of a program.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zk::bench {

class TBenchDir {
 public:
  TBenchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zk-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TBenchDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TBenchDir(const TBenchDir&) = delete;
  TBenchDir& operator=(const TBenchDir&) = delete;

  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

inline TBenchDir& Dir() {
  static TBenchDir dir;
  return dir;
}

}  // namespace zk::bench
