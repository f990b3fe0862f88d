// Random generators: the plain 32-bit generator TRandom and the byte-oriented
// linear feedback shift register generator TRandom_LFSR (32 to 2032 bits) that
// master keys are drawn from. Both are protection objects. A generator owns its
// register and seed text, can save its whole state as a checked text and load
// it again, and overwrites its register when it is freed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "container/crypto/Protection.h"
#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Exception.h"
#include "platform/rtl/Stream.h"

namespace zk {

// "Invalid Random Data detected." / "Random Data are protected."
class ERandom : public Exception {
 public:
  using Exception::Exception;
};

// The basic seed every generator starts from (a fixed constant).
constexpr uint32_t BaseSeed = 0x2E8F5D17u;

class TRandom : public TProtection {
 public:
  // Keeps SeedText and sets the register size; then, for Size > 0, seeds from
  // the clock (Randomize) or from the bytes of SeedText.
  explicit TRandom(const AnsiString& SeedText = {}, int32_t Size = 0, bool Randomize = false,
                   std::shared_ptr<TProtection> Protection = nullptr);
  ~TRandom() override;

  // The base generator always has 32 bits.
  virtual void SetRegisterSize(int32_t Bits);
  // The whole state as MIME Base 64 text, checked by a CRC-16; and back.
  virtual AnsiString GetStateText();
  virtual void SetStateText(const AnsiString& Text);
  // Size > 0 with Data: seed from those bytes; Size < 0: mix in the clock;
  // otherwise the basic state.
  virtual void SeedFrom(const void* Data, int32_t Size);
  // Count random bytes (nothing for Count <= 0).
  virtual void FillRandom(void* Buffer, int32_t Count);
  // Range 0: any 32-bit value. Range > 0: 0 .. Range. Range < 0: -|Range| .. |Range|.
  virtual int32_t RandomInt(int32_t Range);
  // The state text framed by the class's short name and its length; and back
  // (a stream of another class is left alone).
  void WriteState(TStream& Stream);
  void ReadState(TStream& Stream);

  int32_t RegisterSize() const { return FRegisterSize; }
  // Bytes produced so far.
  int32_t GeneratedCount() const { return static_cast<int32_t>(FCount); }
  uint32_t BasicSeed() const { return FBasicSeed; }
  const AnsiString& SeedText() const { return FSeedText; }
  virtual const char* ClassName() const { return "TRandom"; }

  // As a protection: reseed at both ends (from the clock for the wipe action,
  // from the seed text otherwise) and XOR random bytes into the data.
  void BeginProcess(TProtectionAction Action) override;
  void EndProcess(TProtectionAction Action) override;
  void ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) override;

 protected:
  // For subclasses, which finish the creation with Init from their own
  // constructor so that their overrides take part.
  struct TDeferInit {};
  TRandom(TDeferInit, const AnsiString& SeedText, std::shared_ptr<TProtection> Protection);
  void Init(int32_t Size, bool Randomize);
  void Reseed(TProtectionAction Action);
  // Passes Size bytes through the next protection (scramble), if there is one.
  void ScrambleThroughNext(void* Buffer, int32_t Size);
  // Encodes (Protect) or decodes the bytes through the next protection.
  void ProtectBytes(AnsiString& Bytes, bool Protect);
  // State text framing shared by the classes: Body without the 2-byte check and
  // the flag word; DecodeStateText returns the body after all checks.
  AnsiString EncodeStateText(AnsiString Body);
  AnsiString DecodeStateText(const AnsiString& Text, size_t BodySize);

  int32_t FRegisterSize = -1;
  uint32_t FCount = 0;
  uint32_t FBasicSeed = BaseSeed;
  // Set by a subclass destructor that already reseeded with its own SeedFrom,
  // so that freeing a generator reseeds (and scrambles through the next
  // protection) only once.
  bool FFinalSeedDone = false;

 private:
  uint32_t FRegister = 0;
  AnsiString FSeedText;
};

// One register size of the LFSR generator and its feedback polynomial byte.
struct TLfsrSize {
  int32_t Bits;
  uint8_t Poly;
};
extern const std::array<TLfsrSize, 34> LfsrSizes;

class TRandom_LFSR : public TRandom {
 public:
  explicit TRandom_LFSR(const AnsiString& SeedText = {}, int32_t Size = 0, bool Randomize = false,
                        std::shared_ptr<TProtection> Protection = nullptr);
  ~TRandom_LFSR() override;

  // The largest size of LfsrSizes not above Bits (Bits <= 0: 128; below 32:
  // 128); reseeds to the basic state. Nothing when Bits is the current size.
  void SetRegisterSize(int32_t Bits) override;
  AnsiString GetStateText() override;
  void SetStateText(const AnsiString& Text) override;
  void SeedFrom(const void* Data, int32_t Size) override;
  void FillRandom(void* Buffer, int32_t Count) override;
  const char* ClassName() const override { return "TRandom_LFSR"; }

  // Carry-less products of every byte with the bit-reversed polynomial byte.
  const std::array<uint16_t, 256>& LfsrTable() const { return FTable; }
  const std::array<uint8_t, 256>& LfsrRegister() const { return FLfsrRegister; }
  int32_t Position() const { return FPosition; }
  int32_t LastIndex() const { return FLastIndex; }

 private:
  void Generate16(uint8_t* Buffer, int32_t Count);
  void GenerateAny(uint8_t* Buffer, int32_t Count);

  int32_t FPosition = 0;
  int32_t FLastIndex = 0;
  std::array<uint16_t, 256> FTable{};
  std::array<uint8_t, 256> FLfsrRegister{};
  void (TRandom_LFSR::*FGenerate)(uint8_t*, int32_t) = &TRandom_LFSR::GenerateAny;
};

}  // namespace zk
