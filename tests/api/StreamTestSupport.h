// Shared pieces of the stream tests: deterministic test data, raw byte
// access of memory streams, little-endian patching, and a sparse stream that
// can stand for a raw store of several GiB without holding it.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/rtl/Exception.h"
#include "platform/rtl/Stream.h"

namespace zk::testing {

// Text-like bytes (compress well, but not to nothing), from a seed.
inline std::vector<uint8_t> TextBytes(size_t Size, uint32_t Seed) {
  static const char* const words[] = {"block ",  "stream ", "header ", "page ",     "chain ",
                                      "offset ", "size ",   "method ", "crc ",      "file ",
                                      "folder ", "key ",    "zlib ",   "bzip2\r\n", "ppm "};
  std::mt19937 rng(Seed);
  std::vector<uint8_t> out;
  out.reserve(Size + 16);
  while (out.size() < Size) {
    const char* w = words[rng() % (sizeof words / sizeof words[0])];
    out.insert(out.end(), w, w + std::strlen(w));
    // Numbers keep the text from being one long repetition, which some
    // codecs take a long time over.
    if (rng() % 2 == 0) {
      for (int digits = 1 + static_cast<int>(rng() % 4); digits > 0; --digits) {
        out.push_back(static_cast<uint8_t>('0' + rng() % 10));
      }
      out.push_back(' ');
    }
  }
  out.resize(Size);
  return out;
}

// Runs of random bytes with random lengths: compress well and quickly with
// every codec.
inline std::vector<uint8_t> RunBytes(size_t Size, uint32_t Seed) {
  std::mt19937 rng(Seed);
  std::vector<uint8_t> out;
  out.reserve(Size + 256);
  while (out.size() < Size) out.insert(out.end(), 1 + rng() % 200, static_cast<uint8_t>(rng()));
  out.resize(Size);
  return out;
}

// Bytes that do not compress.
inline std::vector<uint8_t> RandomBytes(size_t Size, uint32_t Seed) {
  std::mt19937 rng(Seed);
  std::vector<uint8_t> out(Size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

inline uint32_t Get32(const std::vector<uint8_t>& Bytes, size_t At) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | Bytes.at(At + static_cast<size_t>(i));
  return v;
}

inline void Put32(std::vector<uint8_t>& Bytes, size_t At, uint32_t Value) {
  for (int i = 0; i < 4; ++i)
    Bytes.at(At + static_cast<size_t>(i)) = static_cast<uint8_t>(Value >> (8 * i));
}

inline std::vector<uint8_t> BytesOf(TMemoryStream& M) {
  return {M.Memory(), M.Memory() + M.GetSize()};
}

inline std::unique_ptr<TMemoryStream> MemoryWith(const std::vector<uint8_t>& Bytes) {
  auto m = std::make_unique<TMemoryStream>();
  if (!Bytes.empty()) m->WriteBuffer(Bytes.data(), static_cast<int32_t>(Bytes.size()));
  m->SetPosition(0);
  return m;
}

// Reads Count bytes from the current position (fewer at the end).
inline std::vector<uint8_t> ReadBytes(TStream& S, int64_t Count) {
  std::vector<uint8_t> out(static_cast<size_t>(Count));
  int64_t done = 0;
  while (done < Count) {
    const int32_t n =
        S.Read(out.data() + done, static_cast<int32_t>(std::min<int64_t>(Count - done, 1 << 30)));
    if (n <= 0) break;
    done += n;
  }
  out.resize(static_cast<size_t>(done));
  return out;
}

inline std::vector<uint8_t> ReadAll(TStream& S) {
  S.Seek(0, soBeginning);
  return ReadBytes(S, S.GetSize());
}

template <class F>
std::string MessageOf(F&& Body) {
  try {
    Body();
  } catch (const Exception& e) {
    return e.Message;
  }
  return "(nothing raised)";
}

// A fresh folder under the test folder, removed with everything in it.
class TStreamTestDir {
 public:
  TStreamTestDir() {
    std::filesystem::create_directories(ZK_TEST_TMPDIR);
    std::string pattern = std::string(ZK_TEST_TMPDIR) + "/streams-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TStreamTestDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TStreamTestDir(const TStreamTestDir&) = delete;
  TStreamTestDir& operator=(const TStreamTestDir&) = delete;

  std::string operator/(const std::string& Name) const { return FPath + "/" + Name; }

 private:
  std::string FPath;
};

// A stream that forwards every call to a stream the test keeps, so that the
// store outlives the stream that was given it.
class TStreamRef : public TStream {
 public:
  explicit TStreamRef(TStream& Target) : FTarget(Target) {}
  int32_t Read(void* Buffer, int32_t Count) override { return FTarget.Read(Buffer, Count); }
  int32_t Write(const void* Buffer, int32_t Count) override { return FTarget.Write(Buffer, Count); }
  int64_t Seek(int64_t Offset, uint16_t Origin) override { return FTarget.Seek(Offset, Origin); }
  int64_t GetSize() override { return FTarget.GetSize(); }
  void SetSize(int64_t NewSize) override { FTarget.SetSize(NewSize); }

 private:
  TStream& FTarget;
};

// A stream whose bytes live in 4 KiB chunks that exist only where something
// was written: a raw store of 4 GiB costs what was written into it.
class TSparseStream : public TStream {
 public:
  static constexpr int64_t ChunkSize = 4096;
  using TChunk = std::array<uint8_t, ChunkSize>;

  int32_t Read(void* Buffer, int32_t Count) override {
    if (Count <= 0 || FPosition < 0 || FPosition >= FSize) return 0;
    const int64_t n = std::min<int64_t>(Count, FSize - FPosition);
    auto* out = static_cast<uint8_t*>(Buffer);
    for (int64_t done = 0; done < n;) {
      const int64_t at = FPosition + done;
      const int64_t in = at % ChunkSize;
      const int64_t piece = std::min(n - done, ChunkSize - in);
      auto it = FChunks.find(at / ChunkSize);
      if (it == FChunks.end()) {
        std::memset(out + done, 0, static_cast<size_t>(piece));
      } else {
        std::memcpy(out + done, it->second.data() + in, static_cast<size_t>(piece));
      }
      done += piece;
    }
    FPosition += n;
    return static_cast<int32_t>(n);
  }

  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Count <= 0 || FPosition < 0) return 0;
    const auto* in = static_cast<const uint8_t*>(Buffer);
    for (int64_t done = 0; done < Count;) {
      const int64_t at = FPosition + done;
      const int64_t off = at % ChunkSize;
      const int64_t piece = std::min<int64_t>(Count - done, ChunkSize - off);
      auto [it, fresh] = FChunks.try_emplace(at / ChunkSize);
      if (fresh) it->second.fill(0);
      std::memcpy(it->second.data() + off, in + done, static_cast<size_t>(piece));
      done += piece;
    }
    FPosition += Count;
    FSize = std::max(FSize, FPosition);
    return Count;
  }

  int64_t Seek(int64_t Offset, uint16_t Origin) override {
    if (Origin == soBeginning) FPosition = Offset;
    if (Origin == soCurrent) FPosition += Offset;
    if (Origin == soEnd) FPosition = FSize + Offset;
    return FPosition;
  }

  int64_t GetSize() override { return FSize; }

  void SetSize(int64_t NewSize) override {
    if (NewSize < 0) NewSize = 0;
    // Bytes beyond the new end are gone; a later growth reads zeros there.
    for (auto it = FChunks.lower_bound(NewSize / ChunkSize); it != FChunks.end();) {
      const int64_t start = it->first * ChunkSize;
      if (start >= NewSize) {
        it = FChunks.erase(it);
      } else {
        std::memset(it->second.data() + (NewSize - start), 0,
                    static_cast<size_t>(ChunkSize - (NewSize - start)));
        ++it;
      }
    }
    FSize = NewSize;
  }

  // Everything that makes up the stored bytes, for before/after comparisons.
  std::pair<int64_t, std::map<int64_t, TChunk>> Snapshot() const { return {FSize, FChunks}; }

 private:
  std::map<int64_t, TChunk> FChunks;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

}  // namespace zk::testing
