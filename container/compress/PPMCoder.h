// The PPM coder behind compression methods 3, 4 and 6: an adaptive context
// model of order 1 to 16 that drives a carry-less range coder.
//
// A TPPMModel is made for one coding call and owns everything that call needs:
// the model memory (one zero-filled block managed in 12-byte units), the
// statistics tables, the symbol masks and the range coder state. Two threads
// may code at once with two models; nothing is shared but constant tables.
//
// Layout inside the model memory (all little-endian, reached by position):
//   context record, one unit: EntryCount u16 @0, TotalFreq u16 @2,
//     Entries ref @4, Shorter ref @8; with EntryCount 0 or 1 the 6-byte
//     SoleEntry lies at @2 in place of TotalFreq and Entries.
//   symbol entry, 6 bytes: Symbol u8 @0, Freq u8 @1, Next ref @2.
// A reference is the index of a record in FMem; 0 is the absent reference
// (the model's bytes start at index 12 so that no record lies at 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "platform/rtl/Exception.h"

namespace zk {

// The model failed (no memory, an absent context, damaged coded data, output
// beyond its limit). The buffer functions turn it into a result of 0.
class EPPMError : public Exception {
 public:
  using Exception::Exception;
};

class TPPMModel {
 public:
  // Obtains ModelMemoryMB * 2^20 zero-filled bytes. MaxOrder 1 to 16,
  // ModelMemoryMB 1 to 256; raises EPPMError otherwise or when the memory
  // cannot be obtained.
  TPPMModel(int MaxOrder, int ModelMemoryMB);

  // Codes the Size bytes at In and the end-of-data mark and writes the coded
  // bytes (with the 4 flush bytes) into Out from OutPos on, growing Out when
  // it is too short. Returns the position after the last coded byte.
  size_t Encode(const uint8_t* In, size_t Size, std::vector<uint8_t>& Out, size_t OutPos);

  // Decodes the coded bytes In[0..Size) up to the end-of-data mark into Out and
  // returns the number of bytes decoded. Raises EPPMError when the data asks
  // for more than Out.size() bytes or reads past the end of In.
  size_t Decode(const uint8_t* In, size_t Size, std::span<uint8_t> Out);

  // How often the model restarted because its memory ran out while learning.
  int Restarts() const { return FRestarts; }

 private:
  using Ref = uint32_t;
  static constexpr uint32_t UnitBytes = 12;

  struct TEscapeStat {
    uint16_t Summ;
    uint8_t Shift;
    uint8_t Countdown;
  };

  struct TFree {
    void operator()(uint8_t* p) const { std::free(p); }
  };

  [[noreturn]] static void Fail(const char* what);

  // Raw access to the model memory (kept inline: the coder lives on these).
  [[gnu::always_inline]] uint16_t Get16(Ref at) const {
    return static_cast<uint16_t>(FBase[at] | (FBase[at + 1] << 8));
  }
  [[gnu::always_inline]] uint32_t Get32(Ref at) const {
    return static_cast<uint32_t>(FBase[at]) | (static_cast<uint32_t>(FBase[at + 1]) << 8) |
           (static_cast<uint32_t>(FBase[at + 2]) << 16) |
           (static_cast<uint32_t>(FBase[at + 3]) << 24);
  }
  [[gnu::always_inline]] void Put16(Ref at, uint16_t v) {
    FBase[at] = static_cast<uint8_t>(v);
    FBase[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  [[gnu::always_inline]] void Put32(Ref at, uint32_t v) {
    FBase[at] = static_cast<uint8_t>(v);
    FBase[at + 1] = static_cast<uint8_t>(v >> 8);
    FBase[at + 2] = static_cast<uint8_t>(v >> 16);
    FBase[at + 3] = static_cast<uint8_t>(v >> 24);
  }

  // Context record fields.
  [[gnu::always_inline]] uint16_t EntryCount(Ref c) const { return Get16(c); }
  [[gnu::always_inline]] void SetEntryCount(Ref c, unsigned v) {
    Put16(c, static_cast<uint16_t>(v));
  }
  [[gnu::always_inline]] uint16_t TotalFreq(Ref c) const { return Get16(c + 2); }
  [[gnu::always_inline]] void SetTotalFreq(Ref c, unsigned v) {
    Put16(c + 2, static_cast<uint16_t>(v));
  }
  [[gnu::always_inline]] Ref Entries(Ref c) const { return Get32(c + 4); }
  [[gnu::always_inline]] void SetEntries(Ref c, Ref v) { Put32(c + 4, v); }
  [[gnu::always_inline]] Ref Shorter(Ref c) const { return Get32(c + 8); }
  [[gnu::always_inline]] void SetShorter(Ref c, Ref v) { Put32(c + 8, v); }
  [[gnu::always_inline]] static Ref SoleEntry(Ref c) { return c + 2; }

  // Symbol entry fields.
  [[gnu::always_inline]] uint8_t Symbol(Ref e) const { return FBase[e]; }
  [[gnu::always_inline]] void SetSymbol(Ref e, uint8_t v) { FBase[e] = v; }
  [[gnu::always_inline]] uint8_t Freq(Ref e) const { return FBase[e + 1]; }
  [[gnu::always_inline]] void SetFreq(Ref e, unsigned v) { FBase[e + 1] = static_cast<uint8_t>(v); }
  [[gnu::always_inline]] Ref Next(Ref e) const { return Get32(e + 2); }
  [[gnu::always_inline]] void SetNext(Ref e, Ref v) { Put32(e + 2, v); }
  void CopyEntry(Ref to, Ref from);

  // Checked references: a context that must exist, the entry array of a
  // context with two or more entries, the entry of a symbol in a context.
  [[gnu::always_inline]] Ref Context(Ref c) const {
    if (c < FMemStart || c > FMemEnd - UnitBytes) Fail("absent or invalid context");
    return c;
  }
  [[gnu::always_inline]] Ref Stats(Ref c) const {
    const uint32_t n = EntryCount(c);
    const Ref e = Entries(c);
    if (n < 2 || n > 256 || e < FMemStart || e > FMemEnd - UnitBytes * ((n + 1) / 2)) {
      Fail("invalid entry array");
    }
    return e;
  }
  Ref FindEntry(Ref c, uint8_t symbol) const;

  // Sub-allocator.
  void PushFree(int cls, Ref block);
  Ref PopFree(int cls);
  Ref TakeUnits(int n);
  void SplitRest(Ref position, int r);
  Ref TakeContext();
  Ref GrowBlock(Ref block, int n);
  Ref ShrinkBlock(Ref block, int oldN, int newN);
  void ReleaseBlock(Ref block, int n);

  // Model.
  void ResetModel();
  bool CodeSymbol(int s, uint8_t& symbol);
  void CodeInBinary(Ref c, int s);
  void CodeInFirst(Ref c, int s);
  void CodeInMasked(Ref c, int s);
  void HalveFreqs(Ref c);
  void LearnSymbol();
  void Restart();
  bool BuildSuccessors(int mode, Ref from);

  // Range coder.
  void StartCoder();
  uint32_t GetCount(uint32_t scale);
  uint32_t GetBinaryCount();
  void CodeInterval(uint32_t lowCount, uint32_t highCount, uint32_t scale);
  void CodeBinaryInterval(uint32_t lowCount, uint32_t highCount);
  void ApplyInterval(uint32_t lowCount, uint32_t highCount);
  void NormalizeCoder();
  void PutByte(uint8_t b);
  uint8_t GetByte();

  // Model memory.
  std::unique_ptr<uint8_t[], TFree> FMem;
  uint8_t* FBase = nullptr;  // FMem.get()
  Ref FMemStart = 0;         // index of model byte 0
  Ref FMemEnd = 0;           // index just past the last whole unit
  Ref FLowMark = 0;
  Ref FHighMark = 0;
  bool FReserveReleased = false;
  Ref FFreeBlocks[38] = {};

  // Model state.
  int FMaxOrder;
  Ref FCurrentContext = 0;
  Ref FTopContext = 0;
  Ref FTextTail = 0;
  Ref FFoundEntry = 0;
  int FOrderDrop = 0;
  int FMaskedCount = 0;
  uint8_t FBinEscapeInit = 0;
  uint8_t FMaskStamp = 0;
  int FLastHit = 0;
  int FRestarts = 0;
  uint8_t FSymbolMask[256] = {};
  uint16_t FBinaryProb[128][16] = {};
  TEscapeStat FEscapeStats[43][8] = {};

  // Range coder and its byte streams.
  bool FDecoding = false;
  uint32_t FLow = 0;
  uint32_t FRange = 0;
  uint32_t FCode = 0;
  const uint8_t* FIn = nullptr;
  size_t FInSize = 0;
  size_t FInPos = 0;
  std::vector<uint8_t>* FOut = nullptr;
  size_t FOutPos = 0;
};

}  // namespace zk
