// TFreeSpaceManager decides which pages of a container are in use. It keeps
// three bitmaps in memory, each stored in map pages of its own type:
//   PFS  - one bit per page, 1 = the page is free;
//   GAM  - one bit per extent, 1 = the whole extent is free;
//   SGAM - one bit per extent, 1 = the extent is mixed and still has free pages.
// It hands out pages (GetPages), grows the container by whole extents when
// nothing is free (AddExtents), takes pages back (FreePages) and cuts a free
// tail off the store. It owns the bitmaps and the lists of map page numbers;
// the page file is not owned.
//
// Every GetPages is all or nothing: when the container cannot grow, the
// bitmaps, counts, page lists, ExtentCount and the header counts are put back
// as they were before the call, and nothing is written.
#pragma once

#include <cstdint>
#include <vector>

#include "container/engine/IntegerArray.h"
#include "container/engine/MapGeometry.h"

namespace zk {

class TPageFileManager;

class TFreeSpaceManager {
 public:
  // Works out the geometry, checks that the map pages cover the extents and
  // loads them. Raises the geometry or load messages.
  explicit TFreeSpaceManager(TPageFileManager& PageFile);
  TFreeSpaceManager(const TFreeSpaceManager&) = delete;
  TFreeSpaceManager& operator=(const TFreeSpaceManager&) = delete;

  void LoadPFS();
  void LoadGAM();
  // Write the map pages whose flag in Dirty is 1 (one flag per PFS page, or
  // per GAM page); raise on a count mismatch or a failed write.
  void SavePFS(const TIntegerArray& Dirty);
  void SaveGAM(const TIntegerArray& Dirty);

  // Fills Pages with Count newly allocated page numbers, in the order taken.
  // NearPageNo's extent is tried first; Uniform takes pages from whole free
  // extents only. False when the container cannot grow (nothing changed).
  bool GetPages(int32_t Count, int32_t NearPageNo, bool Uniform, TIntegerArray& Pages);
  // Adds extents at the end until they offer Needed pages; returns how many
  // were added. Part of GetPages (the growth is undone when AddPages fails).
  int32_t AddExtents(int32_t Needed, bool Uniform);
  // Marks the pages free (sorting Pages descending) and cuts a free run at the
  // top of the store. Pages that are not managed data pages (below
  // FirstPageNo, map pages, beyond the extents) or already free are skipped.
  void FreePages(TIntegerArray& Pages);

  // Whether page P is free in the PFS map (false for pages the maps do not
  // cover).
  bool PageIsFree(int32_t P) const;

  const TMapGeometry& Geometry() const { return FGeometry; }
  int32_t PFSBytes() const { return FGeometry.PFSBytes; }
  int32_t ExtentsPerPFSPage() const { return FGeometry.ExtentsPerPFSPage; }
  int32_t GAMBytes() const { return FGeometry.GAMBytes; }
  int32_t ExtentsPerGAMPage() const { return FGeometry.ExtentsPerGAMPage; }
  int32_t ExtentCount() const { return FExtentCount; }
  int32_t FreeExtentCount() const { return FFreeExtentCount; }
  int32_t MixedExtentCount() const { return FMixedExtentCount; }
  const TIntegerArray& PFSPageMap() const { return FPFSPageMap; }
  const TIntegerArray& GAMPageMap() const { return FGAMPageMap; }
  // Bits of extent k (GAM, SGAM) and of map index n (PFS).
  bool GAMBit(int32_t k) const { return GetBit(FGAM, k); }
  bool SGAMBit(int32_t k) const { return GetBit(FSGAM, k); }
  bool PFSBit(int64_t n) const { return GetBit(FPFS, n); }

 private:
  // One bitmap byte as it was before the running GetPages changed it.
  struct TUndo {
    std::vector<uint8_t>* Map;
    size_t Byte;
    uint8_t Old;
  };
  // What a failed GetPages restores.
  struct TSnapshot {
    size_t PFSSize, GAMSize, SGAMSize;
    int32_t PFSPages, GAMPages, PFSPageCount, GAMPageCount;
    int32_t ExtentCount, FreeExtentCount, MixedExtentCount;
  };

  bool GetBit(const std::vector<uint8_t>& Map, int64_t n) const;
  void SetBit(std::vector<uint8_t>& Map, int64_t n, bool Value);
  void TakeFromExtent(int32_t k, int32_t Count, bool Uniform, TIntegerArray& Pages);
  void Scan(int32_t& j, int32_t Count, bool Uniform, TIntegerArray& Pages);
  TSnapshot Snap() const;
  void Restore(const TSnapshot& S);
  void Mark(TIntegerArray& Dirty, int64_t Index);
  // The highest managed page still in use, or 0.
  int32_t HighestPageInUse() const;

  TPageFileManager& FPageFile;
  TMapGeometry FGeometry;
  std::vector<uint8_t> FPFS, FGAM, FSGAM;
  TIntegerArray FPFSPageMap{0, 10, 100};
  TIntegerArray FGAMPageMap{0, 10, 100};
  int32_t FExtentCount = 0;
  int32_t FFreeExtentCount = 0;
  int32_t FMixedExtentCount = 0;

  // State of the running GetPages.
  bool FLogging = false;
  std::vector<TUndo> FUndo;
  size_t FLogSize[3] = {0, 0, 0};  // PFS, GAM and SGAM bytes when the call began
  TIntegerArray* FPFSDirty = nullptr;
  TIntegerArray* FGAMDirty = nullptr;
};

}  // namespace zk
