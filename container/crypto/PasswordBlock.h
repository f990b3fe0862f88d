// The password block: a random 32-byte master key enciphered with the
// password, with a check value, and optionally a question and, enciphered with
// the answer, the password itself. The block is plain data stored as it is in
// the container header and in the directory record of a file with a password
// of its own. The master key text (the 32 key bytes and a final NUL, 33 bytes)
// is the key text of every enciphered page.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/rtl/AnsiString.h"

namespace zk {

constexpr int32_t MaxPasswordLength = 32;    // bytes
constexpr int32_t MaxQuestionLength = 100;   // bytes
constexpr int32_t MasterKeySize = 32;        // random key bytes
constexpr int32_t MasterKeyTextLength = 33;  // key bytes and a final NUL

// The fixed key text of the question field.
constexpr std::string_view QuestionKeyText = "Qm7;vT!r2#Lp9wE&k";

static_assert(std::endian::native == std::endian::little,
              "the password block's check values are stored little-endian");

#pragma pack(push, 1)
struct TPasswordBlock {
  uint8_t MasterKey[32];    // master key, enciphered with the password
  uint8_t Password[32];     // password and zeros, enciphered with the answer
  uint32_t MasterKeyCheck;  // CRC-16 of the plain master key
  uint32_t PasswordCheck;   // CRC-16 of the plain password field
  uint8_t Question[100];    // question and zeros, enciphered with QuestionKeyText
};
#pragma pack(pop)

static_assert(sizeof(TPasswordBlock) == 172);
static_assert(offsetof(TPasswordBlock, MasterKey) == 0);
static_assert(offsetof(TPasswordBlock, Password) == 32);
static_assert(offsetof(TPasswordBlock, MasterKeyCheck) == 64);
static_assert(offsetof(TPasswordBlock, PasswordCheck) == 68);
static_assert(offsetof(TPasswordBlock, Question) == 72);

// Fills Block with a new random master key enciphered with Password; the
// question and the password enciphered with Answer go in when both Question
// and Answer are not empty. Raises zk::Exception for a password over 32 or a
// question over 100 bytes before anything is written; an empty password
// raises the cipher's not-initialized error.
void BuildPasswordBlock(TPasswordBlock& Block, const AnsiString& Password,
                        const AnsiString& Question, const AnsiString& Answer);

// As BuildPasswordBlock, but with the given 32 master-key bytes instead of a
// new random key: a block with a new password, question or answer that still
// opens the pages written under the old master key text.
void BuildPasswordBlockWithKey(TPasswordBlock& Block, const void* MasterKeyBytes,
                               const AnsiString& Password, const AnsiString& Question,
                               const AnsiString& Answer);

// True when Password opens Block. MasterKeyText receives the 33-byte master
// key text whenever Password is not empty (wrong bytes for a wrong password);
// an empty password gives false and leaves MasterKeyText as it was.
bool OpenPasswordBlock(const TPasswordBlock& Block, const AnsiString& Password,
                       AnsiString& MasterKeyText);

// The question stored in Block (without its padding); empty when none is.
AnsiString PasswordBlockQuestion(const TPasswordBlock& Block);

// The password stored in Block, deciphered with Answer; true when the answer
// matches the stored check value. Password is set only then.
bool RecoverPassword(const TPasswordBlock& Block, const AnsiString& Answer, AnsiString& Password);

// Count random bytes into Buffer (nothing for Count <= 0), from an LFSR
// generator seeded with a random seed text and the clock.
void MakeRandomKey(void* Buffer, int32_t Count);

// Count characters with codes 1 to 255 from the run-time library's random
// generator (empty for Count <= 0).
AnsiString RandomSeedText(int32_t Count);

}  // namespace zk
