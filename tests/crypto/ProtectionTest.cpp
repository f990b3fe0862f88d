#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "container/crypto/Protection.h"
#include "platform/rtl/FileStream.h"

namespace zk {
namespace {

// A protection that XORs every byte with its key and records what it sees.
class TXorProtection : public TProtection {
 public:
  TXorProtection(char name, uint8_t key, std::shared_ptr<TProtection> next, std::string* log)
      : TProtection(std::move(next)), FName(name), FKey(key), FLog(log) {}

  void BeginProcess(TProtectionAction Action) override {
    Note("B", Action);
    TProtection::BeginProcess(Action);
  }
  void EndProcess(TProtectionAction Action) override {
    TProtection::EndProcess(Action);
    Note("E", Action);
  }
  void ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) override {
    Note("C", Action);
    if (ThrowInChunk) throw Exception("chunk failed");
    Chunks.push_back(Size);
    if (Action != paDigest && IsAllowed(Action)) {
      auto* p = static_cast<uint8_t*>(Buffer);
      for (int32_t i = 0; i < Size; ++i) p[i] ^= FKey;
    } else if (Action == paDigest) {
      Digested += static_cast<size_t>(Size);
    }
    TProtection::ProcessChunk(Buffer, Size, Action);
  }

  bool ThrowInChunk = false;
  std::vector<int32_t> Chunks;
  size_t Digested = 0;

 private:
  void Note(const char* what, TProtectionAction Action) {
    if (FLog) *FLog += std::string(1, FName) + what + std::to_string(int(Action)) + " ";
  }
  char FName;
  uint8_t FKey;
  std::string* FLog;
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 13 + 1);
  return s;
}

std::string Xored(std::string s, uint8_t key) {
  for (char& c : s) c = static_cast<char>(c ^ key);
  return s;
}

TEST(Protection, ActionsAndDefaults) {
  TXorProtection p('a', 1, nullptr, nullptr);
  EXPECT_EQ(p.AllowedActions, 0x1F);
  for (auto a : {paEncode, paDecode, paScramble, paDigest, paWipe}) EXPECT_TRUE(p.IsAllowed(a));
  p.AllowedActions = ActionBit(paDecode);
  EXPECT_FALSE(p.IsAllowed(paEncode));
  EXPECT_TRUE(p.IsAllowed(paDecode));
  EXPECT_EQ(p.NextProtection(), nullptr);
}

TEST(Protection, CircularChainsAreRefusedAndLeftAsTheyWere) {
  auto a = std::make_shared<TXorProtection>('a', 1, nullptr, nullptr);
  auto b = std::make_shared<TXorProtection>('b', 2, a, nullptr);
  auto c = std::make_shared<TXorProtection>('c', 3, b, nullptr);
  try {
    a->SetNextProtection(a);
    FAIL();
  } catch (const EProtection& e) {
    EXPECT_EQ(e.Message, "Circular Protection detected, Protection Object is invalid.");
  }
  EXPECT_THROW(a->SetNextProtection(c), EProtection);
  EXPECT_EQ(a->NextProtection(), nullptr);
  EXPECT_EQ(b->NextProtection(), a);
  // Setting the same value again, or breaking the chain, is fine.
  EXPECT_NO_THROW(c->SetNextProtection(b));
  EXPECT_NO_THROW(b->SetNextProtection(nullptr));
  EXPECT_NO_THROW(a->SetNextProtection(c));
}

TEST(Protection, ChainHoldsCountedReferences) {
  std::weak_ptr<TProtection> weak;
  {
    auto head = std::make_shared<TXorProtection>('a', 1, nullptr, nullptr);
    {
      auto next = std::make_shared<TXorProtection>('b', 2, nullptr, nullptr);
      weak = next;
      head->SetNextProtection(next);
    }
    EXPECT_FALSE(weak.expired());
    head->SetNextProtection(nullptr);
    EXPECT_TRUE(weak.expired());
  }
}

TEST(Protection, BufferPassesThroughTheChainInOrder) {
  std::string log;
  auto b = std::make_shared<TXorProtection>('b', 0x0F, nullptr, &log);
  TXorProtection a('a', 0xF0, b, &log);
  std::string data = Pattern(10);
  EXPECT_EQ(a.ProcessBuffer(data.data(), 10, paEncode), 10);
  EXPECT_EQ(data, Xored(Pattern(10), 0xFF));
  EXPECT_EQ(log, "aB0 bB0 aC0 bC0 bE0 aE0 ");
}

TEST(Protection, EndProcessRunsAfterAnError) {
  std::string log;
  TXorProtection a('a', 1, nullptr, &log);
  a.ThrowInChunk = true;
  char byte = 0;
  EXPECT_THROW(a.ProcessBuffer(&byte, 1, paScramble), Exception);
  EXPECT_EQ(log, "aB2 aC2 aE2 ");
  log.clear();
  TMemoryStream m;
  m.WriteBuffer("xyz", 3);
  EXPECT_THROW(a.ProcessStream(&m, nullptr, -1, paEncode), Exception);
  EXPECT_EQ(log, "aB0 aC0 aE0 ");
}

TEST(Protection, StreamInPlaceInChunksOf4096) {
  TXorProtection a('a', 0x33, nullptr, nullptr);
  const std::string data = Pattern(10000);
  TMemoryStream m;
  m.WriteBuffer(data.data(), 10000);
  a.ProcessStream(&m, nullptr, -1, paEncode);
  EXPECT_EQ(a.Chunks, (std::vector<int32_t>{4096, 4096, 1808}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m.Memory()), 10000), Xored(data, 0x33));
  EXPECT_EQ(m.GetSize(), 10000);
}

TEST(Protection, StreamFromPositionIntoAnotherStream) {
  TXorProtection a('a', 0x01, nullptr, nullptr);
  TMemoryStream src, dst;
  src.WriteBuffer("abcdef", 6);
  src.SetPosition(2);
  dst.WriteBuffer("XY", 2);
  a.ProcessStream(&src, &dst, 3, paEncode);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dst.Memory()), 5), "XY" + Xored("cde", 1));
  EXPECT_EQ(src.GetPosition(), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(src.Memory()), 6), "abcdef");
  // Asking for more than there is stops at the end.
  TMemoryStream dst2;
  src.SetPosition(4);
  a.ProcessStream(&src, &dst2, 100, paEncode);
  EXPECT_EQ(dst2.GetSize(), 2);
  // No source: nothing happens.
  EXPECT_NO_THROW(a.ProcessStream(nullptr, &dst2, -1, paEncode));
}

TEST(Protection, DigestOnlyReads) {
  TXorProtection a('a', 0x55, nullptr, nullptr);
  TMemoryStream src, dst;
  src.WriteBuffer("hello", 5);
  a.ProcessStream(&src, &dst, -1, paDigest);
  EXPECT_EQ(a.Digested, 5u);
  EXPECT_EQ(dst.GetSize(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(src.Memory()), 5), "hello");
}

TEST(Protection, StringRoundTripsThroughFormats) {
  TXorProtection a('a', 0x5A, nullptr, nullptr);
  EXPECT_EQ(a.ProcessString("", paEncode, 16), "");
  const AnsiString coded = a.ProcessString("abc", paEncode, 16);
  EXPECT_EQ(coded, BytesToFormat(Xored("abc", 0x5A), 16));
  EXPECT_EQ(a.ProcessString(coded, paDecode, 16), "abc");
  const AnsiString mime = a.ProcessString(std::string("\0\1\2", 3), paEncode);
  EXPECT_EQ(a.ProcessString(mime, paDecode), std::string("\0\1\2", 3));
  EXPECT_THROW(a.ProcessString("not hex!", paDecode, 16), EStringFormat);
}

class ProtectionFile : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per process: ctest runs the tests of this fixture in parallel.
    FDir = std::filesystem::path(ZK_TEST_TMPDIR) /
           ("crypto-protection-" + std::to_string(::getpid()));
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  std::string PathOf(const char* name) const { return (FDir / name).string(); }
  static void Put(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path FDir;
};

TEST_F(ProtectionFile, IntoAReplacedDestination) {
  TXorProtection a('a', 0x77, nullptr, nullptr);
  const std::string data = Pattern(5000);
  Put(PathOf("src"), data);
  Put(PathOf("dst"), Pattern(9000));  // longer: must be cut
  a.ProcessFile(PathOf("src"), PathOf("dst"), paEncode);
  EXPECT_EQ(Get(PathOf("dst")), Xored(data, 0x77));
  EXPECT_EQ(Get(PathOf("src")), data);
}

TEST_F(ProtectionFile, InPlaceWhenNoOrTheSameDestination) {
  TXorProtection a('a', 0x11, nullptr, nullptr);
  const std::string data = Pattern(4097);
  Put(PathOf("f"), data);
  a.ProcessFile(PathOf("f"), "", paEncode);
  EXPECT_EQ(Get(PathOf("f")), Xored(data, 0x11));
  a.ProcessFile(PathOf("f"), PathOf("f"), paDecode);
  EXPECT_EQ(Get(PathOf("f")), data);
}

TEST_F(ProtectionFile, AnotherSpellingOfTheSourceWorksInPlace) {
  TXorProtection a('a', 0x22, nullptr, nullptr);
  const std::string data = Pattern(6000);
  Put(PathOf("f"), data);
  const std::string other = (FDir / "." / "f").string();
  a.ProcessFile(PathOf("f"), other, paEncode);
  EXPECT_EQ(Get(PathOf("f")), Xored(data, 0x22));
  std::filesystem::create_symlink(PathOf("f"), PathOf("link"));
  a.ProcessFile(PathOf("link"), PathOf("f"), paDecode);
  EXPECT_EQ(Get(PathOf("f")), data);
}

TEST_F(ProtectionFile, DigestOfAReadOnlyFile) {
  TXorProtection a('a', 0x11, nullptr, nullptr);
  Put(PathOf("ro"), "abc");
  std::filesystem::permissions(PathOf("ro"), std::filesystem::perms::owner_read);
  a.ProcessFile(PathOf("ro"), PathOf("ro"), paDigest);
  EXPECT_EQ(a.Digested, 3u);
}

TEST_F(ProtectionFile, DigestReadsOnlyAndMissingSourceRaises) {
  TXorProtection a('a', 0x11, nullptr, nullptr);
  Put(PathOf("f"), "abcdef");
  a.ProcessFile(PathOf("f"), "", paDigest);
  EXPECT_EQ(a.Digested, 6u);
  EXPECT_EQ(Get(PathOf("f")), "abcdef");
  EXPECT_THROW(a.ProcessFile(PathOf("missing"), PathOf("out"), paEncode), EFOpenError);
  EXPECT_FALSE(std::filesystem::exists(PathOf("out")));
}

TEST_F(ProtectionFile, FileStreamBasics) {
  {
    TFileStream f(PathOf("s"), fmCreate);
    EXPECT_EQ(f.Write("0123456789", 10), 10);
    EXPECT_EQ(f.GetSize(), 10);
    f.SetSize(4);
    EXPECT_EQ(f.GetPosition(), 4);
    f.SetPosition(1);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, 8), 3);
    EXPECT_EQ(std::string(buf, 3), "123");
  }
  TFileStream r(PathOf("s"), fmOpenRead);
  EXPECT_EQ(r.GetSize(), 4);
  EXPECT_EQ(r.Write("x", 1), 0);
  try {
    TFileStream missing(PathOf("none"), fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message.rfind("Cannot open file \"", 0), 0u) << e.Message;
  }
  EXPECT_TRUE(r.SameFile(PathOf("s")));
  EXPECT_TRUE(r.SameFile((FDir / "." / "s").string()));
  EXPECT_FALSE(r.SameFile(PathOf("none")));
}

}  // namespace
}  // namespace zk
