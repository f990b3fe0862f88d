#include "container/engine/UserFilePageMapManager.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "container/engine/FreeSpaceManager.h"
#include "container/engine/PageFileManager.h"
#include "platform/rtl/Exception.h"

namespace zk {

namespace {

constexpr const char* kInvalidChain =
    "TUserFilePageMapManager.GetMaps - Invalid page No in map chain.";

int64_t CeilDiv(int64_t a, int64_t b) {
  return a <= 0 ? 0 : a / b + (a % b != 0 ? 1 : 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// TPageListCache

TIntegerArray* TPageListCache::Insert(int32_t Key, std::unique_ptr<TIntegerArray> List) {
  Remove(Key);
  TIntegerArray* list = List.get();
  FIndex.Add(Key, list);
  List.release();  // the cache owns it now
  return list;
}

void TPageListCache::Remove(int32_t Key) {
  const int32_t at = FIndex.IndexOf(Key);
  if (at < 0) return;
  std::unique_ptr<TIntegerArray> owner(FIndex.Items(at));
  FIndex.DeleteAt(at);
}

void TPageListCache::Clear() {
  for (int32_t i = 0; i < FIndex.ItemCount(); ++i) {
    std::unique_ptr<TIntegerArray> owner(FIndex.Items(i));
    FIndex.SetItem(i, nullptr);
  }
  FIndex.Clear();
}

// ---------------------------------------------------------------------------
// TUserFilePageMapManager

TUserFilePageMapManager::TUserFilePageMapManager(TPageFileManager& PageFile,
                                                 TFreeSpaceManager& FreeSpace)
    : FPageFile(PageFile), FFreeSpace(FreeSpace), FEntriesPerMapPage(PageFile.PageDataSize() / 4) {}

int64_t TUserFilePageMapManager::PageCountForSize64(int64_t Size) const {
  return CeilDiv(Size, FPageFile.PageDataSize());
}

int32_t TUserFilePageMapManager::PageCountForSize(int64_t Size) const {
  return static_cast<int32_t>(std::min<int64_t>(PageCountForSize64(Size), INT32_MAX));
}

void TUserFilePageMapManager::AddToCaches(int32_t Key, std::unique_ptr<TIntegerArray> Maps,
                                          std::unique_ptr<TIntegerArray> Data) {
  // Emptied only now, when an entry is added: the lists handed out for the
  // file being worked on stay valid until the next call that adds one.
  if (FMapCache.Count() > MaxCachedFiles || FDataCache.Count() > MaxCachedFiles) {
    FMapCache.Clear();
    FDataCache.Clear();
  }
  FMapCache.Insert(Key, std::move(Maps));
  FDataCache.Insert(Key, std::move(Data));
}

void TUserFilePageMapManager::DropFromCaches(int32_t Key) {
  FMapCache.Remove(Key);
  FDataCache.Remove(Key);
}

void TUserFilePageMapManager::GetMaps(const TDIRItem& FileRec, TIntegerArray*& MapPages,
                                      TIntegerArray*& DataPages) {
  const int32_t key = FileRec.FirstMapPageNo;
  if (key == -1)
    throw Exception("TUserFilePageMapManager.GetMaps - Invalid parameter FileRec.FirstMapPageNo");
  TIntegerArray* maps = FMapCache.Find(key);
  if (!maps) {
    const int32_t pageCount = FPageFile.Header.PageCount;
    const TMapGeometry& geometry = FFreeSpace.Geometry();
    std::unordered_set<int32_t> seen;
    // A page number from disk is used only inside the container, never at a
    // free-space map's place, and never twice in one file's map.
    auto usable = [&](int32_t p) {
      return p >= 1 && p < pageCount && !geometry.IsMapPage(p) && seen.insert(p).second;
    };
    const int64_t n = PageCountForSize64(FileRec.Size);
    const int64_t m = CeilDiv(n, FEntriesPerMapPage);
    auto newMaps = std::make_unique<TIntegerArray>(0, 10, 1 << 16);
    auto newData = std::make_unique<TIntegerArray>(0, 10, 1 << 20);
    if (!usable(key)) throw Exception(kInvalidChain);
    if (m == 0) {
      newMaps->Add(key);
    } else {
      TPageBuffer page;
      FPageFile.AllocPageBuffer(page);
      int32_t p = key;
      for (int64_t i = 0; i < m; ++i) {
        if (i > 0 && !usable(p)) throw Exception(kInvalidChain);
        if (!FPageFile.ReadPage(page, p))
          throw Exception("TUserFilePageMapManager.GetMaps - Error on reading map page.");
        newMaps->Add(p);
        for (int32_t k = 0; k < FEntriesPerMapPage && newData->ItemCount() < n; ++k) {
          int32_t entry;
          std::memcpy(&entry, page.Data + static_cast<size_t>(k) * 4, 4);
          if (!usable(entry)) throw Exception(kInvalidChain);
          newData->Add(entry);
        }
        if (newData->ItemCount() < n && page.NextPageNo == -1) throw Exception(kInvalidChain);
        p = page.NextPageNo;
      }
    }
    AddToCaches(key, std::move(newMaps), std::move(newData));
    maps = FMapCache.Find(key);
  }
  TIntegerArray* data = FDataCache.Find(key);
  if (!maps) throw Exception("TUserFilePageMapManager.GetMaps - Cannot find UFPM page map");
  if (!data) throw Exception("TUserFilePageMapManager.GetMaps - Cannot find user file page map");
  if (maps->ItemCount() == 0 || (*maps)[0] != key)
    throw Exception("TUserFilePageMapManager.GetMaps - UFPMMap.Items[0] <> FirstMapPageNo");
  MapPages = maps;
  DataPages = data;
}

bool TUserFilePageMapManager::SaveMaps(int32_t FirstIndex, int32_t Count,
                                       const TIntegerArray& DataPages,
                                       const TIntegerArray& MapPages) {
  TPageBuffer page;
  FPageFile.AllocPageBuffer(page);
  page.PageType = ptFileMap;
  const int32_t maps = MapPages.ItemCount();
  for (int32_t i = std::max(FirstIndex, 0); i < FirstIndex + Count && i < maps; ++i) {
    page.NextPageNo = i + 1 < maps ? MapPages[i + 1] : -1;
    page.EncryptionType = etNone;
    page.CheckKind = 0;
    std::memset(page.Data, 0, page.Storage.size());
    const int64_t from = int64_t{i} * FEntriesPerMapPage;
    const int64_t to = std::min<int64_t>(from + FEntriesPerMapPage, DataPages.ItemCount());
    if (to > from)
      std::memcpy(page.Data, DataPages.Items().data() + from, static_cast<size_t>(to - from) * 4);
    if (!FPageFile.WritePage(page, MapPages[i])) {
      LastError = FPageFile.LastError;
      return false;
    }
  }
  return true;
}

bool TUserFilePageMapManager::WriteEmptyDataPage(int32_t PageNo) {
  TPageBuffer page;
  FPageFile.AllocPageBuffer(page);
  page.PageType = ptFileData;
  if (FPageFile.WritePage(page, PageNo)) return true;
  LastError = FPageFile.LastError;
  return false;
}

void TUserFilePageMapManager::GiveBack(const TIntegerArray& A, const TIntegerArray& B) {
  TIntegerArray pages(0, 10, 1 << 20);
  for (int32_t p : A.Items()) pages.Add(p);
  for (int32_t p : B.Items()) pages.Add(p);
  if (pages.ItemCount() > 0) FFreeSpace.FreePages(pages);
}

bool TUserFilePageMapManager::AppendPages(TDIRItem& FileRec, int32_t Count, bool SaveNow) {
  if (Count <= 0) throw Exception("TUserFilePageMapManager.AppendPages - PageCount <= 0.");
  const bool isNew = FileRec.FirstMapPageNo == -1;
  TIntegerArray newMaps(0, 10, 1 << 16);
  TIntegerArray newData(0, 10, 1 << 20);
  TIntegerArray* maps = nullptr;
  TIntegerArray* data = nullptr;
  int32_t oldMapCount = 0;
  int32_t oldDataCount = 0;

  if (isNew) {
    const int64_t mapCount = CeilDiv(Count, FEntriesPerMapPage);
    if (!FFreeSpace.GetPages(static_cast<int32_t>(mapCount), 1, false, newMaps)) {
      LastError = peNoSpace;
      return false;
    }
  } else {
    GetMaps(FileRec, maps, data);
    oldMapCount = maps->ItemCount();
    oldDataCount = data->ItemCount();
    const int64_t extra =
        CeilDiv(int64_t{oldDataCount} + Count, FEntriesPerMapPage) - int64_t{oldMapCount};
    if (extra > 0 && !FFreeSpace.GetPages(static_cast<int32_t>(extra), (*maps)[oldMapCount - 1] + 1,
                                          false, newMaps)) {
      LastError = peNoSpace;
      return false;
    }
  }

  const int32_t lastData = oldDataCount > 0 ? (*data)[oldDataCount - 1] : 0;
  const int32_t near = oldDataCount > 0 ? (lastData == INT32_MAX ? lastData : lastData + 1) : 1;
  const bool uniform = int64_t{FPageFile.Header.ExtentPageCount} < int64_t{oldDataCount} + Count;
  if (!FFreeSpace.GetPages(Count, near, uniform, newData)) {
    LastError = peNoSpace;
    TIntegerArray none;
    GiveBack(newMaps, none);
    return false;
  }

  int32_t firstWrite;
  int32_t writeCount;
  const int32_t key = isNew ? newMaps[0] : FileRec.FirstMapPageNo;
  if (isNew) {
    auto mapList = std::make_unique<TIntegerArray>(0, 10, 1 << 16);
    auto dataList = std::make_unique<TIntegerArray>(0, 10, 1 << 20);
    for (int32_t p : newMaps.Items()) mapList->Add(p);
    for (int32_t p : newData.Items()) dataList->Add(p);
    AddToCaches(key, std::move(mapList), std::move(dataList));
    maps = FMapCache.Find(key);
    data = FDataCache.Find(key);
    FileRec.FirstMapPageNo = key;
    firstWrite = 0;
    writeCount = maps->ItemCount();
  } else {
    for (int32_t p : newMaps.Items()) maps->Add(p);
    for (int32_t p : newData.Items()) data->Add(p);
    firstWrite = oldMapCount - 1;
    writeCount = newMaps.ItemCount() + 1;
  }

  // Puts lists, map and free-space maps back as they were before the call.
  auto rollBack = [&]() {
    if (isNew) {
      DropFromCaches(key);
      FileRec.FirstMapPageNo = -1;
    } else {
      maps->SetCount(oldMapCount);
      data->SetCount(oldDataCount);
      SaveMaps(oldMapCount - 1, 1, *data, *maps);
    }
    GiveBack(newMaps, newData);
  };

  if (!SaveMaps(firstWrite, writeCount, *data, *maps)) {
    const int32_t code = LastError;
    rollBack();
    LastError = code;
    return false;
  }
  if (SaveNow) {
    for (int32_t p : newData.Items()) {
      if (!WriteEmptyDataPage(p)) {
        const int32_t code = LastError;
        rollBack();
        LastError = code;
        return false;
      }
    }
  }
  return true;
}

bool TUserFilePageMapManager::DeletePagesFromEOF(TDIRItem& FileRec, int32_t Count) {
  if (FileRec.FirstMapPageNo == -1)
    throw Exception("TUserFilePageMapManager.DeletePagesFromEOF - File map not exists.");
  TIntegerArray* maps;
  TIntegerArray* data;
  GetMaps(FileRec, maps, data);
  const int32_t dataCount = data->ItemCount();
  Count = std::clamp(Count, 0, dataCount);
  const int32_t r = dataCount - Count;
  const int32_t k =
      static_cast<int32_t>(std::min<int64_t>(CeilDiv(r, FEntriesPerMapPage), maps->ItemCount()));

  TIntegerArray freed(0, 10, 1 << 20);
  std::vector<int32_t> tailMaps(maps->Items().begin() + k, maps->Items().end());
  std::vector<int32_t> tailData(data->Items().begin() + r, data->Items().end());
  for (int32_t p : tailMaps) freed.Add(p);
  for (int32_t p : tailData) freed.Add(p);

  if (k == 0) {
    DropFromCaches(FileRec.FirstMapPageNo);
    FileRec.FirstMapPageNo = -1;
  } else {
    maps->SetCount(k);
    data->SetCount(r);
    // The shortened map goes to disk before its pages are given back, so no
    // map on disk ever lists a free page.
    if (!SaveMaps(k - 1, 1, *data, *maps)) {
      for (int32_t p : tailMaps) maps->Add(p);
      for (int32_t p : tailData) data->Add(p);
      return false;
    }
  }
  if (freed.ItemCount() > 0) FFreeSpace.FreePages(freed);
  return true;
}

bool TUserFilePageMapManager::SetFileSize(TDIRItem& FileRec, bool SaveNow, int64_t NewSize) {
  if (NewSize < 0)
    throw Exception("TUserFilePageMapManager.SetFileSize - invalid size = " + IntToStr(NewSize));
  const int64_t c = PageCountForSize64(NewSize);
  if (c > INT32_MAX) {
    LastError = peNoSpace;
    return false;
  }
  if (FileRec.FirstMapPageNo == -1) {
    if (NewSize == 0) return true;
    return AppendPages(FileRec, static_cast<int32_t>(c), SaveNow);
  }
  TIntegerArray* maps;
  TIntegerArray* data;
  GetMaps(FileRec, maps, data);
  const int32_t have = data->ItemCount();
  // Size 0 always gives every page back, the map included, whatever Size
  // the record claims.
  if (NewSize == 0) return DeletePagesFromEOF(FileRec, have);
  if (NewSize == FileRec.Size) return true;
  if (NewSize < FileRec.Size) {
    if (have - c > 0) return DeletePagesFromEOF(FileRec, static_cast<int32_t>(have - c));
    return true;
  }
  if (c - have > 0) return AppendPages(FileRec, static_cast<int32_t>(c - have), SaveNow);
  return true;
}

bool TUserFilePageMapManager::GetDataPages(TDIRItem& FileRec, bool Grow, TIntegerArray& Pages,
                                           int64_t Count, int64_t Position) {
  Pages.Clear();
  // A range before the start of the file, or one whose end cannot be
  // counted, holds no pages.
  if (Position < 0 || Count < 0 || Position > INT64_MAX - Count) return true;
  const int64_t end = Position + Count;
  if (Grow && (end > FileRec.Size || FileRec.FirstMapPageNo == -1)) {
    if (!SetFileSize(FileRec, true, end)) return false;
  }
  Pages.Clear();
  if (FileRec.FirstMapPageNo == -1) return true;
  TIntegerArray* maps;
  TIntegerArray* data;
  GetMaps(FileRec, maps, data);
  if (Count == 0) return true;
  const int64_t d = FPageFile.PageDataSize();
  const int64_t first = Position / d;
  const int64_t last = std::min<int64_t>((end - 1) / d, int64_t{data->ItemCount()} - 1);
  for (int64_t i = first; i <= last; ++i) Pages.Add((*data)[static_cast<int32_t>(i)]);
  return true;
}

}  // namespace zk
