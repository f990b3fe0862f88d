// The free-space maps: where map pages lie, handing pages out, growth by
// extents (and its failure), giving pages back and cutting the free tail.
#include <gtest/gtest.h>

#include <algorithm>

#include "container/storage/SFSHugeFile.h"
#include "platform/os/Service.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "tests/engine/EngineTestSupport.h"

namespace zk {
namespace {

using testing::kPartHeader;
using testing::MessageOf;
using testing::PatchValue;
using testing::TTempDir;

struct TMaps {
  std::unique_ptr<TPageFileManager> PF;
  std::unique_ptr<TFreeSpaceManager> FS;

  static TMaps Create(const std::string& path, int32_t pageSize = 4096, int32_t extent = 8) {
    TMaps m;
    m.PF = std::make_unique<TPageFileManager>(path, fmCreateNew, "", "", "", false, pageSize,
                                              extent, -1);
    m.FS = std::make_unique<TFreeSpaceManager>(*m.PF);
    return m;
  }
  static TMaps Open(const std::string& path) {
    TMaps m;
    m.PF = std::make_unique<TPageFileManager>(path, 0x12, "", "", "", false, 4096, 8, -1);
    m.FS = std::make_unique<TFreeSpaceManager>(*m.PF);
    return m;
  }
  std::vector<int32_t> Get(int32_t count, int32_t near = 1, bool uniform = false) {
    TIntegerArray pages;
    EXPECT_TRUE(FS->GetPages(count, near, uniform, pages));
    return {pages.Items().begin(), pages.Items().end()};
  }
  void Free(std::vector<int32_t> pages) {
    TIntegerArray list;
    for (int32_t p : pages) list.Add(p);
    FS->FreePages(list);
  }
};

// Everything the maps know, to compare before and after.
struct TState {
  int32_t PageCount, PFSPageCount, GAMPageCount, ExtentCount, Free, Mixed, PFSPages, GAMPages;
  std::vector<bool> PFS, GAM, SGAM;
  bool operator==(const TState&) const = default;
};

TState StateOf(const TMaps& m) {
  TState s{m.PF->Header.PageCount,
           m.PF->Header.PFSPageCount,
           m.PF->Header.GAMPageCount,
           m.FS->ExtentCount(),
           m.FS->FreeExtentCount(),
           m.FS->MixedExtentCount(),
           m.FS->PFSPageMap().ItemCount(),
           m.FS->GAMPageMap().ItemCount(),
           {},
           {},
           {}};
  const int64_t pages = int64_t{m.FS->ExtentCount()} * m.PF->Header.ExtentPageCount;
  for (int64_t n = 0; n < pages; ++n) s.PFS.push_back(m.FS->PFSBit(n));
  for (int32_t k = 0; k < m.FS->ExtentCount(); ++k) {
    s.GAM.push_back(m.FS->GAMBit(k));
    s.SGAM.push_back(m.FS->SGAMBit(k));
  }
  return s;
}

TEST(FreeSpace, FirstPageOfANewContainer) {
  TTempDir dir;
  auto m = TMaps::Create(dir / "a.sfs");
  EXPECT_EQ(m.FS->ExtentCount(), 0);
  EXPECT_EQ(m.Get(1), std::vector<int32_t>{4});
  EXPECT_EQ(+(m.PF->Header.PageCount), 9);
  EXPECT_EQ(m.PF->HugeFile().GetSize(), 9 * 4096);
  EXPECT_EQ(m.FS->ExtentCount(), 1);
  EXPECT_EQ(m.FS->MixedExtentCount(), 1);
  EXPECT_EQ(m.FS->FreeExtentCount(), 0);
  EXPECT_FALSE(m.FS->GAMBit(0));
  EXPECT_TRUE(m.FS->SGAMBit(0));
  EXPECT_EQ(+(m.PF->Header.PFSPageCount), 1);
  EXPECT_EQ(+(m.PF->Header.GAMPageCount), 1);
  // The map pages on disk carry their types and are read back the same.
  const std::string path = dir / "a.sfs";
  EXPECT_EQ(+(testing::PageHeaderOnDisk(path, 1, 4096).PageType), ptPFS);
  EXPECT_EQ(+(testing::PageHeaderOnDisk(path, 2, 4096).PageType), ptGAM);
  EXPECT_EQ(+(testing::PageHeaderOnDisk(path, 3, 4096).PageType), ptSGAM);
  const TState before = StateOf(m);
  m = TMaps();
  auto again = TMaps::Open(path);
  EXPECT_EQ(StateOf(again), before);
  EXPECT_EQ(again.Get(4), (std::vector<int32_t>{5, 6, 7, 8}));
  // Taking the extent's last page ends its mixed state.
  EXPECT_EQ(again.FS->MixedExtentCount(), 0);
  EXPECT_FALSE(again.FS->SGAMBit(0));
}

TEST(FreeSpace, UniformRequestsTakeWholeFreshExtents) {
  TTempDir dir;
  auto m = TMaps::Create(dir / "u.sfs");
  m.Get(1);
  // Extent 0 is mixed with four free pages; a uniform request does not count
  // them and gets a fresh extent.
  EXPECT_EQ(m.Get(3, 100, true), (std::vector<int32_t>{9, 10, 11}));
  EXPECT_EQ(+(m.PF->Header.PageCount), 17);
  EXPECT_FALSE(m.FS->GAMBit(1));
  EXPECT_FALSE(m.FS->SGAMBit(1));  // owned by one user
  // The owned extent's other pages come only through a neighbour.
  EXPECT_EQ(m.Get(2, 12, false), (std::vector<int32_t>{12, 13}));
  EXPECT_EQ(m.Get(2, 1, false), (std::vector<int32_t>{5, 6}));
}

TEST(FreeSpace, FreedExtentBecomesFreeAgain) {
  TTempDir dir;
  auto m = TMaps::Create(dir / "f.sfs");
  m.Get(1);
  const auto pages = m.Get(8, 9, true);
  ASSERT_EQ(pages.size(), 8u);
  EXPECT_EQ(m.FS->FreeExtentCount(), 0);
  m.Free(pages);
  EXPECT_TRUE(m.FS->GAMBit(1));
  EXPECT_FALSE(m.FS->SGAMBit(1));
  EXPECT_EQ(m.FS->FreeExtentCount(), 1);
}

TEST(FreeSpace, FreeingTheTopCutsTheStore) {
  TTempDir dir;
  auto m = TMaps::Create(dir / "c.sfs");
  EXPECT_EQ(m.Get(2), (std::vector<int32_t>{4, 5}));
  m.Free({4});
  EXPECT_EQ(m.PF->HugeFile().GetSize(), 9 * 4096);
  m.Free({5});
  // Pages 1 to 3 are the maps; page 4 is free but stays below the cut.
  EXPECT_EQ(m.PF->HugeFile().GetSize(), 5 * 4096);
  EXPECT_EQ(+(m.PF->Header.PageCount), 9);
  // The cut-off pages are handed out again without growing the container.
  EXPECT_EQ(m.Get(3), (std::vector<int32_t>{4, 5, 6}));
  EXPECT_EQ(+(m.PF->Header.PageCount), 9);
  TPageBuffer page;
  m.PF->AllocPageBuffer(page);
  EXPECT_TRUE(m.PF->WritePage(page, 6));
  EXPECT_EQ(m.PF->HugeFile().GetSize(), 7 * 4096);
}

TEST(FreeSpace, OnlyManagedPagesInUseAreGivenBack) {
  TTempDir dir;
  auto m = TMaps::Create(dir / "s.sfs");
  m.Get(2);
  const TState before = StateOf(m);
  // Map pages, page 0, negative numbers, pages past the end, free pages and
  // pages far outside: none of them changes anything.
  m.Free({0, 1, 2, 3, -5, 6, 9, 100, 2000000000, INT32_MIN});
  EXPECT_EQ(StateOf(m), before);
  m.Free({5, 5});
  EXPECT_TRUE(m.FS->PageIsFree(5));
  EXPECT_FALSE(m.FS->PageIsFree(4));
}

TEST(FreeSpace, ZeroPagesAndOddNeighbours) {
  TTempDir dir;
  auto m = TMaps::Create(dir / "z.sfs");
  TIntegerArray pages;
  pages.Add(99);
  EXPECT_TRUE(m.FS->GetPages(0, 1, false, pages));
  EXPECT_EQ(pages.ItemCount(), 0);
  EXPECT_EQ(m.PF->HugeFile().GetSize(), 438);
  m.Get(1);
  for (int32_t near : {INT32_MIN, -7, 0, 9, 1000000, INT32_MAX}) {
    const auto got = m.Get(1, near);
    ASSERT_EQ(got.size(), 1u) << near;
    EXPECT_FALSE(m.FS->PageIsFree(got[0]));
  }
}

TEST(FreeSpace, GeometryMessagesForAHeaderChangedInMemory) {
  TTempDir dir;
  auto m = TMaps::Create(dir / "g.sfs");
  m.Get(1);
  m.PF->Header.PageCount = 1 + 8 * 5000;
  EXPECT_EQ(MessageOf([&] { TFreeSpaceManager fs(*m.PF); }),
            "TFreeSpaceManager.Create - PFSPageCount * FPageSize < FExtentCount!");
  m.PF->Header.PageCount = 1 + 8 * 33000;
  m.PF->Header.PFSPageCount = 9;
  EXPECT_EQ(MessageOf([&] { TFreeSpaceManager fs(*m.PF); }),
            "TFreeSpaceManager.Create - GAMPageCount * FPageSize < FExtentCount!");
}

TEST(FreeSpace, UnreadableMapPagesRaiseTheirMessages) {
  struct TCase {
    int32_t Page;
    const char* Message;
  };
  const TCase cases[] = {
      {1, "TFreeSpaceManager.LoadPFS - can not load page, pageNo = 1"},
      {2, "TFreeSpaceManager.LoadGAM - can not load page, pageNo = 2"},
      {3, "TFreeSpaceManager.LoadGAM - can not load SGAM page, pageNo = 2"},
  };
  for (const TCase& c : cases) {
    TTempDir dir;
    const std::string path = dir / "m.sfs";
    TMaps::Create(path).Get(1);
    // An encryption type that no reader knows makes the page unreadable.
    PatchValue<uint8_t>(path, int64_t{c.Page} * 4096 + 9, 7);
    EXPECT_EQ(MessageOf([&] { TMaps::Open(path); }), c.Message);
  }
}

TEST(FreeSpace, SecondGroupOfMapPages) {
  TTempDir dir;
  // 544-byte pages: 512 extents of 8 pages per PFS page, so the second PFS
  // page is page 4097; one GAM/SGAM pair covers eight PFS pages' worth.
  auto m = TMaps::Create(dir / "p.sfs", 544, 8);
  EXPECT_EQ(m.FS->ExtentsPerPFSPage(), 512);
  EXPECT_EQ(m.FS->ExtentsPerGAMPage(), 4096);
  TIntegerArray pages;
  ASSERT_TRUE(m.FS->GetPages(4200, 1, false, pages));
  EXPECT_EQ(+(m.PF->Header.PFSPageCount), 2);
  EXPECT_EQ(+(m.PF->Header.GAMPageCount), 1);
  EXPECT_EQ(m.FS->PFSPageMap()[1], 4097);
  const auto list = std::vector<int32_t>(pages.Items().begin(), pages.Items().end());
  EXPECT_EQ(std::count(list.begin(), list.end(), 4097), 0);
  // Extent 512 (the second PFS page's) is no longer free, on disk too: its
  // GAM page is written although no new GAM page came with it.
  EXPECT_FALSE(m.FS->GAMBit(512));
  const TState before = StateOf(m);
  const std::string path = dir / "p.sfs";
  m = TMaps();
  TMaps again;
  again.PF = std::make_unique<TPageFileManager>(path, 0x12, "", "", "", false, 544, 8, -1);
  again.FS = std::make_unique<TFreeSpaceManager>(*again.PF);
  EXPECT_EQ(StateOf(again), before);
}

TEST(FreeSpace, GrowthRefusedAtTheSecondPFSPageLeavesEverythingAsItWas) {
  TTempDir dir;
  const std::string path = dir / "full.sfs";
  os::testing::TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scoped(fs);
  // The disk holds pages 0 to 4096 and no more: the extent that starts with
  // the second PFS page (4097) cannot be added.
  fs.SizeLimit = kPartHeader + 4097 * 544;
  TMaps m;
  m.PF = std::make_unique<TPageFileManager>(path, fmCreateNew, "", "", "", false, 544, 8, -1);
  m.FS = std::make_unique<TFreeSpaceManager>(*m.PF);
  std::vector<int32_t> taken;
  TIntegerArray pages;
  for (;;) {
    const TState before = StateOf(m);
    if (!m.FS->GetPages(1, taken.empty() ? 1 : taken.back() + 1, false, pages)) {
      EXPECT_EQ(StateOf(m), before);
      EXPECT_EQ(pages.ItemCount(), 0);
      break;
    }
    taken.push_back(pages[0]);
    ASSERT_LT(taken.size(), 5000u);
  }
  EXPECT_EQ(taken.size(), 4096u - 3u);
  EXPECT_EQ(+(m.PF->Header.PageCount), 4097);
  EXPECT_EQ(+(m.PF->Header.PFSPageCount), 1);
  // A uniform request fails the same way.
  const TState before = StateOf(m);
  EXPECT_FALSE(m.FS->GetPages(20, 1, true, pages));
  EXPECT_EQ(StateOf(m), before);
  m = TMaps();
  fs.SizeLimit = -1;
  TMaps again;
  again.PF = std::make_unique<TPageFileManager>(path, 0x12, "", "", "", false, 544, 8, -1);
  again.FS = std::make_unique<TFreeSpaceManager>(*again.PF);
  EXPECT_EQ(StateOf(again), before);
  for (int32_t p : taken) EXPECT_FALSE(again.FS->PageIsFree(p));
  // With room again, growth goes on past the second PFS page.
  TIntegerArray more;
  ASSERT_TRUE(again.FS->GetPages(1, 1, false, more));
  EXPECT_EQ(more[0], 4098);
  EXPECT_EQ(+(again.PF->Header.PFSPageCount), 2);
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

// Odd extent sizes, where the map pages of a group span several extents (1
// and 2 pages per extent) or the bit counts do not divide evenly: pages are
// handed out once each, never a map page, and the maps read back the same.
TEST(FreeSpace, OtherExtentSizes) {
  for (int32_t e : {1, 2, 3, 5, 7, 12, 64, 100}) {
    TMapGeometry g;
    if (!TMapGeometry::Compute(544, e, g)) continue;
    TTempDir dir;
    const std::string path = dir / "x.sfs";
    TMaps m;
    m.PF = std::make_unique<TPageFileManager>(path, fmCreateNew, "", "", "", false, 544, e, -1);
    m.FS = std::make_unique<TFreeSpaceManager>(*m.PF);
    std::vector<int32_t> all;
    for (int round = 0; round < 150; ++round) {
      // Uniform requests of six extents carry the larger sizes past the
      // first group of map pages.
      const bool uniform = round % 3 == 0;
      const int32_t count = uniform ? 6 * e : 1 + round * 7 % 23;
      const auto got = m.Get(count, all.empty() ? 1 : all.back() + 1, uniform);
      all.insert(all.end(), got.begin(), got.end());
      if (round % 10 == 9) {
        m.Free({all.begin(), all.begin() + static_cast<std::ptrdiff_t>(all.size() / 4)});
        all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(all.size() / 4));
      }
    }
    std::vector<int32_t> sorted = all;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << e;
    for (int32_t p : all) {
      EXPECT_FALSE(g.IsMapPage(p)) << e << " " << p;
      EXPECT_FALSE(m.FS->PageIsFree(p)) << e << " " << p;
    }
    const TState before = StateOf(m);
    m = TMaps();
    TMaps again;
    again.PF = std::make_unique<TPageFileManager>(path, 0x12, "", "", "", false, 544, e, -1);
    again.FS = std::make_unique<TFreeSpaceManager>(*again.PF);
    EXPECT_EQ(StateOf(again), before) << e;
    if (e >= 64) {
      EXPECT_GE(+again.PF->Header.PFSPageCount, 2) << e;
    }
  }
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

// The largest extent: one extent per PFS page, each extent starting with its
// map page. A uniform request is served from shared extents instead of
// growing the container without end.
TEST(FreeSpace, LargestExtentServesUniformRequests) {
  TTempDir dir;
  const int32_t e = 8 * (544 - 32);
  auto m = TMaps::Create(dir / "big.sfs", 544, e);
  EXPECT_EQ(m.FS->ExtentsPerPFSPage(), 1);
  const auto first = m.Get(10, 1, true);
  ASSERT_EQ(first.size(), 10u);
  EXPECT_EQ(first[0], 4);
  const auto more = m.Get(e, 1, true);
  ASSERT_EQ(more.size(), static_cast<size_t>(e));
  EXPECT_EQ(+m.PF->Header.PFSPageCount, 2);
  for (int32_t p : more) EXPECT_FALSE(m.FS->Geometry().IsMapPage(p));
}

}  // namespace
}  // namespace zk
