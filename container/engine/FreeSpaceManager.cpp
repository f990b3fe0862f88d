#include "container/engine/FreeSpaceManager.h"

#include <algorithm>
#include <exception>

#include "container/engine/PageFileManager.h"
#include "container/storage/SFSHugeFile.h"
#include "platform/rtl/Exception.h"

namespace zk {

TFreeSpaceManager::TFreeSpaceManager(TPageFileManager& PageFile) : FPageFile(PageFile) {
  const TSFSFileHeader& h = FPageFile.Header;
  if (!TMapGeometry::Compute(h.PageSize, h.ExtentPageCount, FGeometry))
    throw Exception("TFreeSpaceManager.Create - invalid map geometry, ExtentPageCount = " +
                    IntToStr(h.ExtentPageCount));
  FExtentCount = (h.PageCount - h.FirstPageNo) / h.ExtentPageCount;
  if (FExtentCount < 0) FExtentCount = 0;
  if (int64_t{h.PFSPageCount} * FGeometry.ExtentsPerPFSPage < FExtentCount)
    throw Exception("TFreeSpaceManager.Create - PFSPageCount * FPageSize < FExtentCount!");
  if (int64_t{h.GAMPageCount} * FGeometry.ExtentsPerGAMPage < FExtentCount)
    throw Exception("TFreeSpaceManager.Create - GAMPageCount * FPageSize < FExtentCount!");
  LoadPFS();
  LoadGAM();
  for (int32_t k = 0; k < FExtentCount; ++k) {
    if (GAMBit(k)) ++FFreeExtentCount;
    if (SGAMBit(k)) ++FMixedExtentCount;
  }
}

bool TFreeSpaceManager::GetBit(const std::vector<uint8_t>& Map, int64_t n) const {
  if (n < 0 || static_cast<uint64_t>(n / 8) >= Map.size())
    throw Exception("TFreeSpaceManager - map index out of range, index = " + IntToStr(n));
  return (Map[static_cast<size_t>(n / 8)] >> (n % 8)) & 1;
}

void TFreeSpaceManager::SetBit(std::vector<uint8_t>& Map, int64_t n, bool Value) {
  if (n < 0 || static_cast<uint64_t>(n / 8) >= Map.size())
    throw Exception("TFreeSpaceManager - map index out of range, index = " + IntToStr(n));
  const size_t at = static_cast<size_t>(n / 8);
  const uint8_t mask = static_cast<uint8_t>(1u << (n % 8));
  const uint8_t now =
      Value ? static_cast<uint8_t>(Map[at] | mask) : static_cast<uint8_t>(Map[at] & ~mask);
  if (now == Map[at]) return;
  // Bytes that a failed GetPages would cut off again need no undo entry.
  if (FLogging) {
    const size_t kept = &Map == &FPFS ? FLogSize[0] : (&Map == &FGAM ? FLogSize[1] : FLogSize[2]);
    if (at < kept) FUndo.push_back({&Map, at, Map[at]});
  }
  Map[at] = now;
}

bool TFreeSpaceManager::PageIsFree(int32_t P) const {
  const int64_t n = int64_t{P} - FPageFile.Header.FirstPageNo;
  if (n < 0 || static_cast<uint64_t>(n / 8) >= FPFS.size()) return false;
  return PFSBit(n);
}

void TFreeSpaceManager::LoadPFS() {
  FPFSPageMap.Clear();
  FPFS.clear();
  const int32_t count = FPageFile.Header.PFSPageCount;
  if (count <= 0) return;
  TPageBuffer page;
  for (int32_t i = 0; i < count; ++i) {
    const int64_t p = FGeometry.PFSPagePos(i);
    if (p < 1 || p >= FPageFile.Header.PageCount)
      throw Exception("TFreeSpaceManager.LoadPFS - can not load page, pageNo = " + IntToStr(p));
    FPFSPageMap.Add(static_cast<int32_t>(p));
    // The bitmap grows page by page, so a header that claims more pages than
    // the store holds fails on reading, not on allocating.
    const size_t at = FPFS.size();
    FPFS.resize(at + static_cast<size_t>(FGeometry.PFSBytes), 0);
    page.Data = FPFS.data() + at;
    if (!FPageFile.ReadPage(page, static_cast<int32_t>(p), FGeometry.PFSBytes))
      throw Exception("TFreeSpaceManager.LoadPFS - can not load page, pageNo = " + IntToStr(p));
  }
}

void TFreeSpaceManager::LoadGAM() {
  FGAMPageMap.Clear();
  FGAM.clear();
  FSGAM.clear();
  const int32_t count = FPageFile.Header.GAMPageCount;
  if (count <= 0) return;
  TPageBuffer page;
  for (int32_t j = 0; j < count; ++j) {
    const int64_t p = FGeometry.GAMPagePos(j);
    if (p < 2 || p + 1 >= FPageFile.Header.PageCount)
      throw Exception("TFreeSpaceManager.LoadGAM - can not load page, pageNo = " + IntToStr(p));
    FGAMPageMap.Add(static_cast<int32_t>(p));
    const size_t at = FGAM.size();
    FGAM.resize(at + static_cast<size_t>(FGeometry.GAMBytes), 0);
    FSGAM.resize(at + static_cast<size_t>(FGeometry.GAMBytes), 0);
    page.Data = FGAM.data() + at;
    if (!FPageFile.ReadPage(page, static_cast<int32_t>(p), FGeometry.GAMBytes))
      throw Exception("TFreeSpaceManager.LoadGAM - can not load page, pageNo = " + IntToStr(p));
    page.Data = FSGAM.data() + at;
    if (!FPageFile.ReadPage(page, static_cast<int32_t>(p + 1), FGeometry.GAMBytes))
      throw Exception("TFreeSpaceManager.LoadGAM - can not load SGAM page, pageNo = " +
                      IntToStr(p));
  }
}

void TFreeSpaceManager::SavePFS(const TIntegerArray& Dirty) {
  if (Dirty.ItemCount() != FPFSPageMap.ItemCount())
    throw Exception("TFreeSpaceManager.SavePFS - pages.ItemCount <> PFSPageMap.ItemCount!");
  TPageBuffer page;
  page.PageType = ptPFS;
  for (int32_t i = 0; i < Dirty.ItemCount(); ++i) {
    if (Dirty[i] != 1) continue;
    const int32_t p = FPFSPageMap[i];
    page.NextPageNo = -1;
    page.EncryptionType = etNone;
    page.CheckKind = 0;
    page.Data = FPFS.data() + static_cast<size_t>(i) * FGeometry.PFSBytes;
    if (!FPageFile.WritePage(page, p, FGeometry.PFSBytes))
      throw Exception("TFreeSpaceManager.SavePFS - can not save page, pageNo = " + IntToStr(p));
  }
}

void TFreeSpaceManager::SaveGAM(const TIntegerArray& Dirty) {
  if (Dirty.ItemCount() != FGAMPageMap.ItemCount())
    throw Exception("TFreeSpaceManager.SaveGAM - pages.ItemCount <> GAMPageMap.ItemCount!");
  TPageBuffer page;
  for (int32_t j = 0; j < Dirty.ItemCount(); ++j) {
    if (Dirty[j] != 1) continue;
    const int32_t p = FGAMPageMap[j];
    const size_t at = static_cast<size_t>(j) * FGeometry.GAMBytes;
    page.NextPageNo = -1;
    page.EncryptionType = etNone;
    page.CheckKind = 0;
    page.PageType = ptGAM;
    page.Data = FGAM.data() + at;
    if (!FPageFile.WritePage(page, p, FGeometry.GAMBytes))
      throw Exception("TFreeSpaceManager.SaveGAM - can not save page, pageNo = " + IntToStr(p));
    page.PageType = ptSGAM;
    page.Data = FSGAM.data() + at;
    if (!FPageFile.WritePage(page, p + 1, FGeometry.GAMBytes))
      throw Exception("TFreeSpaceManager.SaveGAM - can not save SGAM page, pageNo = " +
                      IntToStr(p));
  }
}

void TFreeSpaceManager::Mark(TIntegerArray& Dirty, int64_t Index) {
  if (Index >= 0 && Index < Dirty.ItemCount()) Dirty[static_cast<int32_t>(Index)] = 1;
}

void TFreeSpaceManager::TakeFromExtent(int32_t k, int32_t Count, bool Uniform,
                                       TIntegerArray& Pages) {
  const int32_t e = FGeometry.ExtentPageCount;
  const int64_t s = int64_t{k} * e;
  const int32_t first = FPageFile.Header.FirstPageNo;
  for (int64_t n = s; n < s + e && Pages.ItemCount() < Count; ++n) {
    if (!PFSBit(n)) continue;
    Mark(*FPFSDirty, k / FGeometry.ExtentsPerPFSPage);
    SetBit(FPFS, n, false);
    Pages.Add(static_cast<int32_t>(n + first));
    // The counters follow the bits exactly: a GAM bit that goes from 1 to 0
    // leaves the free extents, an SGAM bit that changes joins or leaves the
    // mixed ones.
    if (n == s) {
      if (GAMBit(k) && FFreeExtentCount > 0) --FFreeExtentCount;
      const bool mixed = !Uniform;
      if (mixed && !SGAMBit(k)) ++FMixedExtentCount;
      if (!mixed && SGAMBit(k) && FMixedExtentCount > 0) --FMixedExtentCount;
      SetBit(FGAM, k, false);
      SetBit(FSGAM, k, mixed);
      Mark(*FGAMDirty, k / FGeometry.ExtentsPerGAMPage);
    }
    if (n == s + e - 1) {
      if (SGAMBit(k) && FMixedExtentCount > 0) --FMixedExtentCount;
      if (GAMBit(k) && FFreeExtentCount > 0) --FFreeExtentCount;
      SetBit(FGAM, k, false);
      SetBit(FSGAM, k, false);
      Mark(*FGAMDirty, k / FGeometry.ExtentsPerGAMPage);
    }
  }
}

void TFreeSpaceManager::Scan(int32_t& j, int32_t Count, bool Uniform, TIntegerArray& Pages) {
  while (j < FExtentCount && Pages.ItemCount() < Count) {
    // Whole bytes of extents that are neither free nor (for a shared request)
    // mixed are passed over at once.
    if (j % 8 == 0 && j + 8 <= FExtentCount) {
      const size_t at = static_cast<size_t>(j / 8);
      const uint8_t usable = static_cast<uint8_t>(FGAM[at] | (Uniform ? 0 : FSGAM[at]));
      if (usable == 0) {
        j += 8;
        continue;
      }
    }
    if (GAMBit(j) || (!Uniform && SGAMBit(j))) TakeFromExtent(j, Count, Uniform, Pages);
    ++j;
  }
}

TFreeSpaceManager::TSnapshot TFreeSpaceManager::Snap() const {
  return {FPFS.size(),
          FGAM.size(),
          FSGAM.size(),
          FPFSPageMap.ItemCount(),
          FGAMPageMap.ItemCount(),
          FPageFile.Header.PFSPageCount,
          FPageFile.Header.GAMPageCount,
          FExtentCount,
          FFreeExtentCount,
          FMixedExtentCount};
}

void TFreeSpaceManager::Restore(const TSnapshot& S) {
  for (auto it = FUndo.rbegin(); it != FUndo.rend(); ++it) {
    if (it->Byte < it->Map->size()) (*it->Map)[it->Byte] = it->Old;
  }
  FUndo.clear();
  FPFS.resize(S.PFSSize);
  FGAM.resize(S.GAMSize);
  FSGAM.resize(S.SGAMSize);
  FPFSPageMap.SetCount(S.PFSPages);
  FGAMPageMap.SetCount(S.GAMPages);
  FPageFile.Header.PFSPageCount = S.PFSPageCount;
  FPageFile.Header.GAMPageCount = S.GAMPageCount;
  FExtentCount = S.ExtentCount;
  FFreeExtentCount = S.FreeExtentCount;
  FMixedExtentCount = S.MixedExtentCount;
}

bool TFreeSpaceManager::GetPages(int32_t Count, int32_t NearPageNo, bool Uniform,
                                 TIntegerArray& Pages) {
  Pages.Clear();
  if (Count <= 0) return true;
  // With one extent per PFS page every extent carries a map page, so no
  // extent is ever wholly free: a uniform request could never be met (and
  // AddExtents would grow the maps without end). It is served as a shared one.
  if (FGeometry.ExtentsPerPFSPage < 2) Uniform = false;
  TIntegerArray pfsDirty(FPFSPageMap.ItemCount(), 1, 10);
  TIntegerArray gamDirty(FGAMPageMap.ItemCount(), 1, 10);
  for (int32_t& f : pfsDirty.Items()) f = 0;
  for (int32_t& f : gamDirty.Items()) f = 0;

  const TSnapshot before = Snap();
  FUndo.clear();
  FLogSize[0] = before.PFSSize;
  FLogSize[1] = before.GAMSize;
  FLogSize[2] = before.SGAMSize;
  FLogging = true;
  FPFSDirty = &pfsDirty;
  FGAMDirty = &gamDirty;
  bool grown = false;
  bool ok = true;
  try {
    const int32_t e = FGeometry.ExtentPageCount;
    const int64_t k = (int64_t{NearPageNo} - FPageFile.Header.FirstPageNo) / e;
    int32_t j = 0;
    if (k >= 0 && k < FExtentCount) {
      TakeFromExtent(static_cast<int32_t>(k), Count, Uniform, Pages);
      j = static_cast<int32_t>(k);
    }
    if ((Uniform && FFreeExtentCount > 0) ||
        (!Uniform && (FMixedExtentCount > 0 || FFreeExtentCount > 0))) {
      j = 0;
      Scan(j, Count, Uniform, Pages);
    }
    if (Pages.ItemCount() < Count) {
      const int32_t missing = Count - Pages.ItemCount();
      // A container holds at most 2^31 - 1 pages: refuse before extending maps.
      if (int64_t{FPageFile.Header.PageCount} + missing + 3 * int64_t{e} > INT32_MAX) {
        ok = false;
      } else {
        const int32_t added = AddExtents(missing, Uniform);
        if (added == 0)
          throw Exception("TFreeSpaceManager.GetPages - AddExtents does not append any extents.");
        const int64_t growBy = int64_t{e} * added;
        ok = growBy <= INT32_MAX && FPageFile.AddPages(static_cast<int32_t>(growBy));
        if (ok) {
          grown = true;
          Scan(j, Count, Uniform, Pages);
          if (Pages.ItemCount() < Count)
            throw Exception("TFreeSpaceManager.GetPages - AddExtents appends too small pages.");
        }
      }
    }
    if (ok) {
      int32_t m = 0;
      for (int32_t p : Pages.Items()) m = std::max(m, p);
      if (m > FPageFile.Header.PageCount - 1) {
        ok = FPageFile.AddPages(m - FPageFile.Header.PageCount + 1);
        grown = grown || ok;
      }
    }
    if (ok) {
      SaveGAM(gamDirty);
      SavePFS(pfsDirty);
    }
  } catch (...) {
    // Before the store grew, memory goes back to what the disk holds. After
    // it grew, the header on disk already counts the new extents, so memory
    // keeps them too.
    if (!grown) {
      Restore(before);
      Pages.Clear();
    }
    FLogging = false;
    FUndo.clear();
    FPFSDirty = FGAMDirty = nullptr;
    throw;
  }
  if (!ok) {
    Restore(before);
    Pages.Clear();
  }
  FLogging = false;
  FUndo.clear();
  FPFSDirty = FGAMDirty = nullptr;
  return ok;
}

int32_t TFreeSpaceManager::AddExtents(int32_t Needed, bool Uniform) {
  TIntegerArray scratchPFS(FPFSPageMap.ItemCount(), 1, 10);
  TIntegerArray scratchGAM(FGAMPageMap.ItemCount(), 1, 10);
  TIntegerArray* pfsDirty = FPFSDirty ? FPFSDirty : &scratchPFS;
  TIntegerArray* gamDirty = FGAMDirty ? FGAMDirty : &scratchGAM;
  TSFSFileHeader& h = FPageFile.Header;
  const int32_t e = FGeometry.ExtentPageCount;
  const int64_t x = FExtentCount;
  int64_t n = 0;
  int64_t gained = 0;

  // Brings extent k into existence with all of its pages free.
  auto freshPages = [&](int64_t k) {
    for (int64_t i = k * e; i < (k + 1) * e; ++i) {
      if (!PFSBit(i)) {
        SetBit(FPFS, i, true);
        Mark(*pfsDirty, k / FGeometry.ExtentsPerPFSPage);
      }
    }
  };
  auto setExtent = [&](int64_t k, bool gam, bool sgam) {
    if (GAMBit(k) != gam || SGAMBit(k) != sgam) {
      SetBit(FGAM, k, gam);
      SetBit(FSGAM, k, sgam);
      Mark(*gamDirty, k / FGeometry.ExtentsPerGAMPage);
    }
  };

  while (gained < Needed) {
    const int64_t next = x + n;
    const bool needPFS = next >= int64_t{FGeometry.ExtentsPerPFSPage} * h.PFSPageCount;
    const bool needGAM = next >= int64_t{FGeometry.ExtentsPerGAMPage} * h.GAMPageCount;
    if (!needPFS && !needGAM) {
      freshPages(next);
      setExtent(next, true, false);
      ++FFreeExtentCount;
      gained += e;
      ++n;
      continue;
    }
    const int64_t first = next * e;  // map index of the extent's first page
    ++h.PFSPageCount;
    FPFS.resize(FPFS.size() + static_cast<size_t>(FGeometry.PFSBytes), 0xFF);
    FPFSPageMap.Add(static_cast<int32_t>(first + h.FirstPageNo));
    pfsDirty->Add(1);
    int32_t f = 1;
    if (needGAM) {
      ++h.GAMPageCount;
      FGAM.resize(FGAM.size() + static_cast<size_t>(FGeometry.GAMBytes), 0xFF);
      FSGAM.resize(FSGAM.size() + static_cast<size_t>(FGeometry.GAMBytes), 0x00);
      FGAMPageMap.Add(static_cast<int32_t>(first + 1 + h.FirstPageNo));
      gamDirty->Add(1);
      f = 3;
    }
    const int32_t g = (f + e - 1) / e;
    for (int32_t t = 0; t < g; ++t) freshPages(next + t);
    for (int32_t i = 0; i < f; ++i) SetBit(FPFS, first + i, false);
    for (int32_t t = 0; t + 1 < g; ++t) setExtent(next + t, false, false);
    if (f % e != 0) {
      setExtent(next + g - 1, false, true);
      ++FMixedExtentCount;
      if (!Uniform) gained += e - f % e;
    } else {
      setExtent(next + g - 1, false, false);
    }
    n += g;
  }
  FExtentCount = static_cast<int32_t>(x + n);
  return static_cast<int32_t>(n);
}

int32_t TFreeSpaceManager::HighestPageInUse() const {
  const int64_t first = FPageFile.Header.FirstPageNo;
  int64_t limit = std::min<int64_t>(FPageFile.Header.PageCount - first,
                                    int64_t{FExtentCount} * FGeometry.ExtentPageCount);
  limit = std::min<int64_t>(limit, static_cast<int64_t>(FPFS.size()) * 8);
  for (int64_t n = limit - 1; n >= 0; --n) {
    if (n % 8 == 7 && FPFS[static_cast<size_t>(n / 8)] == 0xFF) {
      n -= 7;
      continue;
    }
    if (!PFSBit(n)) return static_cast<int32_t>(n + first);
  }
  return 0;
}

void TFreeSpaceManager::FreePages(TIntegerArray& Pages) {
  Pages.Sort(false);
  const int32_t e = FGeometry.ExtentPageCount;
  const int64_t first = FPageFile.Header.FirstPageNo;
  int64_t limit = std::min<int64_t>(FPageFile.Header.PageCount - first, int64_t{FExtentCount} * e);
  limit = std::min<int64_t>(limit, static_cast<int64_t>(FPFS.size()) * 8);
  const int32_t a = HighestPageInUse();
  int64_t t = a;

  TIntegerArray pfsDirty(FPFSPageMap.ItemCount(), 1, 10);
  TIntegerArray gamDirty(FGAMPageMap.ItemCount(), 1, 10);
  for (int32_t& f : pfsDirty.Items()) f = 0;
  for (int32_t& f : gamDirty.Items()) f = 0;
  std::vector<int32_t> touched;
  bool any = false;
  for (int32_t p : Pages.Items()) {
    const int64_t n = p - first;
    // Only managed pages that are in use are given back: never a map page,
    // a page outside the extents or one that is already free.
    if (n < 0 || n >= limit || FGeometry.IsMapPage(p) || PFSBit(n)) continue;
    if (p >= t) t = int64_t{p} - 1;
    SetBit(FPFS, n, true);
    const int32_t k = static_cast<int32_t>(n / e);
    Mark(pfsDirty, k / FGeometry.ExtentsPerPFSPage);
    if (touched.empty() || touched.back() != k) touched.push_back(k);
    any = true;
  }
  if (!any) return;
  for (int32_t k : touched) {
    bool allFree = true;
    for (int64_t n = int64_t{k} * e; n < int64_t{k} * e + e && allFree; ++n) allFree = PFSBit(n);
    if (!allFree) continue;
    if (SGAMBit(k) && FMixedExtentCount > 0) --FMixedExtentCount;
    if (!GAMBit(k)) ++FFreeExtentCount;
    SetBit(FGAM, k, true);
    SetBit(FSGAM, k, false);
    Mark(gamDirty, k / FGeometry.ExtentsPerGAMPage);
  }
  SaveGAM(gamDirty);
  SavePFS(pfsDirty);
  if (t < a) {
    // Cut the freed run at the top off the store; PageCount stays, and the
    // pages past the new end are free and come back when written.
    const int64_t newSize = (t + 1) * FPageFile.Header.PageSize;
    try {
      if (FPageFile.HugeFile().GetSize() > newSize) FPageFile.HugeFile().SetSize(newSize);
    } catch (const std::exception&) {
      // A store that cannot be shortened keeps its free pages.
    }
  }
}

}  // namespace zk
