// The directory of a container: one 512-byte TDIRItem for every folder and
// file, stored in a chain of directory pages.
//
// TDIRArray holds every record in memory with two indexes over the live
// (not deleted) ones: NameIndex, ordered by CompareNames of FileName and then
// by ParentID (then item number), and ParentIndex, ordered by ParentID (then
// item number). It resolves paths (FindPath), builds them back (GetPath) and
// runs the wildcard search behind DirectoryExists (FindFirst). It owns the
// records, the indexes and the search lists.
//
// TDIRManager loads the records when a container opens, writes every change
// through to its page at once, adds pages as the directory grows, reuses the
// slots of deleted records, and offers the folder and file operations the
// container object builds on. The page file and the free-space manager are
// not owned.
//
// Paths: `\` and `/` are separators (a GBK trail byte is never taken for
// one); a leading separator starts at the root (item -1), any other path at
// the current folder; ".." is the parent (at the root it stays at the root).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "container/engine/FileHeader.h"
#include "container/engine/IntegerArray.h"
#include "platform/rtl/AnsiString.h"

namespace zk {

class TPageFileManager;
class TFreeSpaceManager;

inline constexpr int32_t DIRItemSize = 512;
inline constexpr int32_t MaxDIRNameLength = 259;
inline constexpr uint32_t faDirectory = 16;

// LastError codes of TDIRManager::MoveItem.
inline constexpr int32_t dirMoveTargetExists = -20;  // another item has the new name there
inline constexpr int32_t dirMoveIntoItself = -21;    // a folder would move into itself
inline constexpr int32_t dirMoveInvalid = -22;       // bad item, folder or name

#pragma pack(push, 1)
struct TDIRItem {
  int32_t FirstMapPageNo;  // first page of the file's page map; -1 = none
  int64_t Size;            // file size in bytes; 0 for folders
  int64_t CreationTime;    // UTC file times (100 ns since 1601)
  int64_t LastWriteTime;
  int64_t LastAccessTime;
  uint32_t Attributes;  // 16 for folders
  int32_t ParentID;     // item number of the folder holding it; -1 = root
  uint8_t Reserved1[4];
  TPasswordBlock PasswordBlock;  // the file's own; zero without one
  uint8_t IsDirectory;
  uint8_t Deleted;
  uint8_t EncryptionType;  // 1 = the file has a password of its own
  uint8_t Reserved2;
  char FileName[MaxDIRNameLength + 1];  // zero-terminated, without a path
  uint8_t Reserved3[28];
};
#pragma pack(pop)

static_assert(sizeof(TDIRItem) == DIRItemSize);
static_assert(offsetof(TDIRItem, FirstMapPageNo) == 0);
static_assert(offsetof(TDIRItem, Size) == 4);
static_assert(offsetof(TDIRItem, CreationTime) == 12);
static_assert(offsetof(TDIRItem, LastWriteTime) == 20);
static_assert(offsetof(TDIRItem, LastAccessTime) == 28);
static_assert(offsetof(TDIRItem, Attributes) == 36);
static_assert(offsetof(TDIRItem, ParentID) == 40);
static_assert(offsetof(TDIRItem, Reserved1) == 44);
static_assert(offsetof(TDIRItem, PasswordBlock) == 48);
static_assert(offsetof(TDIRItem, IsDirectory) == 220);
static_assert(offsetof(TDIRItem, Deleted) == 221);
static_assert(offsetof(TDIRItem, EncryptionType) == 222);
static_assert(offsetof(TDIRItem, Reserved2) == 223);
static_assert(offsetof(TDIRItem, FileName) == 224);
static_assert(offsetof(TDIRItem, Reserved3) == 484);

// A zero-filled record.
TDIRItem EmptyDIRItem();
// Stores Name in Item.FileName, cut to 259 bytes (never inside a double-byte
// character).
void SetItemName(TDIRItem& Item, const AnsiString& Name);
AnsiString ItemName(const TDIRItem& Item);

// The current time as the directory stamps it: local time reduced to the
// 2-second precision of a DOS date and time, then converted to UTC.
int64_t DIRNow();
// A UTC file time as a local DOS date and time (date in the high word); 0
// for a time a DOS date cannot hold.
int32_t FileTimeToLocalDosDateTime(int64_t UtcFileTime);

// Results of FindFirst.
inline constexpr int32_t dirFindFound = 0;
inline constexpr int32_t dirFindNoneFound = 2;
inline constexpr int32_t dirFindInvalidPath = 3;

struct TSFSSearchRec {
  int32_t Time = 0;  // last write time, local DOS date and time
  int64_t Size = 0;
  uint32_t Attr = 0;
  AnsiString Name;
  uint32_t ExcludeAttr = 0;
  int32_t FindHandle = -1;  // the search slot
  int64_t CreationTime = 0;
  int64_t LastWriteTime = 0;
  int64_t LastAccessTime = 0;
};

// The wildcard match of FindFirst: "*.*" matches everything, "*" any run of
// characters, "?" one character; with IgnoreCase single-byte ASCII letters
// fold (nothing else does).
bool MatchesMask(const AnsiString& Name, const AnsiString& Mask, bool IgnoreCase);

// Splits a path at its last separator that is not its final character:
// a\b\c -> a\b and c; \c -> \ and c; a\b\ -> a and b; c does not split.
bool SplitPath(const AnsiString& Path, AnsiString& Folder, AnsiString& Name);

class TDIRArray {
 public:
  TDIRArray();
  TDIRArray(const TDIRArray&) = delete;
  TDIRArray& operator=(const TDIRArray&) = delete;

  int32_t ItemCount() const { return static_cast<int32_t>(FRecords.size()); }
  int32_t IndexedCount() const { return FNameIndex.ItemCount(); }
  const TIntegerArray& NameIndex() const { return FNameIndex; }
  const TIntegerArray& ParentIndex() const { return FParentIndex; }
  // The record itself (no copy); ItemNo must be valid.
  const TDIRItem& Record(int32_t ItemNo) const;

  // 0 clears everything; otherwise ItemCount becomes N (zero records are
  // added). A smaller N raises.
  void SetSize(int32_t N);
  // Appends a record (indexed unless Deleted). Its name is cut at byte 259.
  void Add(const TDIRItem& Item);
  void ReadItem(int32_t ItemNo, TDIRItem& Item) const;
  // Replaces a record and keeps both indexes right.
  void UpdateItem(const TDIRItem& Item, int32_t ItemNo);
  // Takes the last record away again (an add whose page could not be
  // written); nothing happens when there is none.
  void DeleteLast();

  // Binary search of NameIndex (ByName) or ParentIndex. Lookup: the position
  // of an entry whose name (or parent) equals Key's, the first of the run
  // with FirstMatch, or -1. ForInsert: the position that keeps the order for
  // Key as item ItemNo (0..IndexedCount).
  int32_t FindPosition(const TDIRItem& Key, bool ByName, bool FirstMatch, bool ForInsert,
                       int32_t ItemNo = INT32_MAX) const;
  // The live item named Name (cut to 259 bytes) in folder Parent, or -1.
  int32_t FindChild(int32_t Parent, const char* Name) const;
  // True when some live item names Item as its folder.
  bool HasChildren(int32_t ItemNo) const;

  // >= 0 an item, -1 the root, -2 invalid or a name found nowhere, -3 a name
  // not in its folder (or ".." of an impossible item).
  int32_t FindPath(const AnsiString& Path, int32_t StartDir) const;
  // Absolute path of an item; "\" for -1 and numbers outside the records.
  AnsiString GetPath(int32_t ItemNo) const;

  int32_t FindFirst(const AnsiString& Path, uint32_t Attr, int32_t StartDir,
                    TSFSSearchRec& SearchRec);
  // The next match of the search, 0, or dirFindNoneFound at its end.
  int32_t FindNext(TSFSSearchRec& SearchRec);
  void FindClose(TSFSSearchRec& SearchRec);

  // The lowest deleted slot that no live record names as its folder (the
  // slot AddItem reuses), or -1.
  int32_t FirstReusableSlot() const;

 private:
  int CompareKey(const TDIRItem& A, int32_t ItemA, int32_t ItemB, bool ByName) const;
  void IndexInsert(int32_t ItemNo);
  void IndexRemove(int32_t ItemNo);
  void FillSearchRec(TSFSSearchRec& SearchRec, int32_t ItemNo) const;

  std::vector<TDIRItem> FRecords;
  TIntegerArray FNameIndex;
  TIntegerArray FParentIndex;
  std::set<int32_t> FDeleted;  // deleted slots, ascending
  struct TSearch {
    TIntegerArray Items;
    int32_t Next = 0;
  };
  std::vector<std::unique_ptr<TSearch>> FSearches;
};

class TDIRManager {
 public:
  // Sets up the state and loads every record.
  TDIRManager(TPageFileManager& PageFile, TFreeSpaceManager& FreeSpace);
  TDIRManager(const TDIRManager&) = delete;
  TDIRManager& operator=(const TDIRManager&) = delete;

  // Reads the chain of directory pages and the first DIRItemCount records.
  void Load();
  // Stores a new record, in the lowest reusable deleted slot or at the end
  // (adding a page when all are taken). False with LastError -17 when no page
  // could be allocated. ItemNo receives the record's number.
  bool AddItem(const TDIRItem& Item, int32_t* ItemNo = nullptr);
  void ReadItem(int32_t ItemNo, TDIRItem& Item) const { FItems.ReadItem(ItemNo, Item); }
  // Replaces a record and rewrites its page (the file header is not saved).
  void WriteItem(int32_t ItemNo, const TDIRItem& Item);
  int32_t FindItem(const AnsiString& Path) const { return FItems.FindPath(Path, FCurrentDir); }
  AnsiString GetItemPath(int32_t ItemNo) const { return FItems.GetPath(ItemNo); }

  // The new file record's number, or -1 (bad path, a parent that is not a
  // folder, an item already at that path, or no space: LastError -17).
  int32_t CreateFileItem(const AnsiString& Path, const AnsiString& Password,
                         const AnsiString& Question, const AnsiString& Answer);
  // The file's number (its open count raised, FileKey set for a file with its
  // own password), or -1 for a missing item or a folder.
  int32_t OpenFileItem(const AnsiString& Path, const AnsiString& Password, AnsiString& FileKey);
  void CloseFileItem(int32_t ItemNo);
  int32_t OpenCount(int32_t ItemNo) const;
  bool CheckFilePassword(const AnsiString& Path, const AnsiString& Password) const;

  const AnsiString& GetCurrentDir() const { return FCurrentPath; }
  int32_t CurrentDir() const { return FCurrentDir; }
  bool ChangeDir(const AnsiString& Path);
  bool CreateDir(const AnsiString& Path);
  // Makes every missing folder of the path, top down. Raises
  // "TDIRManager.ForceDirectories - ForceDirectories error!" when a folder
  // above the last one cannot be made.
  bool ForceDirectories(const AnsiString& Path);
  bool DirectoryExists(const AnsiString& Path);
  // Renames and moves item ItemNo: its record gets the name NewName and the
  // folder NewParent (-1: the root), both indexes follow, and its page is
  // written. False, with nothing changed, when another live item of that
  // name is in NewParent (LastError -20), when a folder would move into
  // itself or a folder below it (-21), or for a deleted or unknown item, a
  // NewParent that is no live folder, or a name that is empty, "." or "..",
  // longer than 259 bytes or holds a separator (-22). The path of the
  // current folder is built anew.
  bool MoveItem(int32_t ItemNo, int32_t NewParent, const AnsiString& NewName);

  TDIRArray& Items() { return FItems; }
  const TDIRArray& Items() const { return FItems; }
  const TIntegerArray& DIRPages() const { return FDIRPages; }
  int32_t ItemsPerPage() const { return FItemsPerPage; }
  int32_t LastError = 0;

 private:
  // Parent folder and name of a new item; false when the path cannot hold
  // one (after a trailing separator on a single name is stripped).
  bool ParentAndName(const AnsiString& Path, int32_t& Parent, AnsiString& Name) const;
  // Writes page Index of the directory from a scratch copy of its records.
  bool WriteDIRPage(int32_t Index, TPageBuffer& Page);

  TPageFileManager& FPageFile;
  TFreeSpaceManager& FFreeSpace;
  TIntegerArray FDIRPages{0, 10, 1 << 20};
  int32_t FItemsPerPage = 0;
  TDIRArray FItems;
  TIntegerArray FOpenCounts{0, 10, 1 << 20};
  int32_t FCurrentDir = -1;
  AnsiString FCurrentPath = "\\";
};

}  // namespace zk
