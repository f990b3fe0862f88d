// Helpers of the storage tests: the temporary folder of
// tests/support/TempDir.h, and direct access to the bytes of files (checked apart
// from the code under test).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container/storage/PartHeader.h"
#include "tests/support/TempDir.h"

namespace zk::testing {

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Overwrites bytes at an offset, leaving the rest of the file as it is.
inline void PatchBytes(const std::string& path, int64_t offset, const void* data, size_t size) {
  std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(offset);
  io.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline int64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

inline bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

// The part header stored at an offset of a file.
inline TPartHeader HeaderOf(const std::string& path, int64_t offset = 0) {
  TPartHeader header{};
  std::ifstream in(path, std::ios::binary);
  in.seekg(offset);
  in.read(reinterpret_cast<char*>(&header), sizeof header);
  return header;
}

inline std::string NextNameOf(const std::string& path, int64_t offset = 0) {
  TPartHeader header = HeaderOf(path, offset);
  return std::string(header.NextPartName, strnlen(header.NextPartName, sizeof header.NextPartName));
}

// Bytes whose value tells their position: byte i of the pattern that starts
// at logical offset Start.
inline std::vector<uint8_t> Pattern(size_t size, uint64_t start = 0) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    uint64_t x = start + i;
    bytes[i] = static_cast<uint8_t>((x * 2654435761u) >> 13 ^ x);
  }
  return bytes;
}

}  // namespace zk::testing
