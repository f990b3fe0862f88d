// The protection chain: the common base of ciphers, hashes and random
// generators. Data handed to one protection object passes through the next
// object of its chain too; each object decides whether it works before or
// after passing on. An object holds a counted reference (std::shared_ptr) to
// its next object; the chain can never loop.
#pragma once

#include <cstdint>
#include <memory>

#include "container/crypto/StringFormat.h"
#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Exception.h"
#include "platform/rtl/Stream.h"

namespace zk {

// "Circular Protection detected, Protection Object is invalid."
class EProtection : public Exception {
 public:
  using Exception::Exception;
};

enum TProtectionAction : uint8_t {
  paEncode = 0,    // encipher data
  paDecode = 1,    // decipher data
  paScramble = 2,  // make data unrecognisable (one-way)
  paDigest = 3,    // read data only (feed a hash), leave it unchanged
  paWipe = 4,      // like encode, but reseed state from the clock
};

// A set of actions: bit n stands for action n.
using TProtectionActions = uint8_t;
constexpr TProtectionActions ActionBit(TProtectionAction Action) {
  return static_cast<TProtectionActions>(1u << Action);
}
constexpr TProtectionActions AllProtectionActions = 0x1F;

class TProtection {
 public:
  explicit TProtection(std::shared_ptr<TProtection> Protection = nullptr);
  virtual ~TProtection();
  TProtection(const TProtection&) = delete;
  TProtection& operator=(const TProtection&) = delete;

  const std::shared_ptr<TProtection>& NextProtection() const { return FNextProtection; }
  // Raises EProtection when Value is this object or leads back to it; the
  // chain is then left as it was.
  void SetNextProtection(std::shared_ptr<TProtection> Value);

  TProtectionActions AllowedActions = AllProtectionActions;
  bool IsAllowed(TProtectionAction Action) const {
    return (AllowedActions & ActionBit(Action)) != 0;
  }

  // Hooks that subclasses override. The base passes each on to the next object.
  virtual void BeginProcess(TProtectionAction Action);
  virtual void EndProcess(TProtectionAction Action);
  virtual void ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action);

  // Source (Dest nullptr: Source itself, in place) in chunks of at most 4096
  // bytes; Size < 0: the whole Source from position 0, else Size bytes from its
  // position. The digest action only reads. EndProcess runs on every way out.
  virtual void ProcessStream(TStream* Source, TStream* Dest, int64_t Size,
                             TProtectionAction Action);
  // A file into another, replacing it and cut to the output's length. In place
  // when DestName is blank or names the source file itself. The digest action
  // only reads the source.
  virtual void ProcessFile(const AnsiString& SourceName, const AnsiString& DestName,
                           TProtectionAction Action);
  // Decode: the text in format FormatId to bytes, processed, returned as bytes.
  // Other actions: the text's bytes processed and returned in format FormatId.
  virtual AnsiString ProcessString(const AnsiString& Text, TProtectionAction Action,
                                   int32_t FormatId = -1);
  // BeginProcess, ProcessChunk, EndProcess (also after an error). Returns Size.
  virtual int32_t ProcessBuffer(void* Buffer, int32_t Size, TProtectionAction Action);

 private:
  std::shared_ptr<TProtection> FNextProtection;
};

}  // namespace zk
