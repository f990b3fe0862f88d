// The file stream and the compressed block stream over files inside real
// containers: every method and size, encrypted containers and file
// passwords, the read-only guard, replacing files, progress, and damaged
// files read through the container.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "container/api/AdvancedFileStream.h"
#include "container/api/FileStream.h"
#include "container/api/SFSUserFileStream.h"
#include "container/api/SingleFileSystem.h"
#include "container/compress/SFSCompress.h"
#include "tests/api/StreamTestSupport.h"

namespace zk {
namespace {

using namespace zk::testing;

void WriteInPieces(TStream& S, const std::vector<uint8_t>& Data, size_t Piece) {
  for (size_t at = 0; at < Data.size(); at += Piece) {
    const size_t n = std::min(Piece, Data.size() - at);
    S.WriteBuffer(Data.data() + at, static_cast<int32_t>(n));
  }
}

class FileStreamTest : public ::testing::Test {
 protected:
  std::unique_ptr<TSingleFileSystem> New(const AnsiString& Password = {}, uint8_t Compression = 2) {
    return TSingleFileSystem::Create(Name, 0xFFFF, Password, {}, {}, Compression);
  }
  std::unique_ptr<TSingleFileSystem> Open(uint16_t Mode = 2, const AnsiString& Password = {}) {
    return TSingleFileSystem::Create(Name, Mode, Password);
  }
  // Writes Data as a new file through a file stream.
  void Put(TSingleFileSystem& Fs, const AnsiString& Path, const std::vector<uint8_t>& Data,
           uint8_t Compression = 0, const AnsiString& FilePassword = {}) {
    TSFSFileStream s(&Fs, Path, 0xFFFF, FilePassword, {}, {}, Compression);
    WriteInPieces(s, Data, 1 << 20);
  }
  std::vector<uint8_t> Get(TSingleFileSystem& Fs, const AnsiString& Path,
                           const AnsiString& FilePassword = {}) {
    TSFSFileStream s(&Fs, Path, 0, FilePassword);
    return ReadAll(s);
  }

  TStreamTestDir Dir;
  std::string Name = Dir / "box.sfs";
};

// ---- every method, size and protection ----

class EveryMethod : public FileStreamTest, public ::testing::WithParamInterface<int> {};

TEST_P(EveryMethod, StoresAndReadsBackEverySize) {
  const auto method = static_cast<uint8_t>(GetParam());
  const int64_t bs = BlockSizeForMethod(method);
  const int64_t sizes[] = {0, 1, bs, bs + 1, 2 * bs + 1234};
  struct Protection {
    const char* What;
    AnsiString ContainerPassword;
    AnsiString FilePassword;
  };
  const Protection protections[] = {
      {"unencrypted", "", ""}, {"encrypted", "outer", ""}, {"file password", "", "inner"}};
  for (const Protection& p : protections) {
    SCOPED_TRACE(p.What);
    {
      // The container's default is the method itself, so that 0 stores.
      auto fs = New(p.ContainerPassword, method);
      for (int64_t size : sizes) {
        const std::vector<uint8_t> data =
            RunBytes(static_cast<size_t>(size), static_cast<uint32_t>(size + method));
        TSFSFileStream s(fs.get(), "\\f" + IntToStr(size), 0xFFFF, p.FilePassword, {}, {}, method);
        WriteInPieces(s, data, static_cast<size_t>(bs));
        EXPECT_EQ(s.GetSize(), size);
        EXPECT_EQ(s.Stream().Method(), method);
      }
    }
    auto fs = Open(0, p.ContainerPassword);
    for (int64_t size : sizes) {
      SCOPED_TRACE(size);
      const std::vector<uint8_t> data =
          RunBytes(static_cast<size_t>(size), static_cast<uint32_t>(size + method));
      TSFSFileStream s(fs.get(), "\\f" + IntToStr(size), 0, p.FilePassword);
      EXPECT_EQ(s.GetSize(), size);
      EXPECT_EQ(s.Stream().Method(), method);
      if (method != 0) {
        EXPECT_EQ(s.Stream().BlockCount(), (size + bs - 1) / bs);
        EXPECT_EQ(s.Stream().Header().BlockSize, static_cast<uint32_t>(bs));
      }
      EXPECT_EQ(ReadAll(s), data);
      // The raw bytes are the stream header and blocks, or the data itself.
      TSFSUserFileStream raw(fs.get(), "\\f" + IntToStr(size), 0, p.FilePassword);
      if (method == 0) {
        EXPECT_EQ(raw.GetSize(), size);
      } else {
        EXPECT_GE(raw.GetSize(), StreamHeaderSize + s.Stream().BlockCount() * BlockHeaderSize);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, EveryMethod, ::testing::Range(0, 10));

// ---- the file stream's own rules ----

TEST_F(FileStreamTest, ReadOnlyStreamRefusesWriteAndSetSize) {
  const std::vector<uint8_t> data = TextBytes(5000, 1);
  auto fs = New();
  Put(*fs, "\\a", data);
  {
    TSFSFileStream s(fs.get(), "\\a", 0);
    EXPECT_TRUE(s.ReadOnly());
    EXPECT_EQ(s.Mode(), 0);
    EXPECT_EQ(s.FileName(), "\\a");
    uint8_t b = 'x';
    EXPECT_EQ(MessageOf([&] { s.Write(&b, 1); }),
              "TSFSFileStream.Write - file is in read only mode.");
    EXPECT_EQ(MessageOf([&] { s.SetSize(10); }),
              "TSFSFileStream.SetSize - file is in read only mode.");
    EXPECT_EQ(MessageOf([&] { s.SetSize32(0); }),
              "TSFSFileStream.SetSize - file is in read only mode.");
    EXPECT_EQ(ReadAll(s), data);
  }
  for (uint16_t mode : {uint16_t{1}, uint16_t{2}, uint16_t{0x12}}) {
    TSFSFileStream s(fs.get(), "\\a", mode);
    EXPECT_FALSE(s.ReadOnly());
    s.Seek(0, soEnd);
    const uint8_t b = 'y';
    EXPECT_EQ(s.Write(&b, 1), 1);
    s.SetSize(5000);
  }
  TSFSFileStream created(fs.get(), "\\b", 0xFFFF);
  EXPECT_FALSE(created.ReadOnly());
  EXPECT_EQ(Get(*fs, "\\a"), data);
}

TEST_F(FileStreamTest, CreatingReplacesAnExistingClosedFile) {
  auto fs = New();
  Put(*fs, "\\a", TextBytes(3 * 1048576, 2), 2);
  const std::vector<uint8_t> fresh = TextBytes(100, 3);
  Put(*fs, "\\a", fresh, 7);
  TSFSFileStream s(fs.get(), "\\a", 0);
  EXPECT_EQ(s.Stream().Method(), 7);
  EXPECT_EQ(ReadAll(s), fresh);
}

TEST_F(FileStreamTest, ANewFileTakesTheDefaultMethodAnOpenedOneKeepsItsOwn) {
  auto fs = New({}, 8);
  {
    TSFSFileStream s(fs.get(), "\\d", 0xFFFF);
    EXPECT_EQ(s.Stream().Method(), 8);
    EXPECT_EQ(s.Stream().Header().BlockSize, 1048576u);
  }
  Put(*fs, "\\one", TextBytes(1000, 4), 1);
  std::vector<uint8_t> expected = TextBytes(1000, 4);
  {
    TSFSFileStream s(fs.get(), "\\one", 2, {}, {}, {}, 9);
    EXPECT_EQ(s.Stream().Method(), 1);
    s.Seek(0, soEnd);
    const std::vector<uint8_t> more = TextBytes(600000, 5);
    WriteInPieces(s, more, 65536);
    expected.insert(expected.end(), more.begin(), more.end());
  }
  TSFSFileStream s(fs.get(), "\\one", 0);
  EXPECT_EQ(s.Stream().Method(), 1);
  EXPECT_EQ(s.Stream().BlockCount(), 2);
  EXPECT_EQ(ReadAll(s), expected);
}

TEST_F(FileStreamTest, RawBytesWithoutAStreamHeaderReadAsTheyAre) {
  auto fs = New({}, 2);
  const std::vector<uint8_t> plain = TextBytes(5000, 6);
  std::vector<uint8_t> shortSigned = {0x0A, 0x12, 0x06, 0x01};
  shortSigned.resize(127, 'z');
  for (const auto& [path, bytes] :
       {std::pair{"\\plain", plain}, std::pair{"\\short", shortSigned}}) {
    {
      TSFSUserFileStream raw(fs.get(), path, 0xFFFF);
      raw.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    Tv9Stream s(fs.get(), path, 0);
    EXPECT_EQ(s.Stream().Method(), 0);
    EXPECT_EQ(ReadAll(s), bytes);
  }
}

TEST_F(FileStreamTest, Tv9StreamReadsAndWritesWholeTexts) {
  const std::vector<uint8_t> text = TextBytes(20000, 7);
  auto fs = New();
  ASSERT_TRUE(fs->ForceDirectories("\\GC"));
  ASSERT_TRUE(fs->ChangeDir("\\GC"));
  {
    TMemoryStream m;
    m.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    Tv9Stream s(fs.get(), "PROFILE.INI", 0xFFFF);
    s.CopyFrom(m, 0);
  }
  TMemoryStream back;
  Tv9Stream s(fs.get(), "PROFILE.INI", 0);
  back.LoadFromStream(s);
  EXPECT_EQ(BytesOf(back), text);
}

TEST_F(FileStreamTest, ProgressIsHandedDownToTheBlockStream) {
  auto fs = New({}, 1);
  TSFSFileStream s(fs.get(), "\\p", 0xFFFF);
  std::vector<double> seen;
  s.OnProgress = [&](TStream& Sender, double Percent) {
    EXPECT_EQ(&Sender, &s.Stream());
    seen.push_back(Percent);
  };
  WriteInPieces(s, TextBytes(2 * 524288 + 5, 8), 3 * 524288);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  seen.clear();
  ReadAll(s);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);
  // Growing by SetSize reports nothing.
  seen.clear();
  s.SetSize(4 * 524288);
  EXPECT_TRUE(seen.empty());
}

TEST_F(FileStreamTest, ErrorsOfTheLayersBelowPassThrough) {
  auto fs = New();
  EXPECT_EQ(MessageOf([] { TSFSFileStream s(nullptr, "\\x", 0); }),
            "TSFSAdvancedFileStream.Create - SingleFileSystem = nil.");
  EXPECT_EQ(MessageOf([&] { TSFSFileStream s(fs.get(), "\\no \"such\"", 0); }),
            "TSFSUserFileStream.Create - unable to open file \"\\no \"\"such\"\"\"");
  // A file open through one stream cannot be replaced through another.
  TSFSFileStream open(fs.get(), "\\busy", 0xFFFF);
  EXPECT_EQ(MessageOf([&] { TSFSFileStream s(fs.get(), "\\busy", 0xFFFF); }),
            "TSFSUserFileStream.Create - unable to open file \"\\busy\"");
}

TEST_F(FileStreamTest, OpeningReadOnlyNeverWritesABrokenChainBack) {
  const std::vector<uint8_t> data = TextBytes(2 * 524288 + 100, 9);
  int64_t third = 0;
  {
    auto fs = New({}, 1);
    {
      TSFSFileStream s(fs.get(), "\\c", 0xFFFF);
      WriteInPieces(s, data, 524288);
      third = s.Stream().BlockOffset(2);
    }
    TSFSUserFileStream raw(fs.get(), "\\c", 2);
    raw.SetSize(third + 20);
  }
  const std::vector<uint8_t> prefix(data.begin(), data.begin() + 2 * 524288);
  {
    // Read only: the container refuses every write, and the shorter chain
    // is used in memory only.
    auto fs = Open(0);
    TSFSFileStream s(fs.get(), "\\c", 0);
    EXPECT_EQ(s.Stream().BlockCount(), 2);
    EXPECT_EQ(ReadAll(s), prefix);
    TSFSUserFileStream raw(fs.get(), "\\c", 0);
    EXPECT_EQ(raw.GetSize(), third + 20);
  }
  auto fs = Open(2);
  {
    TSFSFileStream s(fs.get(), "\\c", 2);
    EXPECT_EQ(s.Stream().BlockCount(), 2);
  }
  TSFSUserFileStream raw(fs.get(), "\\c", 0);
  EXPECT_EQ(raw.GetSize(), third);
  EXPECT_EQ(Get(*fs, "\\c"), prefix);
}

TEST_F(FileStreamTest, DamagedBlockInsideAContainerFailsOnlyWhereTouched) {
  const std::vector<uint8_t> data = TextBytes(3 * 524288, 10);
  auto fs = New("pw", 1);
  int64_t at = 0;
  {
    TSFSFileStream s(fs.get(), "\\d", 0xFFFF);
    WriteInPieces(s, data, 524288);
    at = s.Stream().BlockOffset(1) + BlockHeaderSize + 40;
  }
  {
    TSFSUserFileStream raw(fs.get(), "\\d", 2);
    raw.Seek(at, soBeginning);
    uint8_t b = 0;
    raw.ReadBuffer(&b, 1);
    b ^= 0xA5;
    raw.Seek(at, soBeginning);
    raw.WriteBuffer(&b, 1);
  }
  TSFSFileStream s(fs.get(), "\\d", 0);
  uint8_t buf[16];
  s.Seek(524288 + 3, soBeginning);
  const std::string m = MessageOf([&] { s.Read(buf, 16); });
  EXPECT_TRUE(m == "TSFSAdvancedFileStream.LoadBlock - decompression error." ||
              m == "TSFSAdvancedFileStream.LoadBlock - decompression error, invalid size." ||
              m == "TSFSAdvancedFileStream.LoadBlock - decompression crc error.")
      << m;
  s.Seek(2 * 524288, soBeginning);
  EXPECT_EQ(ReadBytes(s, 16),
            std::vector<uint8_t>(data.begin() + 2 * 524288, data.begin() + 2 * 524288 + 16));
  s.Seek(0, soBeginning);
  EXPECT_EQ(ReadBytes(s, 16), std::vector<uint8_t>(data.begin(), data.begin() + 16));
}

TEST_F(FileStreamTest, OverInAStreamMadeByTheCaller) {
  auto inner =
      std::make_unique<TSFSAdvancedFileStream>(std::make_unique<TMemoryStream>(), "m", 0xFFFF, 2);
  TSFSFileStream s(std::move(inner), 0, "secret");
  EXPECT_EQ(s.FileName(), "m");
  EXPECT_EQ(s.Password(), "secret");
  EXPECT_TRUE(s.ReadOnly());
  EXPECT_EQ(MessageOf([] { TSFSFileStream t(std::unique_ptr<TSFSAdvancedFileStream>{}, 2); }),
            "TSFSFileStream.Create - stream = nil.");
}

}  // namespace
}  // namespace zk
