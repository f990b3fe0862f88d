// The geometry of the free-space maps, worked out from the page size and the
// pages per extent: how many bits a PFS page and a GAM/SGAM page carry and how
// many extents each describes. The page file checks it when it creates or
// opens a container, and the free-space manager lays its map pages out by it.
#pragma once

#include <cstdint>

namespace zk {

// Page sizes above this are refused: a page is read into one buffer.
inline constexpr int32_t MaxPageSize = 16 * 1024 * 1024;

struct TMapGeometry {
  int32_t PageDataSize = 0;       // D = PageSize - 32
  int32_t BitsPerPage = 0;        // B = D * 8
  int32_t ExtentPageCount = 0;    // E
  int32_t PFSBytes = 0;           // (B - B mod E) div 8
  int32_t ExtentsPerPFSPage = 0;  // (PFSBytes * 8) div E
  int32_t GAMBytes = 0;           // (B - B mod ExtentsPerPFSPage) div 8
  int32_t ExtentsPerGAMPage = 0;  // GAMBytes * 8

  // Works the values out. False when the layout does not hold: a page size
  // outside 33..MaxPageSize, E outside 1..B, a PFS page that describes no
  // whole extent, or a GAM page whose extents are not a whole number of PFS
  // pages' worth (the GAM/SGAM pair must sit right behind a PFS page).
  static bool Compute(int32_t PageSize, int32_t ExtentPageCount, TMapGeometry& Geometry) {
    if (PageSize <= 32 || PageSize > MaxPageSize || ExtentPageCount < 1) return false;
    TMapGeometry g;
    g.PageDataSize = PageSize - 32;
    g.BitsPerPage = g.PageDataSize * 8;
    if (ExtentPageCount > g.BitsPerPage) return false;
    g.ExtentPageCount = ExtentPageCount;
    const int32_t b = g.BitsPerPage;
    g.PFSBytes = (b - b % ExtentPageCount) / 8;
    g.ExtentsPerPFSPage = (g.PFSBytes * 8) / ExtentPageCount;
    if (g.ExtentsPerPFSPage < 1) return false;
    g.GAMBytes = (b - b % g.ExtentsPerPFSPage) / 8;
    g.ExtentsPerGAMPage = g.GAMBytes * 8;
    if (g.ExtentsPerGAMPage < 1 || g.ExtentsPerGAMPage % g.ExtentsPerPFSPage != 0) return false;
    Geometry = g;
    return true;
  }

  // Pages from the first PFS page of one group to the first of the next.
  int64_t PagesPerPFSPage() const { return int64_t{ExtentsPerPFSPage} * ExtentPageCount; }
  int64_t PagesPerGAMPage() const { return int64_t{ExtentsPerGAMPage} * ExtentPageCount; }
  // Page number of PFS page i and of GAM page j (its SGAM page follows it).
  int64_t PFSPagePos(int64_t i) const { return 1 + i * PagesPerPFSPage(); }
  int64_t GAMPagePos(int64_t j) const { return 2 + j * PagesPerGAMPage(); }
  // True when P is the place of a PFS, GAM or SGAM page (map pages are placed
  // at these positions whether or not the container has grown that far).
  bool IsMapPage(int64_t P) const {
    if (P < 1) return false;
    const int64_t a = (P - 1) % PagesPerPFSPage();
    if (a == 0) return true;
    const int64_t g = (P - 2) % PagesPerGAMPage();
    return P >= 2 && (g == 0 || g == 1);
  }
};

}  // namespace zk
