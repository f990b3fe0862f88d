// TSingleFileSystem: the container object through which everything above the
// engine uses a container. It opens or creates the container file through the
// page file manager, builds the free-space manager, the directory manager and
// the file page map manager on it, keeps the table of open file handles
// (TUserFileHandle records, numbered from 0 and never reused while the object
// lives) and offers the file and folder operations on container paths, the
// container and file passwords, the rebuild of a container into a new file
// (RepairFile, which also compacts and re-keys) and the password change.
//
// It owns the page file manager, the three managers and the handle records.
// TCsFileSystem and Tv9FileSystem derive from it and add nothing; the
// database component makes its containers as Tv9FileSystem.
//
// The unit functions CheckPassword, IsFileEncrypted and ChangeFilePassword
// work on a container file without an object; the built-in passwords are in
// BuiltInKeys.h.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "container/engine/SortedPtrArray.h"
#include "platform/rtl/AnsiString.h"

namespace zk {

class TPageFileManager;
class TFreeSpaceManager;
class TDIRManager;
class TUserFilePageMapManager;
struct TDIRItem;
struct TPageBuffer;
class TSingleFileSystem;

// Mode word of containers and files: 0xFFFF creates; (Mode and 3) = 0 is
// read only, 1 and 2 allow writing; bit 0x10 is exclusive.
inline constexpr uint16_t ModeCreate = 0xFFFF;
inline constexpr uint16_t ModeReadOnly = 0;
inline constexpr uint16_t ModeReadWrite = 2;
inline constexpr uint16_t ModeExclusive = 0x10;

// LastError codes and negative results of the container object.
inline constexpr int32_t sfsPasswordRefused = -1;   // OpenFile: refused and cancelled
inline constexpr int32_t sfsBadHandle = -6;         // SetFileSize: unknown or read-only handle
inline constexpr int32_t sfsNoPageBuffer = -14;     // RepairFile: no page buffer
inline constexpr int32_t sfsSwitchFailed = -15;     // RepairFile: the old file was put back
inline constexpr int32_t sfsFileInUse = -16;        // CreateFile/OpenFile: name of an open file
inline constexpr int32_t sfsNoSpace = -17;          // no page could be allocated
inline constexpr int32_t sfsRepairMapError = -18;   // RepairFile (repair mode): page lookup raised
inline constexpr int32_t sfsRepairReadError = -19;  // RepairFile (repair mode): page read raised
inline constexpr int32_t sfsTargetExists = -20;     // RenameItem: another item has the new path
inline constexpr int32_t sfsMoveIntoItself = -21;   // RenameItem: a folder would move into itself
inline constexpr int32_t sfsBadRename = -22;        // RenameItem: no item, the root, a bad new path

// The record of one open file inside a container.
struct TUserFileHandle {
  int32_t ItemNo = -1;   // directory item number of the file
  int64_t Position = 0;  // current byte position
  uint32_t Mode = 0;     // the mode word it was opened with; (Mode and 3) = 0 is read only
  AnsiString FileKey;    // key text of a file with its own password, else empty
};

// Events. Sender is the container object.
using TSFSProgressEvent =
    std::function<void(TSingleFileSystem& Sender, bool& Cancel, double Percent)>;
using TSFSNotifyEvent = std::function<void(TSingleFileSystem& Sender)>;
using TSFSPasswordEvent = std::function<void(TSingleFileSystem& Sender, const AnsiString& FileName,
                                             AnsiString& Password, bool& Cancel)>;

class TSingleFileSystem {
 public:
  // Selects the extended constructor (CreateEx) and the built-in-password
  // constructor (CreateBuiltIn).
  struct TCreateEx {};
  struct TCreateBuiltIn {};

  // Create: opens (or with Mode 0xFFFF creates) a container with the mode
  // Mode or 0x10, page size 4096, 8 pages per extent and the default part
  // size. A new container gets Compression as its default method. An
  // encrypted container whose password block refuses Password raises
  // "TSingleFileSystem.Create - invalid password specified, file name = "
  // with the quoted file name.
  TSingleFileSystem(const AnsiString& FileName, uint16_t Mode, const AnsiString& Password = {},
                    const AnsiString& Question = {}, const AnsiString& Answer = {},
                    uint8_t Compression = 0);
  // CreateEx: every setting given; Mode is used as it is (no exclusive bit
  // added), except that an in-memory 0xFFFF over an existing file opens it
  // for reading and writing. Unless creating, the password is tested first.
  TSingleFileSystem(TCreateEx, const AnsiString& FileName, uint16_t Mode, bool InMemory,
                    const AnsiString& Password, const AnsiString& Question,
                    const AnsiString& Answer, uint8_t Compression, int32_t PageSize,
                    int32_t ExtentPageCount, int64_t PartSize);
  // CreateBuiltIn: opens a project document with the built-in passwords; a
  // document keyed with the legacy password is re-keyed to the current one
  // first unless Mode is exactly 0.
  TSingleFileSystem(TCreateBuiltIn, const AnsiString& FileName, uint16_t Mode);

  // Frees the handle records, flushes the page file and frees the managers
  // and the page file.
  virtual ~TSingleFileSystem();
  TSingleFileSystem(const TSingleFileSystem&) = delete;
  TSingleFileSystem& operator=(const TSingleFileSystem&) = delete;

  // The three constructors as factories.
  static std::unique_ptr<TSingleFileSystem> Create(const AnsiString& FileName, uint16_t Mode,
                                                   const AnsiString& Password = {},
                                                   const AnsiString& Question = {},
                                                   const AnsiString& Answer = {},
                                                   uint8_t Compression = 0);
  static std::unique_ptr<TSingleFileSystem> CreateEx(const AnsiString& FileName, uint16_t Mode,
                                                     bool InMemory, const AnsiString& Password,
                                                     const AnsiString& Question,
                                                     const AnsiString& Answer, uint8_t Compression,
                                                     int32_t PageSize, int32_t ExtentPageCount,
                                                     int64_t PartSize);
  static std::unique_ptr<TSingleFileSystem> CreateBuiltIn(const AnsiString& FileName,
                                                          uint16_t Mode);

  // --- Properties and small operations ---
  bool IsEncrypted() const;
  uint8_t GetCompression() const;
  void SetCompression(uint8_t Method);
  uint32_t GetAppValue() const;
  void SetAppValue(uint32_t Value);
  // Current size in bytes of the backing store.
  int64_t GetContainerSize() const;
  void DoProgress(double Percent);
  void DoDiskFull();
  // OnPassword when assigned, else the platform's password query with the
  // caption "Password for \"<FileName>\"" and the prompt "Enter password: ".
  void QueryPassword(const AnsiString& FileName, AnsiString& Password, bool& Cancel);

  // --- Files ---
  // A handle number (0 or more) or a negative code.
  int32_t OpenFile(const AnsiString& Path, uint16_t Mode, const AnsiString& Password = {},
                   const AnsiString& Question = {}, const AnsiString& Answer = {});
  // A directory item number or a negative code.
  int32_t CreateFile(const AnsiString& Path, const AnsiString& Password = {},
                     const AnsiString& Question = {}, const AnsiString& Answer = {});
  void CloseFile(int32_t Handle);
  // Bytes read / written (0 for a negative position or one whose range would
  // need more than 2147483647 pages).
  int32_t FileRead(int32_t Handle, void* Buffer, int32_t Count);
  int32_t FileWrite(int32_t Handle, const void* Buffer, int32_t Count);
  // The new position; Origin 0 from the start, 1 from the current position,
  // 2 from the end. No bound is tested.
  int64_t FileSeek(int32_t Handle, int64_t Offset, uint16_t Origin);
  // The new size, or a negative code.
  int64_t SetFileSize(int32_t Handle, int64_t NewSize);
  // False when nothing is found, the item is open, or it is a folder that
  // still holds live items.
  bool DeleteFile(const AnsiString& Path);
  bool FileExists(const AnsiString& Path);
  // Renames or moves the file or folder at OldPath to NewPath, whose folder
  // must exist; the item keeps its contents, times and password. False with
  // LastError -16 when the item is open, -20 when NewPath names another
  // item, -21 when a folder would move into itself or below itself, and -22
  // for a read-only container, nothing (or the root) at OldPath, a missing
  // folder or a name that cannot be stored.
  bool RenameItem(const AnsiString& OldPath, const AnsiString& NewPath);

  // --- Folders ---
  AnsiString GetCurrentDir() const;
  bool ChangeDir(const AnsiString& Path);
  bool ForceDirectories(const AnsiString& Path);
  bool DirectoryExists(const AnsiString& Path);

  // --- Passwords, rebuild ---
  bool ChangePassword(const AnsiString& NewPassword, const AnsiString& Question = {},
                      const AnsiString& Answer = {});
  // Copies every live folder and file into a new container file and puts it
  // in the place of the old one. True when the container now lives in the
  // new, complete file.
  bool RepairFile(AnsiString& Report, bool SkipDamaged, bool UseNewPassword,
                  const AnsiString& NewPassword, const AnsiString& Question,
                  const AnsiString& Answer);

  // --- Owned parts ---
  TPageFileManager& PageFile() const { return *FPageFile; }
  TDIRManager& DIRManager() const { return *FDIRManager; }
  TFreeSpaceManager& FreeSpace() const { return *FFreeSpace; }
  TUserFilePageMapManager& PageMaps() const { return *FPageMaps; }
  // The open handle record, or nullptr.
  TUserFileHandle* FindHandle(int32_t Handle) const { return Handles.Find(Handle); }
  int32_t HandleCount() const { return Handles.ItemCount(); }

  // --- Fields ---
  bool ReadOnly = false;
  bool Exclusive = false;
  bool Cancel = false;
  AnsiString Password;
  AnsiString FileName;
  uint16_t Mode = 0;
  long double ProgressPosition = 0;
  long double ProgressMax = 0;
  TSFSProgressEvent OnProgress;
  TSFSNotifyEvent OnDiskFull;
  TSFSPasswordEvent OnPassword;
  bool InMemory = false;
  int32_t LastError = 0;

 private:
  struct TBuiltInPlan;
  struct TRepairRun;

  TSingleFileSystem(const TBuiltInPlan& Plan);
  void OpenPageFile(const AnsiString& Name, uint16_t OpenMode, const AnsiString& Pass,
                    const AnsiString& Question, const AnsiString& Answer, bool Memory,
                    int32_t PageSize, int32_t ExtentPageCount, int64_t PartSize);
  void InitManagers();
  void FreeManagers();
  void RefuseWrongPassword() const;

  int32_t AddHandle(int32_t ItemNo, uint32_t HandleMode, const AnsiString& FileKey);
  void FreeHandle(int32_t Handle);
  void FreeAllHandles();
  bool CanWrite(const TUserFileHandle& H) const;
  bool FolderHasLiveItems(int32_t ItemNo) const;
  // Page key and encryption type of a file's data pages.
  void DataPageKey(const TDIRItem& Item, const TUserFileHandle& H, AnsiString& Key,
                   uint8_t& EncryptionType) const;
  bool RangeIsAddressable(int64_t Position, int64_t Count) const;
  // The bytes a read of Count bytes at the position of Handle can yield, with
  // the handle record and the file's directory item; 0 when there is no
  // such handle or nothing to read there.
  int64_t ReadCountAt(int32_t Handle, int32_t Count, TUserFileHandle*& H, TDIRItem& Item);
  int32_t PageMapFailure() const;
  bool ClearPageTail(TDIRItem& Item, const TUserFileHandle& H, int64_t NewSize);
  bool KeepPasswordBlock(const AnsiString& Question, const AnsiString& Answer);

  // The raw helpers of RepairFile.
  int32_t OpenItemRaw(int32_t ItemNo);
  int32_t RawRead(TRepairRun& Run, int32_t Handle, void* Buffer, int32_t Count);
  int32_t RawWrite(TRepairRun& Run, int32_t Handle, const void* Buffer, int32_t Count);
  bool RepairCopy(TRepairRun& Run, AnsiString& Report);
  bool RepairSwitch(TRepairRun& Run);

  std::unique_ptr<TPageFileManager> FPageFile;
  std::unique_ptr<TFreeSpaceManager> FFreeSpace;
  std::unique_ptr<TDIRManager> FDIRManager;
  std::unique_ptr<TUserFilePageMapManager> FPageMaps;
  // Handle number -> record. The records are owned by FHandleRecords; the
  // sorted array is the lookup and hands out the numbers.
  TSortedPtrArray<TUserFileHandle> Handles{0, 10, 1000};
  std::map<int32_t, std::unique_ptr<TUserFileHandle>> FHandleRecords;
  // The page buffer of FileRead and FileWrite.
  std::unique_ptr<TPageBuffer> FPage;
};

// The three factories of a container class Derived that adds nothing to Base
// but its own type: Derived::Create, CreateEx and CreateBuiltIn hand out a
// Derived made with the matching constructor.
template <class Derived, class Base>
class TFileSystemFactories : public Base {
 public:
  using Base::Base;

  static std::unique_ptr<Derived> Create(const AnsiString& FileName, uint16_t Mode,
                                         const AnsiString& Password = {},
                                         const AnsiString& Question = {},
                                         const AnsiString& Answer = {}, uint8_t Compression = 0) {
    return std::make_unique<Derived>(FileName, Mode, Password, Question, Answer, Compression);
  }
  static std::unique_ptr<Derived> CreateEx(const AnsiString& FileName, uint16_t Mode, bool InMemory,
                                           const AnsiString& Password, const AnsiString& Question,
                                           const AnsiString& Answer, uint8_t Compression,
                                           int32_t PageSize, int32_t ExtentPageCount,
                                           int64_t PartSize) {
    return std::make_unique<Derived>(TSingleFileSystem::TCreateEx{}, FileName, Mode, InMemory,
                                     Password, Question, Answer, Compression, PageSize,
                                     ExtentPageCount, PartSize);
  }
  static std::unique_ptr<Derived> CreateBuiltIn(const AnsiString& FileName, uint16_t Mode) {
    return std::make_unique<Derived>(TSingleFileSystem::TCreateBuiltIn{}, FileName, Mode);
  }
};

class TCsFileSystem : public TFileSystemFactories<TCsFileSystem, TSingleFileSystem> {
 public:
  using TFileSystemFactories::TFileSystemFactories;
};

class Tv9FileSystem : public TFileSystemFactories<Tv9FileSystem, TCsFileSystem> {
 public:
  using TFileSystemFactories::TFileSystemFactories;
};

// Whether Password opens the container FileName: true when it is not
// encrypted or its password block accepts the password.
bool CheckPassword(const AnsiString& FileName, const AnsiString& Password);
// Whether the container FileName is encrypted.
bool IsFileEncrypted(const AnsiString& FileName);
// Opens FileName for writing with OldPassword and changes its password to
// NewPassword; false when anything on the way raised.
bool ChangeFilePassword(const AnsiString& FileName, const AnsiString& OldPassword,
                        const AnsiString& NewPassword);

}  // namespace zk
