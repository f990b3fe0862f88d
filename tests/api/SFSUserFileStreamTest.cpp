// The raw stream over a file inside a container.
#include <gtest/gtest.h>

#include "container/api/SFSUserFileStream.h"
#include "container/api/SingleFileSystem.h"
#include "platform/rtl/Exception.h"
#include "tests/api/ContainerTestSupport.h"

namespace zk {
namespace {

using testing::GetFile;
using testing::Pattern;
using testing::PutFile;
using testing::TContainerDir;

class SFSUserFileStreamTest : public ::testing::Test {
 protected:
  TContainerDir Dir;
  std::unique_ptr<TSingleFileSystem> FS = TSingleFileSystem::Create(Dir / "raw.sfs", ModeCreate);
};

TEST_F(SFSUserFileStreamTest, WritesAndReadsTheBytesOfTheFile) {
  const auto data = Pattern(10000, 31);
  {
    TSFSUserFileStream s(FS.get(), "\\r.bin", ModeCreate);
    EXPECT_GE(s.Handle(), 0);
    EXPECT_EQ(s.FileName(), "\\r.bin");
    s.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(s.GetSize(), 10000);
    EXPECT_EQ(s.GetPosition(), 10000);
  }
  EXPECT_EQ(FS->HandleCount(), 0);  // destroying the stream closed its handle
  TSFSUserFileStream s(FS.get(), "\\r.bin", ModeReadOnly);
  EXPECT_EQ(s.Seek(0, soEnd), 10000);
  EXPECT_EQ(s.Seek(9990, soBeginning), 9990);
  std::vector<uint8_t> buf(100);
  EXPECT_EQ(s.Read(buf.data(), 100), 10);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 10, data.begin() + 9990));
  EXPECT_EQ(s.Read(buf.data(), 100), 0);
  EXPECT_EQ(s.Seek32(-5, soCurrent), 9995);
}

TEST_F(SFSUserFileStreamTest, SetSizeLeavesThePositionAtTheNewSize) {
  TSFSUserFileStream s(FS.get(), "\\sz", ModeCreate);
  s.SetSize(5000);
  EXPECT_EQ(s.GetPosition(), 5000);
  EXPECT_EQ(s.GetSize(), 5000);
  s.SetSize32(12);
  EXPECT_EQ(s.GetPosition(), 12);
  EXPECT_EQ(s.GetSize(), 12);
}

TEST_F(SFSUserFileStreamTest, ReadOnlyStreamWritesNothingAndKeepsItsSize) {
  ASSERT_TRUE(PutFile(*FS, "\\ro", Pattern(300, 32)));
  TSFSUserFileStream s(FS.get(), "\\ro", ModeReadOnly);
  uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_EQ(s.Write(b, 4), 0);
  EXPECT_THROW(s.WriteBuffer(b, 4), EStreamError);
  s.SetSize(10);
  EXPECT_EQ(s.GetSize(), 300);
  EXPECT_EQ(GetFile(*FS, "\\ro"), Pattern(300, 32));
}

TEST_F(SFSUserFileStreamTest, ConstructionFailures) {
  try {
    TSFSUserFileStream s(nullptr, "\\x", ModeReadOnly);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSUserFileStream.Create - Single file system = nil!");
  }
  try {
    TSFSUserFileStream s(FS.get(), "\\no\"pe", ModeReadOnly);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSUserFileStream.Create - unable to open file \"\\no\"\"pe\"");
  }
  // A name taken by an open file cannot be replaced.
  TSFSUserFileStream open(FS.get(), "\\busy", ModeCreate);
  EXPECT_THROW(TSFSUserFileStream(FS.get(), "\\busy", ModeCreate), Exception);
  // A refused file password (the default query is cancelled without a
  // terminal, or by the handler).
  ASSERT_TRUE(PutFile(*FS, "\\locked", {1}, "pw"));
  FS->OnPassword = [](TSingleFileSystem&, const AnsiString&, AnsiString&, bool& cancel) {
    cancel = true;
  };
  EXPECT_THROW(TSFSUserFileStream(FS.get(), "\\locked", ModeReadOnly), Exception);
  EXPECT_NO_THROW(TSFSUserFileStream(FS.get(), "\\locked", ModeReadOnly, "pw"));
}

}  // namespace
}  // namespace zk
