#include "container/crypto/Random.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "container/crypto/CheckValue.h"
#include "container/crypto/StringFormat.h"
#include "platform/rtl/SecureMemory.h"

namespace zk {

const std::array<TLfsrSize, 34> LfsrSizes = {{
    {32, 0xF5},  {40, 0x9C},  {48, 0xED},  {56, 0xA9},   {64, 0xD8},   {72, 0xFA},   {80, 0xF5},
    {96, 0xBB},  {120, 0xE7}, {128, 0xE1}, {144, 0xA9},  {152, 0xB2},  {160, 0xB4},  {176, 0xBD},
    {200, 0xB4}, {216, 0xD1}, {304, 0xFC}, {320, 0xD8},  {336, 0xC9},  {352, 0xBD},  {400, 0xB4},
    {408, 0xFA}, {440, 0xD8}, {480, 0xBB}, {488, 0xD8},  {504, 0xFA},  {536, 0x95},  {672, 0xF6},
    {712, 0x9C}, {728, 0xB8}, {824, 0xFC}, {1128, 0xD1}, {1232, 0xF3}, {2032, 0xA3},
}};

namespace {

constexpr const char* InvalidData = "Invalid Random Data detected.";
constexpr int32_t WorkPiece = 4096;
constexpr uint16_t StateFlag = 256;  // + 1 when the state is protected
constexpr size_t LfsrBodySize = 2 + 4 + 256 + 4 * 4;
constexpr size_t RandomBodySize = 2 + 4 * 4;

void PutLE32(AnsiString& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void PutLE16(AnsiString& out, uint16_t v) {
  out.push_back(static_cast<char>(v));
  out.push_back(static_cast<char>(v >> 8));
}
uint32_t GetLE32(const AnsiString& in, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(in[at + static_cast<size_t>(i)]);
  return v;
}
uint16_t GetLE16(const AnsiString& in, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(in[at]) | static_cast<uint8_t>(in[at + 1])
                                                                  << 8);
}

// Two bytes of noise that start every state record.
AnsiString NoiseBytes() {
  uint8_t noise[2] = {};
  MixSeedBuffer(ClockSeed(), noise, 2);
  return AnsiString(reinterpret_cast<const char*>(noise), 2);
}

int LfsrEntryOf(int32_t Bits) {
  for (int i = 0; i < static_cast<int>(LfsrSizes.size()); ++i) {
    if (LfsrSizes[static_cast<size_t>(i)].Bits == Bits) return i;
  }
  return -1;
}

}  // namespace

// ---- TRandom ----

TRandom::TRandom(const AnsiString& SeedText, int32_t Size, bool Randomize,
                 std::shared_ptr<TProtection> Protection)
    : TRandom(TDeferInit{}, SeedText, std::move(Protection)) {
  Init(Size, Randomize);
}

TRandom::TRandom(TDeferInit, const AnsiString& SeedText, std::shared_ptr<TProtection> Protection)
    : TProtection(std::move(Protection)), FSeedText(SeedText) {}

TRandom::~TRandom() {
  try {
    if (!FFinalSeedDone) TRandom::SeedFrom(nullptr, 0);
  } catch (...) {
    // A failing protection must not escape a destructor; the register is wiped below.
  }
  SecureFill(&FRegister, sizeof FRegister);
  SecureErase(FSeedText);
}

void TRandom::Init(int32_t Size, bool Randomize) {
  SetRegisterSize(Size);
  if (Size > 0) {
    if (Randomize) {
      SeedFrom(nullptr, -1);
    } else {
      SeedFrom(FSeedText.data(),
               static_cast<int32_t>(std::min<size_t>(FSeedText.size(), INT32_MAX)));
    }
  }
}

void TRandom::SetRegisterSize(int32_t) {
  FRegisterSize = 32;
}

void TRandom::ScrambleThroughNext(void* Buffer, int32_t Size) {
  if (NextProtection()) NextProtection()->ProcessBuffer(Buffer, Size, paScramble);
}

void TRandom::SeedFrom(const void* Data, int32_t Size) {
  if (Data != nullptr && Size > 0) {
    uint8_t bytes[4] = {};
    const auto* p = static_cast<const uint8_t*>(Data);
    for (int32_t j = 0; j < Size; ++j) bytes[j % 4] = static_cast<uint8_t>(bytes[j % 4] + p[j]);
    FRegister = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                uint32_t(bytes[3]) << 24;
  } else if (Size < 0) {
    FRegister = ClockSeed() + FCount + 1;
  } else {
    FRegister = FBasicSeed;
  }
  ScrambleThroughNext(&FRegister, sizeof FRegister);
}

void TRandom::FillRandom(void* Buffer, int32_t Count) {
  if (Buffer == nullptr || Count <= 0) return;
  std::memset(Buffer, 0, static_cast<size_t>(Count));
  FRegister = MixSeedBuffer(FRegister, Buffer, Count);
  FCount += static_cast<uint32_t>(Count);
  ScrambleThroughNext(Buffer, Count);
}

int32_t TRandom::RandomInt(int32_t Range) {
  uint8_t bytes[4];
  FillRandom(bytes, 4);
  const auto r32 = static_cast<int32_t>(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                                        uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
  if (Range == 0 || r32 == 0) return r32;
  // In 64 bits, so that the smallest 32-bit value can be negated.
  int64_t r = r32, range = Range;
  if (range > 0 && r < 0) r = -r;
  if (range < 0) range = -range;
  return static_cast<int32_t>(r % (range + 1));
}

void TRandom::Reseed(TProtectionAction Action) {
  if (Action == paWipe) {
    SeedFrom(nullptr, -1);
  } else {
    SeedFrom(FSeedText.data(), static_cast<int32_t>(std::min<size_t>(FSeedText.size(), INT32_MAX)));
  }
}

void TRandom::BeginProcess(TProtectionAction Action) {
  Reseed(Action);
  TProtection::BeginProcess(Action);
}

void TRandom::EndProcess(TProtectionAction Action) {
  TProtection::EndProcess(Action);
  Reseed(Action);
}

void TRandom::ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) {
  if (Action != paDecode) TProtection::ProcessChunk(Buffer, Size, Action);
  if (IsAllowed(Action) && Buffer != nullptr && Size > 0) {
    auto* p = static_cast<uint8_t*>(Buffer);
    std::vector<uint8_t> work(static_cast<size_t>(std::min(Size, WorkPiece)));
    for (int32_t i = 0; i < Size; i += WorkPiece) {
      const int32_t n = std::min(WorkPiece, Size - i);
      FillRandom(work.data(), n);
      if (Action == paDigest) {
        XorBytes(work.data(), p + i, n, work.data());
      } else {
        XorBytes(p + i, work.data(), n, p + i);
      }
    }
    SecureFill(work.data(), work.size());
  }
  if (Action == paDecode) TProtection::ProcessChunk(Buffer, Size, Action);
}

void TRandom::ProtectBytes(AnsiString& Bytes, bool Protect) {
  TMemoryStream memory;
  memory.WriteBuffer(Bytes.data(), static_cast<int32_t>(Bytes.size()));
  NextProtection()->ProcessStream(&memory, nullptr, -1, Protect ? paEncode : paDecode);
  if (memory.GetSize() != static_cast<int64_t>(Bytes.size())) throw ERandom(InvalidData);
  std::memcpy(Bytes.data(), memory.Memory(), Bytes.size());
  SecureFill(memory.Memory(), Bytes.size());
}

AnsiString TRandom::EncodeStateText(AnsiString Body) {
  PutLE16(Body, static_cast<uint16_t>(
                    ~UpdateCrc16(0xFFFF, Body.data(), static_cast<int64_t>(Body.size()))));
  uint16_t flag = StateFlag;
  if (NextProtection()) {
    ProtectBytes(Body, true);
    flag |= 1;
  }
  PutLE16(Body, flag);
  AnsiString text = BytesToFormat(Body, fmtMIME64);
  SecureErase(Body);
  return text;
}

AnsiString TRandom::DecodeStateText(const AnsiString& Text, size_t BodySize) {
  AnsiString data;
  try {
    data = FormatToBytes(Text, fmtMIME64);
  } catch (const EStringFormat&) {
    throw ERandom(InvalidData);
  }
  if (data.size() != BodySize + 4) throw ERandom(InvalidData);
  const uint16_t flag = GetLE16(data, BodySize + 2);
  if (flag < 256 || flag > 511) throw ERandom(InvalidData);
  data.resize(BodySize + 2);
  if (flag & 1) {
    if (!NextProtection()) throw ERandom("Random Data are protected.");
    ProtectBytes(data, false);
  }
  const uint16_t check =
      static_cast<uint16_t>(~UpdateCrc16(0xFFFF, data.data(), static_cast<int64_t>(BodySize)));
  if (GetLE16(data, BodySize) != check) throw ERandom(InvalidData);
  data.resize(BodySize);
  return data;
}

AnsiString TRandom::GetStateText() {
  AnsiString body = NoiseBytes();
  PutLE32(body, static_cast<uint32_t>(FRegisterSize));
  PutLE32(body, FBasicSeed);
  PutLE32(body, FCount);
  PutLE32(body, FRegister);
  return EncodeStateText(std::move(body));
}

void TRandom::SetStateText(const AnsiString& Text) {
  AnsiString body = DecodeStateText(Text, RandomBodySize);
  if (static_cast<int32_t>(GetLE32(body, 2)) != 32) throw ERandom(InvalidData);
  SetRegisterSize(32);
  FBasicSeed = GetLE32(body, 6);
  FCount = GetLE32(body, 10);
  FRegister = GetLE32(body, 14);
  SecureErase(body);
}

void TRandom::WriteState(TStream& Stream) {
  const AnsiString text = GetStateText();
  AnsiString wrapped;
  for (size_t i = 0; i < text.size(); i += 64) {
    wrapped.append(text, i, 64);
    if (i + 64 <= text.size()) wrapped += "\r\n";
  }
  AnsiString name = ClassName() + 1;
  if (const size_t bar = name.find('_'); bar != AnsiString::npos) name.erase(0, bar + 1);
  static constexpr char HexDigits[] = "0123456789ABCDEF";
  const size_t n = std::min<size_t>(wrapped.size(), 0xFFFF);
  AnsiString frame = name;
  for (int shift = 12; shift >= 0; shift -= 4) frame.push_back(HexDigits[(n >> shift) & 0xF]);
  frame += "\r\n";
  frame.append(wrapped, 0, n);
  Stream.WriteBuffer(frame.data(), static_cast<int32_t>(frame.size()));
}

void TRandom::ReadState(TStream& Stream) {
  AnsiString expected = ClassName() + 1;
  if (const size_t bar = expected.find('_'); bar != AnsiString::npos) expected.erase(0, bar + 1);
  AnsiString name(expected.size(), '\0');
  if (Stream.Read(name.data(), static_cast<int32_t>(name.size())) !=
          static_cast<int32_t>(name.size()) ||
      name != expected) {
    return;
  }
  char head[6];
  if (Stream.Read(head, 6) != 6) throw ERandom(InvalidData);
  int32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = head[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      throw ERandom(InvalidData);
    }
    length = length * 16 + digit;
  }
  AnsiString text(static_cast<size_t>(length), '\0');
  if (Stream.Read(text.data(), length) != length) throw ERandom(InvalidData);
  std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
  SetStateText(text);
}

// ---- TRandom_LFSR ----

TRandom_LFSR::TRandom_LFSR(const AnsiString& SeedText, int32_t Size, bool Randomize,
                           std::shared_ptr<TProtection> Protection)
    : TRandom(TDeferInit{}, SeedText, std::move(Protection)) {
  Init(Size, Randomize);
}

TRandom_LFSR::~TRandom_LFSR() {
  FFinalSeedDone = true;
  try {
    TRandom_LFSR::SeedFrom(nullptr, 0);
  } catch (...) {
    // Wiped below in any case.
  }
  SecureFill(FLfsrRegister.data(), FLfsrRegister.size());
  SecureFill(FTable.data(), sizeof(FTable));
}

void TRandom_LFSR::SetRegisterSize(int32_t Bits) {
  if (Bits <= 0) Bits = 128;
  if (Bits == FRegisterSize) return;
  int entry = 9;  // 128 bits when Bits is below the smallest size
  for (int i = static_cast<int>(LfsrSizes.size()) - 1; i >= 0; --i) {
    if (LfsrSizes[static_cast<size_t>(i)].Bits <= Bits) {
      entry = i;
      break;
    }
  }
  const TLfsrSize& size = LfsrSizes[static_cast<size_t>(entry)];
  FRegisterSize = size.Bits;
  FLastIndex = size.Bits / 8 - 1;
  FGenerate = size.Bits == 128 ? &TRandom_LFSR::Generate16 : &TRandom_LFSR::GenerateAny;
  // q = the polynomial byte with its bits reversed; entry i = i * q without carries.
  uint8_t q = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (size.Poly & (1u << bit)) q = static_cast<uint8_t>(q | (0x80u >> bit));
  }
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t e = 0;
    for (int bit = 7; bit >= 0; --bit) {
      e = static_cast<uint16_t>(e << 1);
      if (i & (1u << bit)) e ^= q;
    }
    FTable[i] = e;
  }
  SeedFrom(nullptr, 0);
}

void TRandom_LFSR::SeedFrom(const void* Data, int32_t Size) {
  FPosition = 0;
  if (Data != nullptr && Size > 0) {
    FLfsrRegister.fill(0);
    const auto* p = static_cast<const uint8_t*>(Data);
    const int32_t used = std::max(FRegisterSize / 8, 1);
    for (int32_t j = 0; j < Size; ++j) {
      uint8_t& r = FLfsrRegister[static_cast<size_t>(j % used)];
      r = static_cast<uint8_t>(r + p[j]);
    }
  } else if (Size < 0) {
    MixSeedBuffer(ClockSeed() + FCount + 1, FLfsrRegister.data(), FLfsrRegister.size());
  } else {
    FLfsrRegister.fill(0);
  }
  MixSeedBuffer(FBasicSeed, FLfsrRegister.data(), FLfsrRegister.size());
  ScrambleThroughNext(FLfsrRegister.data(), static_cast<int32_t>(FLfsrRegister.size()));
}

void TRandom_LFSR::GenerateAny(uint8_t* Buffer, int32_t Count) {
  const int32_t n = FLastIndex + 1;
  int32_t p = FPosition;
  for (int32_t i = Count - 1; i >= 0; --i) {
    const uint16_t t = FTable[FLfsrRegister[static_cast<size_t>(p)]];
    FLfsrRegister[static_cast<size_t>(p)] = static_cast<uint8_t>(t);
    const int32_t before = p == 0 ? n - 1 : p - 1;
    FLfsrRegister[static_cast<size_t>(before)] ^= static_cast<uint8_t>(t >> 8);
    p = p + 1 == n ? 0 : p + 1;
    Buffer[i] = static_cast<uint8_t>(t);
  }
  FPosition = p;
}

void TRandom_LFSR::Generate16(uint8_t* Buffer, int32_t Count) {
  uint32_t p = static_cast<uint32_t>(FPosition) & 15;
  for (int32_t i = Count - 1; i >= 0; --i) {
    const uint16_t t = FTable[FLfsrRegister[p]];
    FLfsrRegister[p] = static_cast<uint8_t>(t);
    FLfsrRegister[(p - 1) & 15] ^= static_cast<uint8_t>(t >> 8);
    p = (p + 1) & 15;
    Buffer[i] = static_cast<uint8_t>(t);
  }
  FPosition = static_cast<int32_t>(p);
}

void TRandom_LFSR::FillRandom(void* Buffer, int32_t Count) {
  if (Buffer == nullptr || Count <= 0) return;
  (this->*FGenerate)(static_cast<uint8_t*>(Buffer), Count);
  ScrambleThroughNext(Buffer, Count);
  FCount += static_cast<uint32_t>(Count);
}

AnsiString TRandom_LFSR::GetStateText() {
  AnsiString body = NoiseBytes();
  PutLE32(body, static_cast<uint32_t>(FRegisterSize));
  body.append(reinterpret_cast<const char*>(FLfsrRegister.data()), FLfsrRegister.size());
  PutLE32(body, FBasicSeed);
  PutLE32(body, FCount);
  PutLE32(body, static_cast<uint32_t>(FPosition));
  PutLE32(body, static_cast<uint32_t>(FLastIndex));
  return EncodeStateText(std::move(body));
}

void TRandom_LFSR::SetStateText(const AnsiString& Text) {
  AnsiString body = DecodeStateText(Text, LfsrBodySize);
  const auto bits = static_cast<int32_t>(GetLE32(body, 2));
  const size_t tail = 6 + 256;
  const auto position = static_cast<int32_t>(GetLE32(body, tail + 8));
  const auto lastIndex = static_cast<int32_t>(GetLE32(body, tail + 12));
  // Only a size of the table, its own last index and a position inside it.
  if (LfsrEntryOf(bits) < 0 || lastIndex != bits / 8 - 1 || position < 0 || position > lastIndex) {
    SecureErase(body);
    throw ERandom(InvalidData);
  }
  SetRegisterSize(bits);
  std::memcpy(FLfsrRegister.data(), body.data() + 6, 256);
  FBasicSeed = GetLE32(body, tail);
  FCount = GetLE32(body, tail + 4);
  FPosition = position;
  FLastIndex = lastIndex;
  SecureErase(body);
}

}  // namespace zk
