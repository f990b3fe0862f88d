#include "container/engine/DIRManager.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "container/crypto/PasswordBlock.h"
#include "container/engine/FreeSpaceManager.h"
#include "container/engine/PageFileManager.h"
#include "container/engine/SFSStrFunc.h"
#include "platform/os/Clock.h"
#include "platform/rtl/Exception.h"

namespace zk {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsRootPath(const AnsiString& Path) {
  return Path == "\\" || Path == "/";
}

// Index of the last character's first byte (GBK stepping); npos when empty.
size_t LastCharStart(const AnsiString& Text) {
  size_t last = AnsiString::npos;
  for (size_t i = 0; i < Text.size(); i = CharNext(Text, i)) last = i;
  return last;
}

// A single trailing separator is not part of a new item's name.
AnsiString StripTrailingSeparator(const AnsiString& Path) {
  if (Path.size() < 2) return Path;
  const size_t last = LastCharStart(Path);
  if (last == Path.size() - 1 && IsSeparator(Path[last])) return Path.substr(0, last);
  return Path;
}

bool ContainsSeparator(const AnsiString& Text) {
  for (size_t i = 0; i < Text.size(); i = CharNext(Text, i))
    if (IsSeparator(Text[i])) return true;
  return false;
}

// The name as records hold it: at most 259 bytes, never ending inside a
// double-byte character.
AnsiString CutName(std::string_view Name) {
  if (Name.size() <= static_cast<size_t>(MaxDIRNameLength)) return AnsiString(Name);
  size_t end = 0;
  for (size_t i = 0; i < Name.size();) {
    const size_t next = CharNext(Name, i);
    if (next > static_cast<size_t>(MaxDIRNameLength)) break;
    end = next;
    i = next;
  }
  return AnsiString(Name.substr(0, end));
}

bool FoldEqual(unsigned char a, unsigned char b, bool IgnoreCase) {
  if (a == b) return true;
  if (!IgnoreCase) return false;
  auto lower = [](unsigned char c) -> unsigned char {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
  };
  const bool letterA = (a >= 'A' && a <= 'Z') || (a >= 'a' && a <= 'z');
  const bool letterB = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
  return letterA && letterB && lower(a) == lower(b);
}

}  // namespace

// ---------------------------------------------------------------------------
// Records, names and times

TDIRItem EmptyDIRItem() {
  TDIRItem item;
  std::memset(&item, 0, sizeof(item));
  return item;
}

void SetItemName(TDIRItem& Item, const AnsiString& Name) {
  std::memset(Item.FileName, 0, sizeof(Item.FileName));
  const AnsiString cut = CutName(Name);
  std::memcpy(Item.FileName, cut.data(), cut.size());
}

AnsiString ItemName(const TDIRItem& Item) {
  return AnsiString(Item.FileName, strnlen(Item.FileName, MaxDIRNameLength));
}

int64_t DIRNow() {
  os::IClock& clock = os::Clock();
  const int64_t local = clock.UtcToLocalFileTime(clock.UtcNowFileTime());
  os::TSystemTime st = os::FileTimeToSystemTime(local);
  st.Second = static_cast<uint16_t>(st.Second & ~1u);
  st.Milliseconds = 0;
  return clock.LocalToUtcFileTime(os::SystemTimeToFileTime(st));
}

int32_t FileTimeToLocalDosDateTime(int64_t UtcFileTime) {
  // A DOS date holds 1980 to 2107; a time outside (with a day's margin for
  // the time zone) is not converted at all, whatever a record holds.
  static const int64_t earliest = os::SystemTimeToFileTime(os::TSystemTime{1979, 12, 0, 30});
  static const int64_t latest = os::SystemTimeToFileTime(os::TSystemTime{2108, 1, 0, 2});
  if (UtcFileTime < earliest || UtcFileTime > latest) return 0;
  const os::TSystemTime st = os::FileTimeToSystemTime(os::Clock().UtcToLocalFileTime(UtcFileTime));
  if (st.Year < 1980 || st.Year > 2107) return 0;
  const uint32_t date = (static_cast<uint32_t>(st.Year - 1980) << 9) |
                        (static_cast<uint32_t>(st.Month) << 5) | st.Day;
  const uint32_t time = (static_cast<uint32_t>(st.Hour) << 11) |
                        (static_cast<uint32_t>(st.Minute) << 5) | (st.Second / 2u);
  return static_cast<int32_t>((date << 16) | time);
}

// ---------------------------------------------------------------------------
// Path helpers

bool SplitPath(const AnsiString& Path, AnsiString& Folder, AnsiString& Name) {
  const size_t last = LastCharStart(Path);
  if (last == AnsiString::npos) return false;
  size_t sep = AnsiString::npos;
  for (size_t i = 0; i < last; i = CharNext(Path, i))
    if (IsSeparator(Path[i])) sep = i;
  if (sep == AnsiString::npos) return false;
  Folder = sep == 0 ? AnsiString("\\") : Path.substr(0, sep);
  Name = Path.substr(sep + 1);
  if (last == Path.size() - 1 && IsSeparator(Path[last])) Name.pop_back();
  return true;
}

bool MatchesMask(const AnsiString& Name, const AnsiString& Mask, bool IgnoreCase) {
  if (Mask == "*.*") return true;
  // Character starts of both texts, each list ending with the text's length.
  std::vector<size_t> nb, mb;
  for (size_t i = 0; i < Name.size(); i = CharNext(Name, i)) nb.push_back(i);
  nb.push_back(Name.size());
  for (size_t j = 0; j < Mask.size(); j = CharNext(Mask, j)) mb.push_back(j);
  mb.push_back(Mask.size());
  const size_t n = nb.size() - 1;  // characters of the name
  const size_t m = mb.size() - 1;  // characters of the mask
  // f[i][j]: the name from character i matches the mask from character j.
  // Worked out from the ends, so no recursion and no repeated work.
  std::vector<uint8_t> f((n + 1) * (m + 1), 0);
  std::vector<uint8_t> columnOr(m + 1, 0);  // OR of f[s][j] over s > i, s < n
  auto at = [&](size_t i, size_t j) -> uint8_t& { return f[i * (m + 1) + j]; };
  for (size_t i = n + 1; i-- > 0;) {
    for (size_t j = m + 1; j-- > 0;) {
      bool v;
      if (j < m && Mask.compare(mb[j], AnsiString::npos, "*") == 0) {
        v = true;
      } else if (i == n) {
        v = j == m;
      } else if (j == m) {
        v = false;
      } else {
        const char c = Mask[mb[j]];
        const size_t mlen = mb[j + 1] - mb[j];
        if (c == '*' && mlen == 1) {
          // Every non-empty rest of the name, from here on.
          v = at(i, j + 1) || columnOr[j + 1];
        } else if (c == '?' && mlen == 1) {
          v = at(i + 1, j + 1);
        } else {
          const size_t nlen = nb[i + 1] - nb[i];
          v = nlen == mlen;
          for (size_t k = 0; v && k < nlen; ++k)
            v = FoldEqual(static_cast<unsigned char>(Name[nb[i] + k]),
                          static_cast<unsigned char>(Mask[mb[j] + k]), IgnoreCase && nlen == 1);
          v = v && at(i + 1, j + 1);
        }
      }
      at(i, j) = v ? 1 : 0;
    }
    if (i < n)
      for (size_t j = 0; j <= m; ++j) columnOr[j] = static_cast<uint8_t>(columnOr[j] | at(i, j));
  }
  return at(0, 0) != 0;
}

// ---------------------------------------------------------------------------
// TDIRArray

TDIRArray::TDIRArray() : FNameIndex(0, 10, 1 << 20), FParentIndex(0, 10, 1 << 20) {}

const TDIRItem& TDIRArray::Record(int32_t ItemNo) const {
  if (ItemNo < 0 || ItemNo >= ItemCount())
    throw Exception("TDIRArray.ReadItem - invalid itemNo = " + IntToStr(ItemNo));
  return FRecords[static_cast<size_t>(ItemNo)];
}

void TDIRArray::SetSize(int32_t N) {
  if (N == 0) {
    FRecords.clear();
    FRecords.shrink_to_fit();
    FNameIndex.Clear();
    FParentIndex.Clear();
    FDeleted.clear();
    FSearches.clear();
    return;
  }
  if (N < ItemCount())
    throw Exception("TDIRArray.SetSize - newSize < itemCount error.  newSize = " + IntToStr(N) +
                    " itemCount = " + IntToStr(ItemCount()));
  FRecords.reserve(static_cast<size_t>(N));
  while (ItemCount() < N) Add(EmptyDIRItem());
}

int TDIRArray::CompareKey(const TDIRItem& A, int32_t ItemA, int32_t ItemB, bool ByName) const {
  const TDIRItem& b = FRecords[static_cast<size_t>(ItemB)];
  if (ByName) {
    const int c = CompareNames(A.FileName, b.FileName);
    if (c != 0) return c;
  }
  if (A.ParentID != b.ParentID) return A.ParentID < b.ParentID ? -1 : 1;
  return ItemA < ItemB ? -1 : (ItemA > ItemB ? 1 : 0);
}

int32_t TDIRArray::FindPosition(const TDIRItem& Key, bool ByName, bool FirstMatch, bool ForInsert,
                                int32_t ItemNo) const {
  (void)FirstMatch;  // the search below always finds the first of a run
  const TIntegerArray& index = ByName ? FNameIndex : FParentIndex;
  const std::span<const int32_t> items = index.Items();
  // Lower bound: the first entry not below the key. A lookup compares the
  // name (or the parent) alone; an insertion the whole key.
  int32_t lo = 0, hi = static_cast<int32_t>(items.size());
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int32_t entry = items[static_cast<size_t>(mid)];
    int c;
    if (ForInsert) {
      c = CompareKey(Key, ItemNo, entry, ByName);
    } else if (ByName) {
      c = CompareNames(Key.FileName, FRecords[static_cast<size_t>(entry)].FileName);
    } else {
      const int32_t p = FRecords[static_cast<size_t>(entry)].ParentID;
      c = Key.ParentID < p ? -1 : (Key.ParentID > p ? 1 : 0);
    }
    if (c > 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (ForInsert) return lo;
  if (lo >= static_cast<int32_t>(items.size())) return -1;
  const TDIRItem& found = FRecords[static_cast<size_t>(items[static_cast<size_t>(lo)])];
  const bool equal =
      ByName ? CompareNames(Key.FileName, found.FileName) == 0 : Key.ParentID == found.ParentID;
  return equal ? lo : -1;
}

int32_t TDIRArray::FindChild(int32_t Parent, const char* Name) const {
  TDIRItem key = EmptyDIRItem();
  SetItemName(key, Name);
  key.ParentID = Parent;
  // First entry of (name, parent): the item number INT32_MIN sorts before all.
  const int32_t pos = FindPosition(key, true, true, true, INT32_MIN);
  if (pos >= FNameIndex.ItemCount()) return -1;
  const int32_t item = FNameIndex[pos];
  const TDIRItem& r = FRecords[static_cast<size_t>(item)];
  return (r.ParentID == Parent && CompareNames(key.FileName, r.FileName) == 0) ? item : -1;
}

bool TDIRArray::HasChildren(int32_t ItemNo) const {
  TDIRItem key = EmptyDIRItem();
  key.ParentID = ItemNo;
  return FindPosition(key, false, true, false) >= 0;
}

void TDIRArray::IndexInsert(int32_t ItemNo) {
  const TDIRItem& r = FRecords[static_cast<size_t>(ItemNo)];
  FNameIndex.Insert(FindPosition(r, true, false, true, ItemNo), ItemNo);
  FParentIndex.Insert(FindPosition(r, false, false, true, ItemNo), ItemNo);
}

void TDIRArray::IndexRemove(int32_t ItemNo) {
  const TDIRItem& old = FRecords[static_cast<size_t>(ItemNo)];
  const int32_t namePos = FindPosition(old, true, false, true, ItemNo);
  if (namePos >= FNameIndex.ItemCount() || FNameIndex[namePos] != ItemNo)
    throw Exception(
        "TDIRArray.UpdateItem - old name position not found. Position = " + IntToStr(ItemNo) +
        ", ItemCount = " + IntToStr(ItemCount()) + ", FileName = " + QuoteText(ItemName(old)));
  const int32_t parentPos = FindPosition(old, false, false, true, ItemNo);
  if (parentPos >= FParentIndex.ItemCount() || FParentIndex[parentPos] != ItemNo)
    throw Exception(
        "TDIRArray.UpdateItem - old parentID position not found. Position = " + IntToStr(ItemNo) +
        ", ItemCount = " + IntToStr(ItemCount()) + ", ParentID = " + IntToStr(old.ParentID));
  FNameIndex.Delete(namePos);
  FParentIndex.Delete(parentPos);
}

void TDIRArray::Add(const TDIRItem& Item) {
  FRecords.push_back(Item);
  TDIRItem& r = FRecords.back();
  r.FileName[MaxDIRNameLength] = 0;  // a name is read up to byte 259 only
  const int32_t n = ItemCount() - 1;
  if (r.Deleted)
    FDeleted.insert(n);
  else
    IndexInsert(n);
}

void TDIRArray::DeleteLast() {
  if (FRecords.empty()) return;
  const int32_t n = ItemCount() - 1;
  if (FRecords.back().Deleted)
    FDeleted.erase(n);
  else
    IndexRemove(n);
  FRecords.pop_back();
}

void TDIRArray::ReadItem(int32_t ItemNo, TDIRItem& Item) const {
  if (ItemNo < 0 || ItemNo >= ItemCount())
    throw Exception("TDIRArray.ReadItem - invalid itemNo = " + IntToStr(ItemNo));
  Item = FRecords[static_cast<size_t>(ItemNo)];
}

void TDIRArray::UpdateItem(const TDIRItem& Item, int32_t ItemNo) {
  if (ItemNo < 0 || ItemNo >= ItemCount())
    throw Exception("TDIRArray.UpdateItem - invalid itemNo = " + IntToStr(ItemNo));
  TDIRItem& slot = FRecords[static_cast<size_t>(ItemNo)];
  const bool wasDeleted = slot.Deleted != 0;
  const bool sameKey = !wasDeleted && !Item.Deleted && slot.ParentID == Item.ParentID &&
                       std::memcmp(slot.FileName, Item.FileName, MaxDIRNameLength) == 0;
  if (!wasDeleted && !sameKey) IndexRemove(ItemNo);
  slot = Item;
  slot.FileName[MaxDIRNameLength] = 0;
  if (slot.Deleted) {
    FDeleted.insert(ItemNo);
  } else {
    FDeleted.erase(ItemNo);
    if (!sameKey) IndexInsert(ItemNo);
  }
}

int32_t TDIRArray::FirstReusableSlot() const {
  for (int32_t slot : FDeleted)
    if (!HasChildren(slot)) return slot;
  return -1;
}

int32_t TDIRArray::FindPath(const AnsiString& Path, int32_t StartDir) const {
  if (Path.empty() || StartDir < -1 || StartDir >= ItemCount()) return -2;
  if (IsRootPath(Path)) return -1;
  int32_t d = StartDir;
  size_t pos = 0;
  while (pos < Path.size()) {
    size_t end = pos;
    while (end < Path.size() && !IsSeparator(Path[end])) end = CharNext(Path, end);
    const std::string_view segment(Path.data() + pos, end - pos);
    if (segment.empty()) {
      if (pos != 0) return -2;
      d = -1;
    } else if (segment == "..") {
      // The parent; the root's parent is the root, and a record that names
      // itself as its folder lies in the root.
      if (d >= 0) {
        const int32_t p = FRecords[static_cast<size_t>(d)].ParentID;
        d = p == d ? -1 : p;
      }
      if (d < -1 || d >= ItemCount()) return -3;
    } else {
      TDIRItem key = EmptyDIRItem();
      SetItemName(key, AnsiString(segment));
      if (FindPosition(key, true, true, false) < 0) return -2;
      const int32_t child = FindChild(d, key.FileName);
      if (child < 0) return -3;
      d = child;
    }
    pos = end + 1;
  }
  return d;
}

AnsiString TDIRArray::GetPath(int32_t ItemNo) const {
  if (ItemNo < 0 || ItemNo >= ItemCount()) return "\\";
  std::vector<int32_t> chain;
  int32_t n = ItemNo;
  // At most ItemCount steps, whatever the parent links say.
  while (n >= 0 && n < ItemCount() && static_cast<int32_t>(chain.size()) < ItemCount()) {
    chain.push_back(n);
    const int32_t p = FRecords[static_cast<size_t>(n)].ParentID;
    if (p == n) break;
    n = p;
  }
  AnsiString path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += '\\';
    path += ItemName(FRecords[static_cast<size_t>(*it)]);
  }
  return path;
}

void TDIRArray::FillSearchRec(TSFSSearchRec& SearchRec, int32_t ItemNo) const {
  const TDIRItem& r = FRecords[static_cast<size_t>(ItemNo)];
  SearchRec.Attr = r.Attributes;
  SearchRec.Name = ItemName(r);
  SearchRec.Size = r.Size;
  SearchRec.CreationTime = r.CreationTime;
  SearchRec.LastWriteTime = r.LastWriteTime;
  SearchRec.LastAccessTime = r.LastAccessTime;
  SearchRec.Time = FileTimeToLocalDosDateTime(r.LastWriteTime);
}

int32_t TDIRArray::FindFirst(const AnsiString& Path, uint32_t Attr, int32_t StartDir,
                             TSFSSearchRec& SearchRec) {
  size_t slot = 0;
  while (slot < FSearches.size() && FSearches[slot]) ++slot;
  if (slot == FSearches.size()) FSearches.emplace_back();
  FSearches[slot] = std::make_unique<TSearch>();
  TSearch& search = *FSearches[slot];
  SearchRec.FindHandle = static_cast<int32_t>(slot);
  SearchRec.ExcludeAttr = (Attr & 0x1E) ^ 0x1E;

  AnsiString folder, mask;
  int32_t start = StartDir;
  if (SplitPath(Path, folder, mask)) {
    start = FindPath(folder, StartDir);
  } else {
    mask = Path;
    if (!Path.empty() && IsSeparator(Path[0])) start = -1;
  }
  if (start < -1) return dirFindInvalidPath;
  TDIRItem key = EmptyDIRItem();
  key.ParentID = start;
  const int32_t first = FindPosition(key, false, true, false);
  if (first >= 0) {
    for (int32_t i = first; i < FParentIndex.ItemCount(); ++i) {
      const int32_t item = FParentIndex[i];
      const TDIRItem& r = FRecords[static_cast<size_t>(item)];
      if (r.ParentID != start) break;
      if ((r.Attributes & SearchRec.ExcludeAttr) == 0 && MatchesMask(ItemName(r), mask, true))
        search.Items.Add(item);
    }
  }
  if (search.Items.ItemCount() == 0) return dirFindNoneFound;
  FillSearchRec(SearchRec, search.Items[0]);
  search.Next = 1;
  return dirFindFound;
}

int32_t TDIRArray::FindNext(TSFSSearchRec& SearchRec) {
  const int32_t slot = SearchRec.FindHandle;
  if (slot < 0 || static_cast<size_t>(slot) >= FSearches.size() || !FSearches[slot])
    return dirFindNoneFound;
  TSearch& search = *FSearches[static_cast<size_t>(slot)];
  while (search.Next < search.Items.ItemCount()) {
    const int32_t item = search.Items[search.Next++];
    if (item >= 0 && item < ItemCount() && !FRecords[static_cast<size_t>(item)].Deleted) {
      FillSearchRec(SearchRec, item);
      return dirFindFound;
    }
  }
  return dirFindNoneFound;
}

void TDIRArray::FindClose(TSFSSearchRec& SearchRec) {
  const int32_t slot = SearchRec.FindHandle;
  if (slot >= 0 && static_cast<size_t>(slot) < FSearches.size())
    FSearches[static_cast<size_t>(slot)].reset();
  SearchRec.FindHandle = -1;
}

// ---------------------------------------------------------------------------
// TDIRManager

TDIRManager::TDIRManager(TPageFileManager& PageFile, TFreeSpaceManager& FreeSpace)
    : FPageFile(PageFile), FFreeSpace(FreeSpace) {
  FItemsPerPage = FPageFile.PageDataSize() / DIRItemSize;
  Load();
}

void TDIRManager::Load() {
  const TSFSFileHeader& h = FPageFile.Header;
  FDIRPages.Clear();
  FItems.SetSize(0);
  FOpenCounts.Clear();
  const int32_t pageCount = h.DIRPageCount;
  const int64_t itemCount =
      std::min<int64_t>(h.DIRItemCount, int64_t{std::max(pageCount, 0)} * FItemsPerPage);
  const int32_t transfer = FItemsPerPage * DIRItemSize;
  std::vector<uint8_t> buffer(static_cast<size_t>(transfer));
  TPageBuffer page;
  std::unordered_set<int32_t> seen;
  int32_t p = h.FirstDIRPageNo;
  int64_t loaded = 0;
  for (int32_t i = 0; i < pageCount; ++i) {
    // A page number from disk is followed only to a directory page that can
    // exist: inside the container, not a map page, not met before.
    if (p < 1 || p >= h.PageCount || FFreeSpace.Geometry().IsMapPage(p) || !seen.insert(p).second)
      throw Exception("TDIRManager.Load - can not load page, pageNo = " + IntToStr(p));
    page.Data = buffer.data();
    if (!FPageFile.ReadPage(page, p, transfer))
      throw Exception("TDIRManager.Load - can not load page, pageNo = " + IntToStr(p));
    FDIRPages.Add(p);
    for (int32_t r = 0; r < FItemsPerPage && loaded < itemCount; ++r, ++loaded) {
      TDIRItem item;
      std::memcpy(&item, buffer.data() + static_cast<size_t>(r) * DIRItemSize, DIRItemSize);
      FItems.Add(item);
      FOpenCounts.Add(0);
    }
    p = page.NextPageNo;
  }
}

bool TDIRManager::WriteDIRPage(int32_t Index, TPageBuffer& Page) {
  // WritePage enciphers in place: the records go out from a scratch copy.
  const int32_t transfer = FItemsPerPage * DIRItemSize;
  std::vector<uint8_t> scratch(static_cast<size_t>(transfer), 0);
  const int32_t first = Index * FItemsPerPage;
  const int32_t last = std::min(first + FItemsPerPage, FItems.ItemCount());
  for (int32_t n = first; n < last; ++n)
    std::memcpy(scratch.data() + static_cast<size_t>(n - first) * DIRItemSize, &FItems.Record(n),
                DIRItemSize);
  Page.Data = scratch.data();
  const bool ok = FPageFile.WritePage(Page, FDIRPages[Index], transfer);
  Page.Data = nullptr;
  return ok;
}

bool TDIRManager::AddItem(const TDIRItem& Item, int32_t* ItemNo) {
  const int32_t reuse = FItems.FirstReusableSlot();
  if (reuse >= 0) {
    WriteItem(reuse, Item);
    if (ItemNo) *ItemNo = reuse;
    return true;
  }
  if (FItemsPerPage <= 0)
    throw Exception("TDIRManager.AddItem - page size too small for a directory record.");
  TSFSFileHeader& h = FPageFile.Header;
  TPageBuffer page;
  bool newPage = false;
  uint8_t encryption = h.EncryptionType;
  const int32_t oldFirstDIRPageNo = h.FirstDIRPageNo;
  TIntegerArray got(0, 1, 10);
  if (int64_t{h.DIRPageCount} * FItemsPerPage <= h.DIRItemCount) {
    const bool hasLast = FDIRPages.ItemCount() > 0;
    const int32_t last = hasLast ? FDIRPages[FDIRPages.ItemCount() - 1] : -1;
    const int32_t near = hasLast ? last : int32_t{h.FirstPageNo};
    if (!FFreeSpace.GetPages(1, near, h.DIRPageCount > 8, got)) {
      LastError = peNoSpace;
      return false;
    }
    const int32_t p = got[0];
    if (hasLast) {
      TPageBuffer lastPage;
      if (!FPageFile.ReadPage(lastPage, last, 0)) {
        FFreeSpace.FreePages(got);
        throw Exception("TDIRManager.AddItem - can not load last page, pageNo = " + IntToStr(last));
      }
      encryption = lastPage.EncryptionType;
      lastPage.NextPageNo = p;
      if (!FPageFile.WritePage(lastPage, last, 0)) {
        FFreeSpace.FreePages(got);
        throw Exception("TDIRManager.AddItem - can not save last page, pageNo = " + IntToStr(last));
      }
    } else {
      h.FirstDIRPageNo = p;
    }
    FDIRPages.Add(p);
    ++h.DIRPageCount;
    newPage = true;
  }
  ++h.DIRItemCount;
  FItems.Add(Item);
  FOpenCounts.Add(0);
  const int32_t index = FDIRPages.ItemCount() - 1;
  const int32_t p = FDIRPages[index];
  // A record whose page could not be written is taken away again, with the
  // page it would have opened: otherwise a later header save would count a
  // record (and a page) that the disk does not hold. The last page's
  // NextPageNo may already name the new page; nothing reads it there.
  auto undo = [&]() {
    FItems.DeleteLast();
    FOpenCounts.SetCount(FOpenCounts.ItemCount() - 1);
    --h.DIRItemCount;
    if (newPage) {
      FDIRPages.SetCount(FDIRPages.ItemCount() - 1);
      --h.DIRPageCount;
      h.FirstDIRPageNo = oldFirstDIRPageNo;
      FFreeSpace.FreePages(got);
    }
  };
  try {
    if (!newPage) {
      if (!FPageFile.ReadPage(page, p, 0))
        throw Exception("TDIRManager.AddItem - can not load  page, pageNo = " + IntToStr(p));
    } else {
      page.NextPageNo = -1;
      page.PageType = ptDirectory;
      page.CheckKind = 0;
      page.EncryptionType = encryption;
    }
    if (!WriteDIRPage(index, page))
      throw Exception("TDIRManager.AddItem - can not save page, pageNo = " + IntToStr(p));
  } catch (...) {
    undo();
    throw;
  }
  FPageFile.SaveHeader();
  if (ItemNo) *ItemNo = FItems.ItemCount() - 1;
  return true;
}

void TDIRManager::WriteItem(int32_t ItemNo, const TDIRItem& Item) {
  const bool valid = ItemNo >= 0 && ItemNo < FItems.ItemCount();
  const TDIRItem old = valid ? FItems.Record(ItemNo) : EmptyDIRItem();
  FItems.UpdateItem(Item, ItemNo);  // raises for a bad number
  const int32_t oldOpenCount = FOpenCounts[ItemNo];
  if (Item.Deleted) FOpenCounts[ItemNo] = 0;
  // A record whose page could not be written keeps its old form in memory,
  // so memory never runs ahead of the disk.
  try {
    const int32_t index = ItemNo / FItemsPerPage;
    if (index >= FDIRPages.ItemCount())
      throw Exception("TDIRManager.WriteItem - can not load  page, pageNo = -1");
    const int32_t p = FDIRPages[index];
    TPageBuffer page;
    if (!FPageFile.ReadPage(page, p, 0))
      throw Exception("TDIRManager.WriteItem - can not load  page, pageNo = " + IntToStr(p));
    if (!WriteDIRPage(index, page))
      throw Exception("TDIRManager.WriteItem - can not save page, pageNo = " + IntToStr(p));
  } catch (...) {
    FItems.UpdateItem(old, ItemNo);
    FOpenCounts[ItemNo] = oldOpenCount;
    throw;
  }
}

bool TDIRManager::ParentAndName(const AnsiString& Path, int32_t& Parent, AnsiString& Name) const {
  AnsiString folder;
  if (SplitPath(Path, folder, Name)) {
    Parent = FItems.FindPath(folder, FCurrentDir);
  } else {
    Parent = FCurrentDir;
    Name = Path;
  }
  if (Parent < -1) return false;
  if (Parent >= 0) {
    // A new item goes only into a live folder.
    const TDIRItem& folderItem = FItems.Record(Parent);
    if (!folderItem.IsDirectory || folderItem.Deleted) return false;
  }
  Name = CutName(Name);
  return !Name.empty() && Name != "." && Name != ".." && !ContainsSeparator(Name);
}

bool TDIRManager::CreateDir(const AnsiString& Path_) {
  LastError = 0;
  const AnsiString path = StripTrailingSeparator(Path_);
  if (path.empty() || IsRootPath(path) || DirectoryExists(path)) return false;
  int32_t parent;
  AnsiString name;
  if (!ParentAndName(path, parent, name)) return false;
  // No path may name two items: a file of that name blocks the folder too.
  if (FItems.FindChild(parent, name.c_str()) >= 0) return false;
  TDIRItem item = EmptyDIRItem();
  item.FirstMapPageNo = -1;
  item.CreationTime = item.LastWriteTime = item.LastAccessTime = DIRNow();
  item.Attributes = faDirectory;
  item.IsDirectory = 1;
  item.ParentID = parent;
  SetItemName(item, name);
  return AddItem(item);
}

int32_t TDIRManager::CreateFileItem(const AnsiString& Path_, const AnsiString& Password,
                                    const AnsiString& Question, const AnsiString& Answer) {
  LastError = 0;
  const AnsiString path = StripTrailingSeparator(Path_);
  if (path.empty() || IsRootPath(path)) return -1;
  int32_t parent;
  AnsiString name;
  if (!ParentAndName(path, parent, name)) return -1;
  if (FItems.FindChild(parent, name.c_str()) >= 0) return -1;
  TDIRItem item = EmptyDIRItem();
  item.FirstMapPageNo = -1;
  item.Size = 0;
  item.CreationTime = item.LastWriteTime = item.LastAccessTime = DIRNow();
  item.Attributes = 0;
  item.IsDirectory = 0;
  item.ParentID = parent;
  SetItemName(item, name);
  if (!Password.empty()) {
    item.EncryptionType = etRijndael;
    BuildPasswordBlock(item.PasswordBlock, Password, Question, Answer);
  }
  int32_t n = -1;
  return AddItem(item, &n) ? n : -1;
}

int32_t TDIRManager::OpenFileItem(const AnsiString& Path, const AnsiString& Password,
                                  AnsiString& FileKey) {
  const int32_t n = FindItem(Path);
  if (n < 0) return -1;
  TDIRItem item;
  FItems.ReadItem(n, item);
  if (item.IsDirectory) return -1;
  ++FOpenCounts[n];
  FileKey.clear();
  if (item.EncryptionType != 0) OpenPasswordBlock(item.PasswordBlock, Password, FileKey);
  if (!FPageFile.ReadOnly) {
    item.LastAccessTime = DIRNow();
    WriteItem(n, item);
  }
  return n;
}

void TDIRManager::CloseFileItem(int32_t ItemNo) {
  if (ItemNo >= 0 && ItemNo < FOpenCounts.ItemCount() && FOpenCounts[ItemNo] > 0)
    --FOpenCounts[ItemNo];
}

int32_t TDIRManager::OpenCount(int32_t ItemNo) const {
  if (ItemNo < 0 || ItemNo >= FOpenCounts.ItemCount()) return -1;
  return FOpenCounts[ItemNo];
}

bool TDIRManager::CheckFilePassword(const AnsiString& Path, const AnsiString& Password) const {
  const int32_t n = FindItem(Path);
  if (n < 0) return false;
  const TDIRItem& item = FItems.Record(n);
  if (item.EncryptionType == 0) return true;
  AnsiString key;
  return OpenPasswordBlock(item.PasswordBlock, Password, key);
}

bool TDIRManager::ChangeDir(const AnsiString& Path) {
  if (Path.empty()) return false;
  const int32_t n = FItems.FindPath(Path, FCurrentDir);
  if (n < -1) return false;
  FCurrentDir = n;
  FCurrentPath = FItems.GetPath(n);
  return true;
}

bool TDIRManager::DirectoryExists(const AnsiString& Path) {
  if (IsRootPath(Path) || Path == ".") return true;
  const int32_t start = (!Path.empty() && IsSeparator(Path[0])) ? -1 : FCurrentDir;
  TSFSSearchRec search;
  const bool found = FItems.FindFirst(Path, faDirectory, start, search) == dirFindFound &&
                     (search.Attr & faDirectory) != 0;
  FItems.FindClose(search);
  return found;
}

bool TDIRManager::ForceDirectories(const AnsiString& Path) {
  if (Path.empty()) return false;
  // The chain of folders to make, found from the full path upwards while a
  // folder part does not exist yet; then made from the top down. Each level
  // but the last raises when it cannot be made.
  struct TLevel {
    AnsiString Folder, Name;
  };
  std::vector<TLevel> levels;
  AnsiString current = StripTrailingSeparator(Path);
  bool topIsSingleName = false;
  for (;;) {
    TLevel level;
    if (!SplitPath(current, level.Folder, level.Name)) {
      topIsSingleName = true;
      break;
    }
    const bool folderExists = DirectoryExists(level.Folder);
    levels.push_back(level);
    if (folderExists) break;
    current = StripTrailingSeparator(levels.back().Folder);
  }
  if (topIsSingleName) {
    const bool ok = DirectoryExists(current) || CreateDir(current);
    if (levels.empty()) return ok;
    if (!ok) throw Exception("TDIRManager.ForceDirectories - ForceDirectories error!");
  }
  for (size_t i = levels.size(); i-- > 0;) {
    const AnsiString joined = levels[i].Folder + "\\" + levels[i].Name;
    const bool ok = DirectoryExists(joined) || CreateDir(joined);
    if (i == 0) return ok;
    if (!ok) throw Exception("TDIRManager.ForceDirectories - ForceDirectories error!");
  }
  return true;
}

// ---------------------------------------------------------------------------
// Renaming and moving

bool TDIRManager::MoveItem(int32_t ItemNo, int32_t NewParent, const AnsiString& NewName) {
  LastError = 0;
  auto refuse = [this](int32_t Code) {
    LastError = Code;
    return false;
  };
  const int32_t count = FItems.ItemCount();
  if (ItemNo < 0 || ItemNo >= count || FItems.Record(ItemNo).Deleted) return refuse(dirMoveInvalid);
  if (NewParent < -1 || NewParent >= count) return refuse(dirMoveInvalid);
  if (NewParent >= 0) {
    const TDIRItem& folder = FItems.Record(NewParent);
    if (!folder.IsDirectory || folder.Deleted) return refuse(dirMoveInvalid);
  }
  if (NewName.empty() || NewName.size() > static_cast<size_t>(MaxDIRNameLength) || NewName == "." ||
      NewName == ".." || ContainsSeparator(NewName) || NewName.find('\0') != AnsiString::npos)
    return refuse(dirMoveInvalid);
  const int32_t taken = FItems.FindChild(NewParent, NewName.c_str());
  if (taken >= 0 && taken != ItemNo) return refuse(dirMoveTargetExists);
  if (FItems.Record(ItemNo).IsDirectory) {
    // The new folder may not be the item or lie below it. A walk up the
    // parents ends at the root within ItemCount steps unless the records
    // hold a loop, which counts as lying below.
    int32_t p = NewParent;
    for (int32_t steps = 0; p != -1; ++steps) {
      if (p == ItemNo || steps > count || p < -1 || p >= count) return refuse(dirMoveIntoItself);
      const int32_t up = FItems.Record(p).ParentID;
      if (up == p) break;  // a record naming itself counts as lying in the root
      p = up;
    }
  }
  const TDIRItem old = FItems.Record(ItemNo);
  TDIRItem item = old;
  SetItemName(item, NewName);
  item.ParentID = NewParent;
  try {
    WriteItem(ItemNo, item);
  } catch (...) {
    FItems.UpdateItem(old, ItemNo);  // the page keeps the old record
    throw;
  }
  FCurrentPath = FItems.GetPath(FCurrentDir);
  return true;
}

}  // namespace zk
