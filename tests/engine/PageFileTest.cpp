// The page file: creating and opening, the header and its check, page
// transfers with their error codes, enciphering, growth.
#include <gtest/gtest.h>

#include <cstring>

#include "container/storage/SFSHugeFile.h"
#include "platform/os/Service.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "tests/engine/EngineTestSupport.h"

namespace zk {
namespace {

using testing::FileSizeOf;
using testing::HeaderOnDisk;
using testing::kHeaderCorrupted;
using testing::kPartHeader;
using testing::MessageOf;
using testing::PatchLogical;
using testing::PatchValue;
using testing::ResealHeader;
using testing::TEngine;
using testing::TTempDir;

std::unique_ptr<TPageFileManager> NewPageFile(const std::string& path, int32_t pageSize = 4096,
                                              int32_t extent = 8, const AnsiString& pw = "") {
  return std::make_unique<TPageFileManager>(path, fmCreateNew, pw, "", "", false, pageSize, extent,
                                            -1);
}
std::unique_ptr<TPageFileManager> OpenPageFile(const std::string& path, const AnsiString& pw = "",
                                               uint16_t mode = 0x12) {
  return std::make_unique<TPageFileManager>(path, mode, pw, "", "", false, 4096, 8, -1);
}

TEST(PageFile, NewContainerIsOneHeaderLong) {
  TTempDir dir;
  const std::string path = dir / "new.sfs";
  {
    auto pf = NewPageFile(path);
    EXPECT_EQ(pf->HugeFile().GetSize(), 438);
    EXPECT_EQ(+(pf->Header.PageCount), 1);
    EXPECT_EQ(+(pf->Header.FirstPageNo), 1);
    EXPECT_EQ(+(pf->Header.EncryptionType), 0);
    EXPECT_FALSE(pf->ReadOnly);
    EXPECT_TRUE(pf->Exclusive);
    const TPasswordBlock zero{};
    EXPECT_EQ(std::memcmp(&pf->Header.PasswordBlock, &zero, sizeof zero), 0);
  }
  EXPECT_EQ(FileSizeOf(path), 718);
  const TSFSFileHeader h = HeaderOnDisk(path);
  EXPECT_EQ(std::memcmp(h.Magic, "ANAN\x09\x0A\x1F\x15", 8), 0);
  EXPECT_EQ(+(h.Version), 0x3F8E147Bu);
  EXPECT_EQ(+(h.PageSize), 4096);
  EXPECT_EQ(+(h.ExtentPageCount), 8);
  auto reopened = OpenPageFile(path);
  EXPECT_EQ(+(reopened->Header.PageCount), 1);
}

TEST(PageFile, PageSizeAndExtentLimits) {
  TTempDir dir;
  EXPECT_NO_THROW(NewPageFile(dir / "a.sfs", 544));
  EXPECT_EQ(MessageOf([&] { NewPageFile(dir / "b.sfs", 543); }),
            "TPageFileManager.Create - page size should be >= 544bytes .");
  EXPECT_EQ(MessageOf([&] { NewPageFile(dir / "c.sfs", 4096, 0); }),
            "TPageFileManager.Create - extent page count should be >= 1 Page.");
  // More pages per extent than one PFS page has bits, or a page too large.
  EXPECT_NE(MessageOf([&] { NewPageFile(dir / "d.sfs", 4096, 8 * 4064 + 1); }), "");
  EXPECT_NE(MessageOf([&] { NewPageFile(dir / "e.sfs", MaxPageSize + 1); }), "");
  EXPECT_NO_THROW(NewPageFile(dir / "f.sfs", 4096, 8 * 4064));
  EXPECT_FALSE(std::filesystem::exists(dir / "b.sfs"));
}

TEST(PageFile, MapLayoutHoldsForPowersOfTwo) {
  for (int32_t pageSize : {544, 1000, 4096, 8192, 65536})
    for (int32_t e = 1; e <= 64; e *= 2) {
      TMapGeometry g;
      ASSERT_TRUE(TMapGeometry::Compute(pageSize, e, g)) << pageSize << " " << e;
      EXPECT_EQ(+(g.ExtentsPerGAMPage % g.ExtentsPerPFSPage), 0);
    }
  TMapGeometry g;
  ASSERT_TRUE(TMapGeometry::Compute(4096, 8, g));
  EXPECT_EQ(+(g.ExtentsPerPFSPage), 4064);
  EXPECT_EQ(+(g.ExtentsPerGAMPage), 32512);
  EXPECT_EQ(+(g.PFSPagePos(1)), 32513);
  EXPECT_TRUE(g.IsMapPage(1) && g.IsMapPage(2) && g.IsMapPage(3) && g.IsMapPage(32513));
  EXPECT_FALSE(g.IsMapPage(4) || g.IsMapPage(32514) || g.IsMapPage(0));
}

TEST(PageFile, RefusedPasswordLeavesNoFile) {
  TTempDir dir;
  EXPECT_EQ(MessageOf([&] { NewPageFile(dir / "pw.sfs", 4096, 8, AnsiString(33, 'p')); }),
            "Password length should be shorter then 32");
  EXPECT_FALSE(std::filesystem::exists(dir / "pw.sfs"));
  EXPECT_NO_THROW(NewPageFile(dir / "pw.sfs", 4096, 8, AnsiString(32, 'p')));
}

TEST(PageFile, OpeningAMissingFileNamesIt) {
  TTempDir dir;
  EXPECT_EQ(MessageOf([&] { OpenPageFile(dir / "none.sfs"); }),
            "File '" + dir / "none.sfs" + "' not found");
}

// A container with maps, a directory and a file, so that every count is set.
std::string MakeFixture(const TTempDir& dir, const std::string& name) {
  const std::string path = dir / name;
  auto e = TEngine::Create(path);
  EXPECT_TRUE(e.Dir->ForceDirectories("\\a\\b"));
  EXPECT_GE(e.WriteFile("\\a\\f", testing::Pattern(5000, 1)), 0);
  return path;
}

TEST(PageFile, EveryCheckedHeaderByteIsGuarded) {
  TTempDir dir;
  const std::string path = MakeFixture(dir, "h.sfs");
  const auto original = testing::ReadLogical(path, 0, 438);
  for (int offset = 0; offset < 436; ++offset) {
    uint8_t b = static_cast<uint8_t>(original[static_cast<size_t>(offset)] ^ 0x01);
    PatchLogical(path, offset, &b, 1);
    EXPECT_EQ(MessageOf([&] { OpenPageFile(path); }), kHeaderCorrupted) << "byte " << offset;
    PatchLogical(path, offset, &original[static_cast<size_t>(offset)], 1);
  }
  EXPECT_NO_THROW(OpenPageFile(path));
}

TEST(PageFile, UncheckedBytesAreGuardedByTheItemCount) {
  TTempDir dir;
  const std::string path = MakeFixture(dir, "h.sfs");
  // Bytes 436 and 437 lie outside the check value; a count that no directory
  // page can hold is refused all the same.
  const uint8_t b = 0x01;
  PatchLogical(path, 437, &b, 1);
  EXPECT_EQ(MessageOf([&] { OpenPageFile(path); }), kHeaderCorrupted);
}

TEST(PageFile, OtherVersionStillOpens) {
  TTempDir dir;
  const std::string path = MakeFixture(dir, "v.sfs");
  TSFSFileHeader h = HeaderOnDisk(path);
  h.Version = 0x40000000u;  // 2.0
  ResealHeader(path, h);
  EXPECT_NO_THROW(OpenPageFile(path));
}

TEST(PageFile, HeaderGeometryAndCountsAreChecked) {
  struct TCase {
    const char* What;
    void (*Damage)(TSFSFileHeader&);
  };
  const TCase cases[] = {
      {"page size 543", [](TSFSFileHeader& h) { h.PageSize = 543; }},
      {"page size huge", [](TSFSFileHeader& h) { h.PageSize = 0x7FFFFFFF; }},
      {"negative page size", [](TSFSFileHeader& h) { h.PageSize = -4096; }},
      {"extent 0", [](TSFSFileHeader& h) { h.ExtentPageCount = 0; }},
      {"extent too large", [](TSFSFileHeader& h) { h.ExtentPageCount = 8 * 4064 + 1; }},
      {"first page 2", [](TSFSFileHeader& h) { h.FirstPageNo = 2; }},
      {"page count 0", [](TSFSFileHeader& h) { h.PageCount = 0; }},
      {"no PFS pages", [](TSFSFileHeader& h) { h.PFSPageCount = 0; }},
      {"no GAM pages", [](TSFSFileHeader& h) { h.GAMPageCount = 0; }},
      {"PFS pages past the end", [](TSFSFileHeader& h) { h.PFSPageCount = 2; }},
      {"GAM pages past the end", [](TSFSFileHeader& h) { h.GAMPageCount = 2; }},
      {"negative PFS count", [](TSFSFileHeader& h) { h.PFSPageCount = -1; }},
      {"more pages than the maps cover", [](TSFSFileHeader& h) { h.PageCount = 40000; }},
      {"directory as long as the container",
       [](TSFSFileHeader& h) { h.DIRPageCount = h.PageCount; }},
      {"negative directory", [](TSFSFileHeader& h) { h.DIRPageCount = -1; }},
      {"items beyond the pages",
       [](TSFSFileHeader& h) { h.DIRItemCount = h.DIRPageCount * 7 + 1; }},
      {"negative items", [](TSFSFileHeader& h) { h.DIRItemCount = -1; }},
      {"first directory page 0", [](TSFSFileHeader& h) { h.FirstDIRPageNo = 0; }},
      {"first directory page past the end",
       [](TSFSFileHeader& h) { h.FirstDIRPageNo = h.PageCount; }},
  };
  TTempDir dir;
  const std::string path = MakeFixture(dir, "g.sfs");
  const TSFSFileHeader good = HeaderOnDisk(path);
  for (const TCase& c : cases) {
    TSFSFileHeader h = good;
    c.Damage(h);
    ResealHeader(path, h);
    EXPECT_EQ(MessageOf([&] { OpenPageFile(path); }), kHeaderCorrupted) << c.What;
  }
  ResealHeader(path, good);
  EXPECT_NO_THROW(OpenPageFile(path));
}

TEST(PageFile, ShortHeaderRaisesTheReadError) {
  TTempDir dir;
  const std::string path = dir / "short.sfs";
  NewPageFile(path).reset();
  std::filesystem::resize_file(path, kPartHeader + 100);
  EXPECT_NE(MessageOf([&] { OpenPageFile(path); }), "");
}

class PageFileTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    Path = Dir / "t.sfs";
    PF = NewPageFile(Path);
    ASSERT_TRUE(PF->AddPages(3));
  }
  TTempDir Dir;
  std::string Path;
  std::unique_ptr<TPageFileManager> PF;
};

TEST_F(PageFileTransfer, RoundTripWithHeaderFields) {
  TPageBuffer page;
  PF->AllocPageBuffer(page);
  EXPECT_EQ(page.NextPageNo, -1);
  ASSERT_EQ(page.Storage.size(), 4064u);
  for (size_t i = 0; i < 4064; ++i) page.Data[i] = static_cast<uint8_t>(i * 7);
  page.PageType = ptFileData;
  page.NextPageNo = 77;
  ASSERT_TRUE(PF->WritePage(page, 2));
  EXPECT_EQ(page.CheckValue, ComputeCheckValue(page.Data, 4064, 0));

  TPageBuffer back;
  PF->AllocPageBuffer(back);
  ASSERT_TRUE(PF->ReadPage(back, 2));
  EXPECT_EQ(back.NextPageNo, 77);
  EXPECT_EQ(back.PageType, ptFileData);
  EXPECT_EQ(std::memcmp(back.Data, page.Data, 4064), 0);

  // Size 0 reads the header alone and needs no data buffer.
  TPageBuffer headerOnly;
  ASSERT_TRUE(PF->ReadPage(headerOnly, 2, 0));
  EXPECT_EQ(headerOnly.NextPageNo, 77);
  headerOnly.NextPageNo = 5;
  ASSERT_TRUE(PF->WritePage(headerOnly, 2, 0));
  ASSERT_TRUE(PF->ReadPage(back, 2));
  EXPECT_EQ(back.NextPageNo, 5);
  EXPECT_EQ(std::memcmp(back.Data, page.Data, 4064), 0);

  TPageBuffer noData;
  EXPECT_EQ(MessageOf([&] { PF->ReadPage(noData, 2); }),
            "TPageFileManager.ReadPage - pData is nil.");
}

TEST_F(PageFileTransfer, UnknownEncryptionType) {
  TPageBuffer page;
  PF->AllocPageBuffer(page);
  page.EncryptionType = 7;
  EXPECT_EQ(MessageOf([&] { PF->WritePage(page, 1); }),
            "TPageFileManager.EncodeBuffer - Unknown encryption type");
  page.EncryptionType = 0;
  ASSERT_TRUE(PF->WritePage(page, 1));
  const uint8_t seven = 7;
  PatchLogical(Path, 4096 + 9, &seven, 1);
  EXPECT_FALSE(PF->ReadPage(page, 1));
  EXPECT_EQ(PF->LastError, -12);
  EXPECT_TRUE(PF->ReadPage(page, 1, -1, "", true));  // raw: no deciphering
  EXPECT_EQ(PF->LastError, 0);
}

TEST_F(PageFileTransfer, ShortReadsAtTheEndOfTheStore) {
  TPageBuffer page;
  PF->AllocPageBuffer(page);
  // The store is 4 pages long: page 4 starts exactly at its end.
  EXPECT_FALSE(PF->ReadPage(page, 4));
  EXPECT_EQ(PF->LastError, -7);
  PF->HugeFile().SetSize(3 * 4096 + 100);
  EXPECT_FALSE(PF->ReadPage(page, 3));
  EXPECT_EQ(PF->LastError, -9);
  EXPECT_NE(MessageOf([&] { PF->ReadPage(page, 10); }), "");
}

TEST_F(PageFileTransfer, PageZeroIsTheHeaderNotAPage) {
  TPageBuffer page;
  PF->AllocPageBuffer(page);
  EXPECT_FALSE(PF->WritePage(page, 0));
  EXPECT_EQ(PF->LastError, -8);
  EXPECT_FALSE(PF->ReadPage(page, 0));
  EXPECT_EQ(PF->LastError, -7);
  PF.reset();
  EXPECT_NO_THROW(OpenPageFile(Path).reset());
}

TEST(PageFile, EncipheredPagesRoundTripUnderTheMasterKey) {
  TTempDir dir;
  const std::string path = dir / "enc.sfs";
  const auto plain = testing::Pattern(4064, 3);
  AnsiString key;
  {
    auto pf = NewPageFile(path, 4096, 8, "secret");
    EXPECT_EQ(+(pf->Header.EncryptionType), 1);
    ASSERT_EQ(pf->MasterKey.size(), 33u);
    key = pf->MasterKey;
    ASSERT_TRUE(pf->AddPages(2));
    TPageBuffer page;
    pf->AllocPageBuffer(page);
    page.EncryptionType = etRijndael;
    std::memcpy(page.Data, plain.data(), plain.size());
    ASSERT_TRUE(pf->WritePage(page, 1));
    // The caller's buffer holds the ciphertext now; writing it again
    // enciphers it twice.
    EXPECT_NE(std::memcmp(page.Data, plain.data(), plain.size()), 0);
    const auto once = std::vector<uint8_t>(page.Data, page.Data + 4064);
    ASSERT_TRUE(pf->WritePage(page, 2));
    EXPECT_EQ(testing::ReadLogical(path, 4096 + 32, 4064), once);
    EXPECT_NE(testing::ReadLogical(path, 2 * 4096 + 32, 4064), once);
  }
  auto pf = OpenPageFile(path, "secret");
  EXPECT_EQ(pf->MasterKey, key);
  TPageBuffer page;
  pf->AllocPageBuffer(page);
  ASSERT_TRUE(pf->ReadPage(page, 1));
  EXPECT_EQ(std::memcmp(page.Data, plain.data(), plain.size()), 0);
  // Without a password the master key stays empty and deciphering fails.
  pf.reset();
  auto nokey = OpenPageFile(path, "", 0);
  EXPECT_TRUE(nokey->MasterKey.empty());
  EXPECT_FALSE(nokey->ReadPage(page, 1));
  EXPECT_EQ(nokey->LastError, -12);
}

TEST(PageFile, GrowthThatFailsChangesNothing) {
  TTempDir dir;
  const std::string path = dir / "full.sfs";
  os::testing::TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scoped(fs);
  auto pf = NewPageFile(path);
  ASSERT_TRUE(pf->AddPages(9));
  fs.SizeLimit = kPartHeader + 12 * 4096;
  EXPECT_FALSE(pf->AddPages(8));
  EXPECT_EQ(+(pf->Header.PageCount), 10);
  EXPECT_EQ(pf->HugeFile().GetSize(), 10 * 4096);
  EXPECT_EQ(+(HeaderOnDisk(path).PageCount), 10);
  EXPECT_TRUE(pf->AddPages(2));
  EXPECT_EQ(+(HeaderOnDisk(path).PageCount), 12);
}

TEST(PageFile, ReadOnlyNeverWritesTheHeader) {
  TTempDir dir;
  const std::string path = MakeFixture(dir, "ro.sfs");
  const auto before = testing::ReadLogical(path, 0, 438);
  auto pf = OpenPageFile(path, "", 0);
  EXPECT_TRUE(pf->ReadOnly);
  pf->Header.AppValue = 42;
  pf->SaveHeader();
  EXPECT_EQ(testing::ReadLogical(path, 0, 438), before);
}

TEST(PageFile, FreeSpaceOfTheVolume) {
  TTempDir dir;
  os::testing::TFakeFileSystem fs;
  fs.FreeSpace = 123456789;
  os::TScopedService<os::IFileSystem> scoped(fs);
  auto pf = NewPageFile(dir / "fs.sfs");
  EXPECT_EQ(pf->GetFreeSpace(), 123456789);
  fs.FreeSpace = -1;
  EXPECT_EQ(pf->GetFreeSpace(), 0);
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

TEST(PageFile, RenameAndDelete) {
  testing::TTempDir dir;
  const std::string path = dir / "old.sfs";
  auto pf = std::make_unique<TPageFileManager>(path, fmCreateNew, "", "", "", false, 4096, 8, -1);
  ASSERT_TRUE(pf->AddPages(3));
  pf->Flush();
  // The repair path closes the backing files before renaming them.
  pf->HugeFile().Close();
  ASSERT_TRUE(pf->RenameFile(dir / "new.sfs"));
  EXPECT_EQ(pf->FileName, dir / "new.sfs");
  EXPECT_FALSE(std::filesystem::exists(path));
  pf.reset();
  pf = std::make_unique<TPageFileManager>(dir / "new.sfs", 0x02, "", "", "", false, 4096, 8, -1);
  EXPECT_EQ(+pf->Header.PageCount, 4);
  pf->HugeFile().Close();
  EXPECT_TRUE(pf->DeleteFiles());
  pf.reset();
  EXPECT_FALSE(std::filesystem::exists(dir / "new.sfs"));
}

}  // namespace
}  // namespace zk
