// Hashes: the abstract hash THash (a protection object), MD4 (THash_MD4, which
// also does the block buffering, padding and digest storage for its
// descendants), RIPEMD-256 (THash_RipeMD256), the keyed hash TMAC and
// DigestText. A hash object owns its 64-byte block buffer and its chaining
// state, and overwrites both when it is freed.
//
// Use from the cipher's key setup:
//   THash_RipeMD256 h;            // or THashClass f = &THash_RipeMD256::Create; auto h = f();
//   h.Reset();                    // start values, empty buffer, byte count 0
//   h.Update(text.data(), size);  // any number of times; Size <= 0 adds nothing
//   h.Finish();                   // pads; the digest is now in the state
//   uint8_t* d = h.Digest();      // DigestSize() bytes (32), writable: overwrite it after use
//   THash_RipeMD256::DigestOf(data, size) -> std::array<uint8_t, 32> in one call.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "container/crypto/Protection.h"
#include "platform/rtl/AnsiString.h"

namespace zk {

class THash;

// A hash class: makes a new hash object of that class, with no protection.
using THashClass = std::unique_ptr<THash> (*)();

class THash : public TProtection {
 public:
  using TProtection::TProtection;

  // Empty buffer, start values, byte count 0; then the start hook.
  virtual void Reset() = 0;
  // Adds Size bytes (nothing for Size <= 0 or absent data).
  virtual void Update(const void* Data, int64_t Size) = 0;
  // Pads, compresses the last block(s) and leaves the digest in the state;
  // zeroes the block buffer; then the finish hook.
  virtual void Finish() = 0;
  // The digest bytes: the first DigestSize() bytes of the state.
  virtual uint8_t* Digest() = 0;
  virtual int32_t DigestSize() const { return 0; }
  // The class of this object, to make another of the same kind.
  virtual THashClass HashClass() const = 0;

  // The hash as a protection: digest feeds the data in; scramble and wipe
  // replace the data by digests; encode and decode XOR a digest stream in.
  void BeginProcess(TProtectionAction Action) override;
  void EndProcess(TProtectionAction Action) override;
  void ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) override;

 protected:
  // Run at the end of Reset and of Finish: a following TMAC keys or finishes
  // the hash; any other following protection scrambles the digest at Finish.
  void StartHook();
  void FinishHook();
};

class THash_MD4 : public THash {
 public:
  explicit THash_MD4(std::shared_ptr<TProtection> Protection = nullptr);
  ~THash_MD4() override;

  static constexpr int32_t kDigestSize = 16;
  static std::unique_ptr<THash> Create() { return std::make_unique<THash_MD4>(); }

  void Reset() override;
  void Update(const void* Data, int64_t Size) override;
  void Finish() override;
  uint8_t* Digest() override;
  int32_t DigestSize() const override { return kDigestSize; }
  THashClass HashClass() const override { return &THash_MD4::Create; }

 protected:
  using TState = std::array<uint32_t, 10>;
  // Loads the chaining words and empties the buffer and the byte count.
  void ResetTo(const TState& Start);
  // One 64-byte block into the chaining state.
  virtual void CompressBlock(const uint8_t* Block);
  TState& State() { return FState; }

 private:
  uint32_t FCount = 0;  // bytes hashed since Reset, modulo 2^32
  std::array<uint8_t, 64> FBuffer{};
  TState FState{};
};

class THash_RipeMD256 : public THash_MD4 {
 public:
  explicit THash_RipeMD256(std::shared_ptr<TProtection> Protection = nullptr);

  static constexpr int32_t kDigestSize = 32;
  static std::unique_ptr<THash> Create() { return std::make_unique<THash_RipeMD256>(); }
  // The RIPEMD-256 digest of Size bytes of Data.
  static std::array<uint8_t, 32> DigestOf(const void* Data, int64_t Size);
  static std::array<uint8_t, 32> DigestOf(std::string_view Data) {
    return DigestOf(Data.data(), static_cast<int64_t>(Data.size()));
  }

  void Reset() override;
  int32_t DigestSize() const override { return kDigestSize; }
  THashClass HashClass() const override { return &THash_RipeMD256::Create; }

 protected:
  void CompressBlock(const uint8_t* Block) override;
};

// A keyed hash: put it right after a hash in the chain. At the hash's Reset the
// state is XORed with the digest of the key; at Finish the digest passes through
// the MAC's own next protection (scramble), if any.
class TMAC : public TProtection {
 public:
  explicit TMAC(AnsiString Key, std::shared_ptr<TProtection> Protection = nullptr);
  ~TMAC() override;

  virtual void MacStart(THash& Hash);
  virtual void MacFinish(THash& Hash);

 private:
  AnsiString FKey;
};

// A new hash of HashClass with Protection attached, fed all bytes of Text; the
// digest in text format FormatId (1: the bytes unchanged).
AnsiString DigestText(THashClass HashClass, const AnsiString& Text,
                      std::shared_ptr<TProtection> Protection = nullptr,
                      int32_t FormatId = fmtCOPY);

}  // namespace zk
