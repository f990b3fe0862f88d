// Helpers of the engine tests: the temporary folder of tests/support/TempDir.h,
// direct access to the bytes of a container file (checked apart from the
// code under test), and TEngine, the page file with the three managers built
// on it the way the container object builds them.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "container/crypto/CheckValue.h"
#include "container/engine/SFSEngine.h"
#include "container/storage/PartHeader.h"
#include "container/storage/SFSHugeFile.h"
#include "platform/rtl/Exception.h"
#include "tests/support/TempDir.h"

namespace zk::testing {

// Logical offset 0 of a container lies behind the part header of its file.
inline constexpr int64_t kPartHeader = 280;

inline int64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

// Bytes at a logical offset of a single-part container.
inline std::vector<uint8_t> ReadLogical(const std::string& path, int64_t offset, size_t size) {
  std::vector<uint8_t> bytes(size);
  std::ifstream in(path, std::ios::binary);
  in.seekg(kPartHeader + offset);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  return bytes;
}

inline void PatchLogical(const std::string& path, int64_t offset, const void* data, size_t size) {
  std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(kPartHeader + offset);
  io.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

template <class T>
void PatchValue(const std::string& path, int64_t offset, T value) {
  PatchLogical(path, offset, &value, sizeof value);
}

inline TSFSFileHeader HeaderOnDisk(const std::string& path) {
  TSFSFileHeader h;
  const auto bytes = ReadLogical(path, 0, sizeof h);
  std::memcpy(&h, bytes.data(), sizeof h);
  return h;
}

// Writes a changed header back with a check value that fits it, so that only
// the header's geometry and counts are wrong.
inline void ResealHeader(const std::string& path, TSFSFileHeader h) {
  h.CheckValue = ComputeCheckValue(reinterpret_cast<const uint8_t*>(&h) + HeaderCheckOffset,
                                   HeaderCheckSize, 0);
  PatchLogical(path, 0, &h, sizeof h);
}

inline TPageHeader PageHeaderOnDisk(const std::string& path, int32_t pageNo, int32_t pageSize) {
  TPageHeader ph;
  const auto bytes = ReadLogical(path, int64_t{pageNo} * pageSize, sizeof ph);
  std::memcpy(&ph, bytes.data(), sizeof ph);
  return ph;
}

// Runs f and returns the message of the zk::Exception it raises ("" when none).
template <class F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message;
  }
  return "";
}

inline constexpr const char* kHeaderCorrupted =
    "TSingleFileSystem.LoadHeader - Invalid SFS file, header is corrupted.";

// The engine objects of one container, in the container object's order.
struct TEngine {
  std::unique_ptr<TPageFileManager> PageFile;
  std::unique_ptr<TFreeSpaceManager> FreeSpace;
  std::unique_ptr<TDIRManager> Dir;
  std::unique_ptr<TUserFilePageMapManager> Maps;

  static TEngine Make(const std::string& path, uint16_t mode, const AnsiString& password = "",
                      int32_t pageSize = 4096, int32_t extent = 8) {
    TEngine e;
    e.PageFile = std::make_unique<TPageFileManager>(path, mode, password, "", "", false, pageSize,
                                                    extent, -1);
    e.FreeSpace = std::make_unique<TFreeSpaceManager>(*e.PageFile);
    e.Dir = std::make_unique<TDIRManager>(*e.PageFile, *e.FreeSpace);
    e.Maps = std::make_unique<TUserFilePageMapManager>(*e.PageFile, *e.FreeSpace);
    return e;
  }
  static TEngine Create(const std::string& path, const AnsiString& password = "",
                        int32_t pageSize = 4096, int32_t extent = 8) {
    return Make(path, fmCreateNew, password, pageSize, extent);
  }
  static TEngine Open(const std::string& path, const AnsiString& password = "",
                      int32_t pageSize = 4096) {
    return Make(path, 0x12, password, pageSize);
  }
  void Close() {
    Maps.reset();
    Dir.reset();
    FreeSpace.reset();
    PageFile.reset();
  }

  // Writes Data as the whole content of a new file at Path, the way the
  // container object writes: grow through the page map, fill the pages,
  // store the size.
  int32_t WriteFile(const AnsiString& path, const std::vector<uint8_t>& data) {
    const int32_t item = Dir->CreateFileItem(path, "", "", "");
    if (item < 0) return item;
    TDIRItem rec;
    Dir->ReadItem(item, rec);
    TIntegerArray pages;
    if (!Maps->GetDataPages(rec, true, pages, static_cast<int64_t>(data.size()), 0)) return -17;
    const int32_t d = PageFile->PageDataSize();
    TPageBuffer page;
    PageFile->AllocPageBuffer(page);
    for (int32_t i = 0; i < pages.ItemCount(); ++i) {
      std::memset(page.Data, 0, static_cast<size_t>(d));
      const size_t from = static_cast<size_t>(i) * static_cast<size_t>(d);
      const size_t n = std::min(static_cast<size_t>(d), data.size() - from);
      std::memcpy(page.Data, data.data() + from, n);
      page.PageType = ptFileData;
      page.EncryptionType = PageFile->Header.EncryptionType;
      page.CheckKind = 0;
      page.NextPageNo = -1;
      if (!PageFile->WritePage(page, pages[i])) return -10;
    }
    rec.Size = static_cast<int64_t>(data.size());
    Dir->WriteItem(item, rec);
    return item;
  }

  // The whole content of the file at Path.
  std::vector<uint8_t> ReadFile(const AnsiString& path) {
    const int32_t item = Dir->FindItem(path);
    if (item < 0) throw Exception("no such file: " + path);
    TDIRItem rec;
    Dir->ReadItem(item, rec);
    TIntegerArray pages;
    Maps->GetDataPages(rec, false, pages, rec.Size, 0);
    std::vector<uint8_t> out;
    const int32_t d = PageFile->PageDataSize();
    TPageBuffer page;
    PageFile->AllocPageBuffer(page);
    for (int32_t i = 0; i < pages.ItemCount(); ++i) {
      if (!PageFile->ReadPage(page, pages[i])) throw Exception("page read failed");
      const size_t n = std::min(static_cast<size_t>(d), static_cast<size_t>(rec.Size) - out.size());
      out.insert(out.end(), page.Data, page.Data + n);
    }
    return out;
  }
};

// Bytes that tell files apart: a pattern seeded by n.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t n) {
  std::vector<uint8_t> v(size);
  uint32_t x = n * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

}  // namespace zk::testing
