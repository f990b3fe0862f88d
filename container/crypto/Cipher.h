// The block cipher of the container: the cipher base class TCipher with its
// chaining mode, key setup from a key text and cipher errors, and the Rijndael
// cipher TCipher_Rijndael (16-byte blocks). A cipher object owns its initial
// vector, feedback register, scratch block and key schedule, and overwrites
// them before they are freed. A key text is hashed with RIPEMD-256 and the
// 32-byte digest keys the cipher; 32-byte keys are expanded in this cipher's
// own way, which is not the AES-256 expansion.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "container/crypto/Hash.h"
#include "container/crypto/Protection.h"
#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Exception.h"

namespace zk {

// Error codes of ECipherException.
constexpr int32_t errCipherKeySize = 2;         // key too long (CheckKeySize on)
constexpr int32_t errCipherNotInitialized = 3;  // no key set

class ECipherException : public Exception {
 public:
  ECipherException(int32_t Code, AnsiString Text) : Exception(std::move(Text)), ErrorCode(Code) {}
  int32_t ErrorCode;
};

// With the switch on, Init rejects keys longer than the maximal key size
// instead of cutting them. Off by default.
extern std::atomic<bool> CheckKeySize;

// Sizes a cipher class works with, in bytes.
struct TCipherContext {
  int32_t BlockSize = 0;
  int32_t MaxKeySize = 0;
  uint32_t KeyScheduleSize = 0;
};

class TCipher : public TProtection {
 public:
  // Bits of the flag set.
  static constexpr uint32_t FlagKeyFromText = 1u << 0;  // key set by InitKey
  static constexpr uint32_t FlagInitialized = 1u << 1;  // key and initial vector in place

  ~TCipher() override;

  static TCipherContext Context() { return {}; }
  virtual TCipherContext CipherContext() const { return Context(); }
  virtual const char* ClassName() const { return "TCipher"; }

  virtual void SetStateFlag(uint32_t Bit, bool On);
  // Sets the initial vector (InitVector of block size, or nullptr: the old
  // initial vector enciphered under the new key) and the feedback register.
  virtual void FinishInit(const void* InitVector);
  virtual void EncryptBlock(void* Block) = 0;
  virtual void DecryptBlock(void* Block) = 0;
  // Raw key setup from KeySize bytes of Key (a negative size counts as 0).
  virtual void Init(const void* Key, int32_t KeySize, const void* InitVector) = 0;
  // The feedback register back to the initial vector.
  virtual void ResetChain();
  // Key material overwritten, flags cleared.
  virtual void Wipe();

  // The key is the hash of all bytes of KeyText (NUL bytes included).
  void InitKey(const AnsiString& KeyText, const void* InitVector);

  // Size bytes in chaining mode 0; Source and Dest may be the same buffer (but
  // must not overlap otherwise). Raise the not-initialized error before any
  // work, even for Size 0; a Size <= 0 changes nothing.
  void EncryptBuffer(const void* Source, void* Dest, int32_t Size);
  void DecryptBuffer(const void* Source, void* Dest, int32_t Size);

  uint8_t ChainMode() const { return 0; }  // the only mode there is
  uint32_t Flags() const { return FFlags; }
  bool Initialized() const { return (FFlags & FlagInitialized) != 0; }
  THashClass HashClass() const { return FHashClass; }

  // The working buffers (block size, and key-schedule size for the schedule).
  const uint8_t* InitVector() const { return Bytes(FInitVector); }
  const uint8_t* FeedbackRegister() const { return Bytes(FFeedback); }
  const uint8_t* KeySchedule() const { return Bytes(FKeySchedule); }

  // Protection hooks: the chain's data is enciphered or deciphered.
  void BeginProcess(TProtectionAction Action) override;
  void EndProcess(TProtectionAction Action) override;
  void ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) override;

 protected:
  TCipher(const TCipherContext& Context, std::shared_ptr<TProtection> Protection);

  // Steps common to every Init: not initialized, wiped, the key size checked
  // and cut to the maximal key size. Returns the size to use.
  int32_t BeginInit(int32_t KeySize);
  void CheckInitialized() const;

  uint8_t* MutableInitVector() { return Bytes(FInitVector); }
  uint8_t* MutableFeedback() { return Bytes(FFeedback); }
  uint8_t* Scratch() { return Bytes(FScratch); }
  uint32_t* ScheduleWords() { return FKeySchedule.data(); }
  const uint32_t* ScheduleWords() const { return FKeySchedule.data(); }

 private:
  // Buffers are kept as 32-bit words so the round code can read them as such.
  using TWords = std::vector<uint32_t>;
  static TWords MakeBuffer(uint32_t Bytes) { return TWords((Bytes + 3) / 4); }
  static uint8_t* Bytes(TWords& w) { return reinterpret_cast<uint8_t*>(w.data()); }
  static const uint8_t* Bytes(const TWords& w) {
    return reinterpret_cast<const uint8_t*>(w.data());
  }
  void FillState(uint8_t BlockValue, uint8_t ScheduleValue);
  void ProcessAction(TProtectionAction Action);

  const TCipherContext FContext;
  std::unique_ptr<THash> FHash;
  THashClass FHashClass;
  TWords FScratch;
  TWords FInitVector;
  TWords FFeedback;
  TWords FKeySchedule;
  uint32_t FFlags = 0;
};

class TCipher_Rijndael : public TCipher {
 public:
  // A cipher keyed from KeyText; an empty text leaves it not initialized.
  explicit TCipher_Rijndael(const AnsiString& KeyText = {},
                            std::shared_ptr<TProtection> Protection = nullptr);
  ~TCipher_Rijndael() override;

  static TCipherContext Context() { return {16, 32, 480}; }
  TCipherContext CipherContext() const override { return Context(); }
  const char* ClassName() const override { return "TCipher_Rijndael"; }

  void EncryptBlock(void* Block) override;
  void DecryptBlock(void* Block) override;
  void Init(const void* Key, int32_t KeySize, const void* InitVector) override;

  int32_t Rounds() const { return FRounds; }

 private:
  int32_t FRounds = 0;
};

}  // namespace zk
