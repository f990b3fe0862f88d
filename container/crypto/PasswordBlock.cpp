#include "container/crypto/PasswordBlock.h"

#include <cstring>

#include "container/crypto/CheckValue.h"
#include "container/crypto/Cipher.h"
#include "container/crypto/Random.h"
#include "platform/rtl/Exception.h"
#include "platform/rtl/RtlRandom.h"
#include "platform/rtl/SecureMemory.h"

namespace zk {

namespace {

// Secret bytes on the stack, overwritten on every way out.
template <size_t N>
struct TSecretBytes {
  uint8_t Data[N] = {};
  TSecretBytes() = default;
  TSecretBytes(const TSecretBytes&) = delete;
  TSecretBytes& operator=(const TSecretBytes&) = delete;
  ~TSecretBytes() { SecureFill(Data, N); }
};

// A copy of a block, overwritten when it goes.
struct TBlockCopy {
  TPasswordBlock Block;
  explicit TBlockCopy(const TPasswordBlock& source) { std::memcpy(&Block, &source, sizeof Block); }
  TBlockCopy(const TBlockCopy&) = delete;
  TBlockCopy& operator=(const TBlockCopy&) = delete;
  ~TBlockCopy() { SecureFill(&Block, sizeof Block); }
};

// A text with secret bytes, overwritten when it goes.
struct TSecretText {
  AnsiString Text;
  TSecretText() = default;
  TSecretText(const TSecretText&) = delete;
  TSecretText& operator=(const TSecretText&) = delete;
  ~TSecretText() { SecureErase(Text); }
};

uint32_t Crc16Of(const void* data, size_t size) {
  return ComputeCheckValue(data, static_cast<uint32_t>(size), ckCrc16);
}

void CheckLengths(const AnsiString& Password, const AnsiString& Question) {
  if (Password.size() > static_cast<size_t>(MaxPasswordLength)) {
    throw Exception("Password length should be shorter then " + IntToStr(MaxPasswordLength));
  }
  if (Question.size() > static_cast<size_t>(MaxQuestionLength)) {
    throw Exception("Question length should be shorter then " + IntToStr(MaxQuestionLength));
  }
}

void EncryptInPlace(const AnsiString& KeyText, void* Data, size_t Size) {
  TCipher_Rijndael(KeyText).EncryptBuffer(Data, Data, static_cast<int32_t>(Size));
}

void DecryptInPlace(const AnsiString& KeyText, void* Data, size_t Size) {
  TCipher_Rijndael(KeyText).DecryptBuffer(Data, Data, static_cast<int32_t>(Size));
}

// The block's fields from the plain master key (lengths already checked).
void FillBlock(TPasswordBlock& Block, const uint8_t* Key, const AnsiString& Password,
               const AnsiString& Question, const AnsiString& Answer) {
  std::memset(&Block, 0, sizeof Block);
  Block.MasterKeyCheck = Crc16Of(Key, MasterKeySize);
  TCipher_Rijndael(Password).EncryptBuffer(Key, Block.MasterKey, MasterKeySize);
  if (!Question.empty() && !Answer.empty()) {
    std::memcpy(Block.Question, Question.data(), Question.size());
    std::memcpy(Block.Password, Password.data(), Password.size());
    EncryptInPlace(AnsiString(QuestionKeyText), Block.Question, sizeof Block.Question);
    Block.PasswordCheck = Crc16Of(Block.Password, sizeof Block.Password);
    EncryptInPlace(Answer, Block.Password, sizeof Block.Password);
  }
}

// Bytes of a zero-padded field without the padding.
AnsiString Unpadded(const uint8_t* data, size_t size) {
  while (size > 0 && data[size - 1] == 0) --size;
  return AnsiString(reinterpret_cast<const char*>(data), size);
}

bool AllZero(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

}  // namespace

void BuildPasswordBlock(TPasswordBlock& Block, const AnsiString& Password,
                        const AnsiString& Question, const AnsiString& Answer) {
  CheckLengths(Password, Question);
  TSecretBytes<MasterKeySize> key;
  MakeRandomKey(key.Data, MasterKeySize);
  FillBlock(Block, key.Data, Password, Question, Answer);
}

void BuildPasswordBlockWithKey(TPasswordBlock& Block, const void* MasterKeyBytes,
                               const AnsiString& Password, const AnsiString& Question,
                               const AnsiString& Answer) {
  CheckLengths(Password, Question);
  // The key may lie in Block itself (or in a text that the caller replaces).
  TSecretBytes<MasterKeySize> key;
  std::memcpy(key.Data, MasterKeyBytes, MasterKeySize);
  FillBlock(Block, key.Data, Password, Question, Answer);
}

bool OpenPasswordBlock(const TPasswordBlock& Block, const AnsiString& Password,
                       AnsiString& MasterKeyText) {
  TBlockCopy copy(Block);
  if (Password.empty()) return false;
  // Built aside: Password may be the very string that receives the key text.
  TSecretText text;
  text.Text.assign(MasterKeyTextLength, '\0');
  std::memcpy(text.Text.data(), copy.Block.MasterKey, MasterKeySize);
  DecryptInPlace(Password, text.Text.data(), MasterKeySize);
  const bool opened = Crc16Of(text.Text.data(), MasterKeySize) == copy.Block.MasterKeyCheck;
  text.Text[MasterKeySize] = '\0';
  // The older key text goes with `text` and is overwritten there.
  MasterKeyText.swap(text.Text);
  return opened;
}

AnsiString PasswordBlockQuestion(const TPasswordBlock& Block) {
  TBlockCopy copy(Block);
  if (AllZero(copy.Block.Question, sizeof copy.Block.Question)) return {};
  DecryptInPlace(AnsiString(QuestionKeyText), copy.Block.Question, sizeof copy.Block.Question);
  return Unpadded(copy.Block.Question, sizeof copy.Block.Question);
}

bool RecoverPassword(const TPasswordBlock& Block, const AnsiString& Answer, AnsiString& Password) {
  TBlockCopy copy(Block);
  if (Answer.empty() || AllZero(copy.Block.Password, sizeof copy.Block.Password)) return false;
  DecryptInPlace(Answer, copy.Block.Password, sizeof copy.Block.Password);
  if (Crc16Of(copy.Block.Password, sizeof copy.Block.Password) != copy.Block.PasswordCheck) {
    return false;
  }
  Password = Unpadded(copy.Block.Password, sizeof copy.Block.Password);
  return true;
}

void MakeRandomKey(void* Buffer, int32_t Count) {
  if (Count <= 0) return;
  AnsiString seedText = RandomSeedText(100);
  try {
    TRandom_LFSR generator(seedText, 2032, false, nullptr);
    generator.SeedFrom(nullptr, -1);  // the clock on top of the seed text
    generator.FillRandom(Buffer, Count);
  } catch (...) {
    SecureErase(seedText);
    throw;
  }
  SecureErase(seedText);
}

AnsiString RandomSeedText(int32_t Count) {
  AnsiString text;
  if (Count <= 0) return text;
  text.resize(static_cast<size_t>(Count));
  for (auto& c : text) {
    const int32_t r = Random(0x7FFFFFFF);  // 0 .. 2^31 - 2
    c = static_cast<char>(r % 255 + 1);
  }
  return text;
}

}  // namespace zk
