// File page maps: sizes and map pages, growing and shrinking, the byte range
// to page list, the caches, failures that must leave nothing behind, and
// damaged maps.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/os/Service.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "tests/engine/EngineTestSupport.h"

namespace zk {
namespace {

using testing::kPartHeader;
using testing::MessageOf;
using testing::PatchValue;
using testing::Pattern;
using testing::TEngine;
using testing::TTempDir;

constexpr const char* kInvalidChain =
    "TUserFilePageMapManager.GetMaps - Invalid page No in map chain.";

// Which of pages 1 .. Below - 1 the free-space maps hold free.
std::vector<int> FreeBits(const TEngine& e, int32_t Below) {
  std::vector<int> v;
  for (int32_t p = 1; p < Below; ++p) v.push_back(e.FreeSpace->PageIsFree(p));
  return v;
}
// The free pages with the counts and the container's length.
std::vector<int> FreeMapOf(const TEngine& e) {
  std::vector<int> v = FreeBits(e, e.PageFile->Header.PageCount);
  v.push_back(e.FreeSpace->FreeExtentCount());
  v.push_back(e.FreeSpace->MixedExtentCount());
  v.push_back(+e.PageFile->Header.PageCount);
  return v;
}

TDIRItem NewFile(TEngine& e, const AnsiString& path, int32_t* item = nullptr) {
  const int32_t n = e.Dir->CreateFileItem(path, "", "", "");
  EXPECT_GE(n, 0);
  if (item) *item = n;
  TDIRItem rec;
  e.Dir->ReadItem(n, rec);
  return rec;
}

class PageMap : public ::testing::Test {
 protected:
  void SetUp() override {
    Path = Dir / "m.sfs";
    E = TEngine::Create(Path);
  }
  int32_t DataPages(TDIRItem& rec) {
    TIntegerArray* maps;
    TIntegerArray* data;
    E.Maps->GetMaps(rec, maps, data);
    return data->ItemCount();
  }
  int32_t MapPages(TDIRItem& rec) {
    TIntegerArray* maps;
    TIntegerArray* data;
    E.Maps->GetMaps(rec, maps, data);
    return maps->ItemCount();
  }
  TTempDir Dir;
  std::string Path;
  TEngine E;
};

TEST_F(PageMap, SizesAndMapPages) {
  EXPECT_EQ(E.Maps->EntriesPerMapPage(), 1016);
  EXPECT_EQ(E.Maps->PageCountForSize(0), 0);
  EXPECT_EQ(E.Maps->PageCountForSize(4064), 1);
  EXPECT_EQ(E.Maps->PageCountForSize(4065), 2);
  EXPECT_EQ(E.Maps->PageCountForSize(-5), 0);
  EXPECT_EQ(E.Maps->PageCountForSize(INT64_MAX), INT32_MAX);

  TDIRItem a = NewFile(E, "\\a");
  ASSERT_TRUE(E.Maps->SetFileSize(a, true, 4064));
  a.Size = 4064;
  EXPECT_EQ(DataPages(a), 1);
  EXPECT_EQ(MapPages(a), 1);
  TDIRItem b = NewFile(E, "\\b");
  ASSERT_TRUE(E.Maps->SetFileSize(b, true, 4065));
  b.Size = 4065;
  EXPECT_EQ(DataPages(b), 2);

  TDIRItem c = NewFile(E, "\\c");
  ASSERT_TRUE(E.Maps->AppendPages(c, 1017, false));
  c.Size = int64_t{1017} * 4064;
  TIntegerArray* maps;
  TIntegerArray* data;
  E.Maps->GetMaps(c, maps, data);
  ASSERT_EQ(maps->ItemCount(), 2);
  ASSERT_EQ(data->ItemCount(), 1017);
  EXPECT_EQ((*maps)[0], c.FirstMapPageNo);
  const TPageHeader first = testing::PageHeaderOnDisk(Path, (*maps)[0], 4096);
  const TPageHeader second = testing::PageHeaderOnDisk(Path, (*maps)[1], 4096);
  EXPECT_EQ(+(first.PageType), ptFileMap);
  EXPECT_EQ(+(first.NextPageNo), (*maps)[1]);
  EXPECT_EQ(+(second.NextPageNo), -1);
  int32_t entry;
  const auto bytes = testing::ReadLogical(Path, int64_t{(*maps)[1]} * 4096 + 32, 8);
  std::memcpy(&entry, bytes.data(), 4);
  EXPECT_EQ(entry, (*data)[1016]);
  // The file outgrew one extent: its pages came in whole extents, in order.
  for (int32_t i = 1; i < 1017; ++i) EXPECT_EQ((*data)[i], (*data)[i - 1] + 1) << i;
}

TEST_F(PageMap, SizeZeroFreesEverything) {
  TDIRItem f = NewFile(E, "\\f");
  const int32_t pages = E.PageFile->Header.PageCount;
  const auto before = FreeBits(E, pages);
  ASSERT_TRUE(E.Maps->SetFileSize(f, true, 3 * 4064));
  f.Size = 3 * 4064;
  EXPECT_NE(+(f.FirstMapPageNo), -1);
  ASSERT_TRUE(E.Maps->SetFileSize(f, true, 0));
  f.Size = 0;
  EXPECT_EQ(+(f.FirstMapPageNo), -1);
  EXPECT_EQ(E.Maps->CachedFileCount(), 0);
  EXPECT_EQ(FreeBits(E, pages), before);
  ASSERT_TRUE(E.Maps->SetFileSize(f, true, 1));
  f.Size = 1;
  EXPECT_NE(+(f.FirstMapPageNo), -1);
  EXPECT_EQ(DataPages(f), 1);
  EXPECT_EQ(MapPages(f), 1);
}

TEST_F(PageMap, GrowingWithinAPageAllocatesNothing) {
  TDIRItem f = NewFile(E, "\\f");
  ASSERT_TRUE(E.Maps->SetFileSize(f, true, 100));
  f.Size = 100;
  const auto before = FreeMapOf(E);
  ASSERT_TRUE(E.Maps->SetFileSize(f, true, 200));
  EXPECT_EQ(FreeMapOf(E), before);
  EXPECT_EQ(DataPages(f), 1);
}

TEST_F(PageMap, ShrinkingKeepsTheFrontAndFreesTheRest) {
  TDIRItem f = NewFile(E, "\\f");
  ASSERT_TRUE(E.Maps->AppendPages(f, 1020, true));
  f.Size = int64_t{1020} * 4064;
  TIntegerArray* maps;
  TIntegerArray* data;
  E.Maps->GetMaps(f, maps, data);
  const int32_t keep0 = (*data)[0], freed = (*data)[1019], map1 = (*maps)[1];
  ASSERT_TRUE(E.Maps->SetFileSize(f, true, 10 * 4064));
  f.Size = 10 * 4064;
  E.Maps->GetMaps(f, maps, data);
  EXPECT_EQ(maps->ItemCount(), 1);
  EXPECT_EQ(data->ItemCount(), 10);
  EXPECT_EQ((*data)[0], keep0);
  EXPECT_TRUE(E.FreeSpace->PageIsFree(map1));
  EXPECT_EQ(+(testing::PageHeaderOnDisk(Path, (*maps)[0], 4096).NextPageNo), -1);
  // The freed run was the top of the store: it is cut off.
  EXPECT_LT(E.PageFile->HugeFile().GetSize(), int64_t{freed} * 4096);
}

TEST_F(PageMap, DataPagesOfAByteRange) {
  TDIRItem f = NewFile(E, "\\f");
  TIntegerArray pages;
  ASSERT_TRUE(E.Maps->GetDataPages(f, true, pages, 3 * 4064, 0));
  f.Size = 3 * 4064;
  EXPECT_EQ(pages.ItemCount(), 3);
  ASSERT_TRUE(E.Maps->GetDataPages(f, false, pages, 10, 4060));
  EXPECT_EQ(pages.ItemCount(), 2);
  ASSERT_TRUE(E.Maps->GetDataPages(f, false, pages, 4, 4060));
  EXPECT_EQ(pages.ItemCount(), 1);
  ASSERT_TRUE(E.Maps->GetDataPages(f, false, pages, 0, 4060));
  EXPECT_EQ(pages.ItemCount(), 0);
  // A range past the end gives the pages there are; nothing before the start.
  ASSERT_TRUE(E.Maps->GetDataPages(f, false, pages, 100000, 4064));
  EXPECT_EQ(pages.ItemCount(), 2);
  ASSERT_TRUE(E.Maps->GetDataPages(f, false, pages, 10, -20));
  EXPECT_EQ(pages.ItemCount(), 0);
  TDIRItem g = NewFile(E, "\\g");
  ASSERT_TRUE(E.Maps->GetDataPages(g, false, pages, 10, 0));
  EXPECT_EQ(pages.ItemCount(), 0);
  EXPECT_EQ(+(g.FirstMapPageNo), -1);
}

TEST_F(PageMap, BadArguments) {
  TDIRItem f = NewFile(E, "\\f");
  EXPECT_EQ(MessageOf([&] { E.Maps->AppendPages(f, 0, false); }),
            "TUserFilePageMapManager.AppendPages - PageCount <= 0.");
  EXPECT_EQ(MessageOf([&] { E.Maps->DeletePagesFromEOF(f, 1); }),
            "TUserFilePageMapManager.DeletePagesFromEOF - File map not exists.");
  TIntegerArray* maps;
  TIntegerArray* data;
  EXPECT_EQ(MessageOf([&] { E.Maps->GetMaps(f, maps, data); }),
            "TUserFilePageMapManager.GetMaps - Invalid parameter FileRec.FirstMapPageNo");
  // More pages than a container can count: no space.
  EXPECT_FALSE(E.Maps->SetFileSize(f, true, INT64_MAX));
  EXPECT_EQ(E.Maps->LastError, -17);
}

TEST(PageMapMany, ThreeHundredNewFilesInOneOpenContainer) {
  TTempDir dir;
  const std::string path = dir / "many.sfs";
  auto e = TEngine::Create(path);
  for (uint32_t i = 0; i < 300; ++i) {
    ASSERT_GE(e.WriteFile("\\f" + IntToStr(i), Pattern(100 + (i % 3) * 4064, i)), 0) << i;
    ASSERT_LE(e.Maps->CachedFileCount(), TUserFilePageMapManager::MaxCachedFiles + 1);
  }
  for (uint32_t i = 0; i < 300; ++i)
    ASSERT_EQ(e.ReadFile("\\f" + IntToStr(i)), Pattern(100 + (i % 3) * 4064, i)) << i;
  e.Close();
  e = TEngine::Open(path);
  for (uint32_t i = 0; i < 300; ++i)
    ASSERT_EQ(e.ReadFile("\\f" + IntToStr(i)), Pattern(100 + (i % 3) * 4064, i)) << i;
}

// Growth refused by the disk: nothing of the failed call stays.
TEST(PageMapFull, RefusedGrowthLeavesNothingBehind) {
  TTempDir dir;
  const std::string path = dir / "full.sfs";
  os::testing::TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scoped(fs);
  auto e = TEngine::Create(path);
  TDIRItem old = NewFile(e, "\\old");
  ASSERT_TRUE(e.Maps->AppendPages(old, 3, true));
  old.Size = 3 * 4064;
  TDIRItem fresh = NewFile(e, "\\fresh");
  fs.SizeLimit = kPartHeader + e.PageFile->HugeFile().GetSize();
  const auto before = FreeMapOf(e);
  const int32_t cached = e.Maps->CachedFileCount();

  // A new map: no cache entry, no FirstMapPageNo.
  EXPECT_FALSE(e.Maps->AppendPages(fresh, 40, true));
  EXPECT_EQ(e.Maps->LastError, -17);
  EXPECT_EQ(+(fresh.FirstMapPageNo), -1);
  EXPECT_EQ(e.Maps->CachedFileCount(), cached);
  EXPECT_EQ(FreeMapOf(e), before);
  // An existing map: its lists and map pages as before.
  EXPECT_FALSE(e.Maps->AppendPages(old, 2000, true));
  EXPECT_EQ(FreeMapOf(e), before);
  TIntegerArray* maps;
  TIntegerArray* data;
  e.Maps->GetMaps(old, maps, data);
  EXPECT_EQ(maps->ItemCount(), 1);
  EXPECT_EQ(data->ItemCount(), 3);
}

// Counts the file writes a step makes on a container made by Make, so that a
// twin container can have exactly one of them fail.
template <class FMake, class FStep>
int CountWrites(os::testing::TFakeFileSystem& fs, const std::string& path, FMake make, FStep step) {
  TEngine e = make(path);
  fs.Calls.clear();
  step(e);
  return fs.Calls[os::testing::TFakeFileSystem::TOp::Write];
}

TEST(PageMapFailedWrite, MapPageOfANewMap) {
  TTempDir dir;
  os::testing::TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scoped(fs);
  auto make = [](const std::string& p) {
    auto e = TEngine::Create(p);
    EXPECT_GE(e.WriteFile("\\first", Pattern(9000, 1)), 0);
    EXPECT_GE(e.Dir->CreateFileItem("\\new", "", "", ""), 0);
    return e;
  };
  auto step = [](TEngine& e) {
    TDIRItem rec;
    e.Dir->ReadItem(e.Dir->FindItem("\\new"), rec);
    return e.Maps->AppendPages(rec, 3, false);
  };
  const int writes = CountWrites(fs, dir / "twin.sfs", make, step);
  ASSERT_GT(writes, 2);
  TEngine e = make(dir / "real.sfs");
  const int32_t pages = e.PageFile->Header.PageCount;
  const auto before = FreeBits(e, pages);
  TDIRItem rec;
  e.Dir->ReadItem(e.Dir->FindItem("\\new"), rec);
  int n = 0;
  // The last write is the map page's data.
  fs.Fault = [&](os::testing::TFakeFileSystem::TOp op, const AnsiString&) {
    return op == os::testing::TFakeFileSystem::TOp::Write && ++n == writes ? EIO : 0;
  };
  EXPECT_FALSE(e.Maps->AppendPages(rec, 3, false));
  fs.Fault = nullptr;
  EXPECT_EQ(e.Maps->LastError, -10);
  EXPECT_EQ(+(rec.FirstMapPageNo), -1);
  EXPECT_EQ(FreeBits(e, pages), before);
  EXPECT_EQ(e.Maps->CachedFileCount(), 1);  // "\first" only
  EXPECT_EQ(e.ReadFile("\\first"), Pattern(9000, 1));
}

TEST(PageMapFailedWrite, NewMapPageOfAnExistingMapAndEmptyDataPage) {
  TTempDir dir;
  os::testing::TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scoped(fs);
  // 544-byte pages: 128 entries per map page.
  auto make = [](const std::string& p) {
    auto e = TEngine::Create(p, "", 544, 8);
    EXPECT_GE(e.WriteFile("\\f", Pattern(100 * 512, 2)), 0);
    return e;
  };
  for (bool saveNow : {false, true}) {
    auto step = [saveNow](TEngine& e) {
      TDIRItem rec;
      e.Dir->ReadItem(0, rec);
      return e.Maps->AppendPages(rec, 50, saveNow);
    };
    const std::string twin = dir / ("twin" + IntToStr(saveNow) + ".sfs");
    const std::string real = dir / ("real" + IntToStr(saveNow) + ".sfs");
    const int writes = CountWrites(fs, twin, make, step);
    {
      TEngine e = make(real);
      const int32_t pages = e.PageFile->Header.PageCount;
      const auto before = FreeBits(e, pages);
      TDIRItem rec;
      e.Dir->ReadItem(0, rec);
      int n = 0;
      fs.Fault = [&](os::testing::TFakeFileSystem::TOp op, const AnsiString& p) {
        return op == os::testing::TFakeFileSystem::TOp::Write && p == real && ++n == writes ? EIO
                                                                                            : 0;
      };
      EXPECT_FALSE(e.Maps->AppendPages(rec, 50, saveNow)) << saveNow;
      fs.Fault = nullptr;
      EXPECT_EQ(e.Maps->LastError, -10);
      TIntegerArray* maps;
      TIntegerArray* data;
      e.Maps->GetMaps(rec, maps, data);
      EXPECT_EQ(maps->ItemCount(), 1);
      EXPECT_EQ(data->ItemCount(), 100);
      EXPECT_EQ(+(testing::PageHeaderOnDisk(real, (*maps)[0], 544).NextPageNo), -1);
      EXPECT_EQ(FreeBits(e, pages), before);
    }
    auto reopened = TEngine::Open(real, "", 544);
    EXPECT_EQ(reopened.ReadFile("\\f"), Pattern(100 * 512, 2));
  }
}

// Damaged maps made from a sound one.
class DamagedMap : public ::testing::Test {
 protected:
  void SetUp() override {
    Path = Dir / "dm.sfs";
    auto e = TEngine::Create(Path);
    ASSERT_GE(e.WriteFile("\\small", Pattern(3 * 4064, 5)), 0);
    TDIRItem big = NewFile(e, "\\big", &BigItem);
    ASSERT_TRUE(e.Maps->AppendPages(big, 1017, false));
    big.Size = int64_t{1017} * 4064;
    e.Dir->WriteItem(BigItem, big);
    TIntegerArray* maps;
    TIntegerArray* data;
    e.Maps->GetMaps(big, maps, data);
    FirstMap = (*maps)[0];
    SecondMap = (*maps)[1];
    TDIRItem small;
    e.Dir->ReadItem(0, small);
    SmallMap = small.FirstMapPageNo;
  }
  std::string Open() {
    return MessageOf([&] {
      auto e = TEngine::Open(Path);
      for (const char* name : {"\\small", "\\big"}) {
        TDIRItem rec;
        e.Dir->ReadItem(e.Dir->FindItem(name), rec);
        TIntegerArray* maps;
        TIntegerArray* data;
        e.Maps->GetMaps(rec, maps, data);
      }
    });
  }
  int64_t Entry(int32_t mapPage, int32_t k) const { return int64_t{mapPage} * 4096 + 32 + 4 * k; }
  TTempDir Dir;
  std::string Path;
  int32_t BigItem = 0, FirstMap = 0, SecondMap = 0, SmallMap = 0;
};

TEST_F(DamagedMap, SoundMapsLoad) {
  EXPECT_EQ(Open(), "");
}

TEST_F(DamagedMap, ChainThatEndsEarly) {
  PatchValue<int32_t>(Path, int64_t{FirstMap} * 4096, -1);
  EXPECT_EQ(Open(), kInvalidChain);
}

TEST_F(DamagedMap, ChainToBadPages) {
  for (int32_t next : {0, 1, 2, 3, FirstMap, 1 << 30}) {
    PatchValue<int32_t>(Path, int64_t{FirstMap} * 4096, next);
    EXPECT_EQ(Open(), kInvalidChain) << next;
  }
}

TEST_F(DamagedMap, BadEntries) {
  const auto original = testing::ReadLogical(Path, Entry(SmallMap, 0), 12);
  int32_t second;
  std::memcpy(&second, original.data() + 4, 4);
  for (int32_t entry : {0, -1, 2, 3, SmallMap, second, 1 << 30}) {
    PatchValue<int32_t>(Path, Entry(SmallMap, 0), entry);
    EXPECT_EQ(Open(), kInvalidChain) << entry;
  }
}

TEST_F(DamagedMap, FirstMapPageOfTheRecord) {
  const int64_t record = int64_t{4} * 4096 + 32;  // record 0, "\small"
  for (int32_t first : {0, 2, -7, 1 << 30}) {
    PatchValue<int32_t>(Path, record, first);
    EXPECT_EQ(Open(), kInvalidChain) << first;
  }
}

TEST_F(DamagedMap, UnreadableMapPage) {
  PatchValue<uint8_t>(Path, int64_t{SecondMap} * 4096 + 9, 5);
  EXPECT_EQ(Open(), "TUserFilePageMapManager.GetMaps - Error on reading map page.");
}

TEST_F(DamagedMap, SizeBeyondAnyMap) {
  const int64_t record = int64_t{4} * 4096 + 32;
  PatchValue<int64_t>(Path, record + 4, INT64_MAX);
  EXPECT_EQ(Open(), kInvalidChain);
}

// A disk that refuses growth at the second PFS page: the container still
// opens and holds everything written before.
TEST(PageMapFull, DiskFullAtTheSecondPFSPage) {
  TTempDir dir;
  const std::string path = dir / "fill.sfs";
  os::testing::TFakeFileSystem fs;
  std::vector<std::pair<AnsiString, uint32_t>> written;
  {
    os::TScopedService<os::IFileSystem> scoped(fs);
    fs.SizeLimit = kPartHeader + 4097 * 544;
    auto e = TEngine::Create(path, "", 544, 8);
    ASSERT_TRUE(e.Dir->ForceDirectories("\\data\\more"));
    for (uint32_t i = 0;; ++i) {
      const AnsiString name = (i % 2 ? "\\data\\f" : "\\data\\more\\g") + IntToStr(i);
      const int32_t r = e.WriteFile(name, Pattern(700 + i % 900, i));
      if (r < 0) {
        EXPECT_TRUE(r == -1 || r == -17) << r;
        break;
      }
      written.emplace_back(name, i);
      ASSERT_LT(i, 10000u);
    }
    EXPECT_EQ(+(e.PageFile->Header.PageCount), 4097);
    EXPECT_EQ(+(e.PageFile->Header.PFSPageCount), 1);
  }
  EXPECT_GT(written.size(), 500u);
  auto e = TEngine::Open(path, "", 544);
  for (const auto& [name, i] : written) ASSERT_EQ(e.ReadFile(name), Pattern(700 + i % 900, i));
  // With room again the container grows on.
  EXPECT_GE(e.WriteFile("\\after", Pattern(5000, 7)), 0);
  EXPECT_EQ(e.ReadFile("\\after"), Pattern(5000, 7));
  EXPECT_EQ(+(e.PageFile->Header.PFSPageCount), 2);
}

}  // namespace
}  // namespace zk
