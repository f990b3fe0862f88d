// TUserFilePageMapManager keeps the page maps of the files in a container:
// for each file a chain of map pages (PageType 5, never enciphered) listing
// its data pages in file order, starting at the file's FirstMapPageNo. It
// reads and caches the maps, appends data pages and the map pages they need,
// drops pages from the end of a file, sets a file's page count from a byte
// size and turns a byte range into the data pages that hold it.
//
// It owns the cached lists: two caches keyed by FirstMapPageNo, one of map
// page lists and one of data page lists. A cache is emptied only when an
// entry is about to be added while it holds more than 100 files, so the lists
// of the file being worked on are never dropped under it. The page file and
// the free-space manager are not owned.
//
// Growth is all or nothing: when a page cannot be allocated or a map page or
// an empty data page cannot be written, every page taken is given back, the
// cached lists and the map on disk describe the file as before, and the
// result is false (LastError -17 for no space, else the page file's code).
#pragma once

#include <cstdint>
#include <memory>

#include "container/engine/DIRManager.h"
#include "container/engine/IntegerArray.h"
#include "container/engine/SortedPtrArray.h"

namespace zk {

class TPageFileManager;
class TFreeSpaceManager;

// Integer lists under integer keys, owned by the cache.
class TPageListCache {
 public:
  TPageListCache() = default;
  ~TPageListCache() { Clear(); }
  TPageListCache(const TPageListCache&) = delete;
  TPageListCache& operator=(const TPageListCache&) = delete;

  int32_t Count() const { return FIndex.ItemCount(); }
  TIntegerArray* Find(int32_t Key) const { return FIndex.Find(Key); }
  // Stores List under Key (replacing any list there) and returns it.
  TIntegerArray* Insert(int32_t Key, std::unique_ptr<TIntegerArray> List);
  void Remove(int32_t Key);
  void Clear();

 private:
  TSortedPtrArray<TIntegerArray> FIndex{0, 10, 25};
};

class TUserFilePageMapManager {
 public:
  // A cache that holds more than this many files is emptied before it takes
  // another one.
  static constexpr int32_t MaxCachedFiles = 100;

  TUserFilePageMapManager(TPageFileManager& PageFile, TFreeSpaceManager& FreeSpace);
  TUserFilePageMapManager(const TUserFilePageMapManager&) = delete;
  TUserFilePageMapManager& operator=(const TUserFilePageMapManager&) = delete;

  // ceil(Size / PageDataSize); 0 for Size <= 0; at most 2147483647.
  int32_t PageCountForSize(int64_t Size) const;
  int32_t EntriesPerMapPage() const { return FEntriesPerMapPage; }

  // The file's map page list and data page list (owned by the caches, valid
  // until the next call that changes the caches), loaded from its map when
  // not cached. Raises the GetMaps messages on a bad or unreadable map.
  void GetMaps(const TDIRItem& FileRec, TIntegerArray*& MapPages, TIntegerArray*& DataPages);
  // Adds Count data pages at the end of the file (and the map pages they
  // need); FileRec.FirstMapPageNo is set for a new map. SaveNow writes every
  // new data page once as an empty page.
  bool AppendPages(TDIRItem& FileRec, int32_t Count, bool SaveNow);
  // Drops the last Count data pages (and the map pages no longer needed);
  // a file left without pages loses its map (FirstMapPageNo -1). False when
  // the new last map page cannot be written (nothing is freed then).
  bool DeletePagesFromEOF(TDIRItem& FileRec, int32_t Count);
  // Writes map pages FirstIndex .. FirstIndex + Count - 1 from the lists.
  bool SaveMaps(int32_t FirstIndex, int32_t Count, const TIntegerArray& DataPages,
                const TIntegerArray& MapPages);
  // Makes the file's page count fit NewSize (FileRec.Size is the caller's).
  bool SetFileSize(TDIRItem& FileRec, bool SaveNow, int64_t NewSize);
  // The data pages that hold bytes Position .. Position + Count - 1, growing
  // the file first when Grow is set and the range ends past its size.
  bool GetDataPages(TDIRItem& FileRec, bool Grow, TIntegerArray& Pages, int64_t Count,
                    int64_t Position);

  // Files whose lists are cached (for tests and diagnostics).
  int32_t CachedFileCount() const { return FMapCache.Count(); }

  int32_t LastError = 0;

 private:
  int64_t PageCountForSize64(int64_t Size) const;
  void AddToCaches(int32_t Key, std::unique_ptr<TIntegerArray> Maps,
                   std::unique_ptr<TIntegerArray> Data);
  void DropFromCaches(int32_t Key);
  bool WriteEmptyDataPage(int32_t PageNo);
  // Gives pages back to the free-space manager, ignoring none.
  void GiveBack(const TIntegerArray& A, const TIntegerArray& B);

  TPageFileManager& FPageFile;
  TFreeSpaceManager& FFreeSpace;
  int32_t FEntriesPerMapPage;
  TPageListCache FMapCache;
  TPageListCache FDataCache;
  TIntegerArray FNewPages{0, 10, 100};
};

}  // namespace zk
