// Helpers of the container object tests: a temporary folder removed with
// everything in it, whole-file byte access to container files (checked apart
// from the code under test), and small write/read helpers over handles.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "container/api/SingleFileSystem.h"

namespace zk::testing {

// Logical offset 0 of a container lies behind the 280-byte part header.
inline constexpr int64_t kPartHeaderSize = 280;
inline constexpr int64_t kDataSize = 4096 - 32;  // PageDataSize of the default pages

class TContainerDir {
 public:
  TContainerDir() {
    std::filesystem::create_directories(ZK_TEST_TMPDIR);
    std::string pattern = std::string(ZK_TEST_TMPDIR) + "/api-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TContainerDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TContainerDir(const TContainerDir&) = delete;
  TContainerDir& operator=(const TContainerDir&) = delete;

  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  const std::string& Path() const { return FPath; }
  // Names of the files in the folder, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(FPath)) {
      out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::string FPath;
};

inline bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Whether needle occurs in haystack.
inline bool Contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// Creates (or replaces) Path with Bytes; returns false when anything fails.
inline bool PutFile(TSingleFileSystem& fs, const AnsiString& path,
                    const std::vector<uint8_t>& bytes, const AnsiString& password = {}) {
  int32_t h = fs.OpenFile(path, ModeCreate, password);
  if (h < 0) return false;
  int32_t n = bytes.empty() ? 0 : fs.FileWrite(h, bytes.data(), static_cast<int32_t>(bytes.size()));
  fs.CloseFile(h);
  return n == static_cast<int32_t>(bytes.size());
}

// The whole file, or an empty vector with ok false when it cannot be opened.
inline std::vector<uint8_t> GetFile(TSingleFileSystem& fs, const AnsiString& path,
                                    bool* ok = nullptr, const AnsiString& password = {}) {
  int32_t h = fs.OpenFile(path, ModeReadOnly, password);
  if (ok) *ok = h >= 0;
  if (h < 0) return {};
  int64_t size = fs.FileSeek(h, 0, 2);
  fs.FileSeek(h, 0, 0);
  std::vector<uint8_t> out(static_cast<size_t>(std::max<int64_t>(size, 0)));
  int32_t n = out.empty() ? 0 : fs.FileRead(h, out.data(), static_cast<int32_t>(out.size()));
  out.resize(static_cast<size_t>(std::max(n, 0)));
  fs.CloseFile(h);
  return out;
}

}  // namespace zk::testing
