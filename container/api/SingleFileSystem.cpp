#include "container/api/SingleFileSystem.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "container/api/BuiltInKeys.h"
#include "container/crypto/PasswordBlock.h"
#include "container/engine/DIRManager.h"
#include "container/engine/FreeSpaceManager.h"
#include "container/engine/PageFileManager.h"
#include "container/engine/UserFilePageMapManager.h"
#include "container/storage/SFSHugeFile.h"
#include "platform/os/Clock.h"
#include "platform/os/FileSystem.h"
#include "platform/os/PasswordPrompt.h"
#include "platform/rtl/Exception.h"
#include "platform/rtl/SecureMemory.h"

namespace zk {

namespace {

constexpr int32_t DefaultPageSize = 4096;
constexpr int32_t DefaultExtentPageCount = 8;
constexpr int64_t DefaultPartSize = -1;
// A file holds at most this many data pages (page counts are signed 32-bit).
constexpr int64_t MaxFilePages = 2147483647;

AnsiString InvalidPasswordMessage(const AnsiString& FileName) {
  return "TSingleFileSystem.Create - invalid password specified, file name = " +
         QuoteText(FileName);
}

int64_t NowFileTime() {
  return os::Clock().UtcNowFileTime();
}

}  // namespace

// What CreateBuiltIn opens once the built-in passwords have been tried.
struct TSingleFileSystem::TBuiltInPlan {
  AnsiString FileName;
  uint16_t Mode;
  AnsiString Password;

  ~TBuiltInPlan() { SecureErase(Password); }
};

// ---------------------------------------------------------------------------
// Construction and destruction

TSingleFileSystem::TSingleFileSystem(const AnsiString& FileName_, uint16_t Mode_,
                                     const AnsiString& Password_, const AnsiString& Question,
                                     const AnsiString& Answer, uint8_t Compression) {
  Mode = static_cast<uint16_t>(Mode_ | ModeExclusive);
  FileName = FileName_;
  OpenPageFile(FileName, Mode, Password_, Question, Answer, false, DefaultPageSize,
               DefaultExtentPageCount, DefaultPartSize);
  if (Mode == ModeCreate) SetCompression(Compression);
  Password = Password_;
  RefuseWrongPassword();
  InitManagers();
}

TSingleFileSystem::TSingleFileSystem(TCreateEx, const AnsiString& FileName_, uint16_t Mode_,
                                     bool InMemory_, const AnsiString& Password_,
                                     const AnsiString& Question, const AnsiString& Answer,
                                     uint8_t Compression, int32_t PageSize, int32_t ExtentPageCount,
                                     int64_t PartSize) {
  InMemory = InMemory_;
  FileName = FileName_;
  Mode = Mode_;
  uint16_t openMode = Mode_;
  if (InMemory && Mode_ == ModeCreate && os::FileSystem().FileExists(FileName)) {
    openMode = ModeReadWrite;
  }
  if (openMode != ModeCreate && !CheckPassword(FileName, Password_)) {
    throw Exception(InvalidPasswordMessage(FileName));
  }
  OpenPageFile(FileName, openMode, Password_, Question, Answer, InMemory, PageSize, ExtentPageCount,
               PartSize);
  if (openMode == ModeCreate) SetCompression(Compression);
  Password = Password_;
  InitManagers();
}

namespace {

// Tries the built-in passwords on FileName: the legacy one when it opens the
// document (re-keying it to the current one unless Mode is exactly 0), the
// current one otherwise.
void PlanBuiltIn(const AnsiString& FileName, uint16_t Mode, uint16_t& OpenMode,
                 AnsiString& OpenPassword) {
  AnsiString legacy = GetLegacyBuiltInPassword();
  AnsiString current = GetCurrentBuiltInPassword();
  OpenMode = Mode;
  if (!CheckPassword(FileName, legacy)) {
    OpenPassword = current;
  } else if (Mode == 0) {
    OpenMode = 0;
    OpenPassword = legacy;
  } else {
    ChangeFilePassword(FileName, legacy, current);  // its result is not looked at
    OpenPassword = current;
  }
  SecureErase(legacy);
  SecureErase(current);
}

}  // namespace

TSingleFileSystem::TSingleFileSystem(TCreateBuiltIn, const AnsiString& FileName_, uint16_t Mode_)
    : TSingleFileSystem([&] {
        TBuiltInPlan plan{FileName_, Mode_, {}};
        PlanBuiltIn(FileName_, Mode_, plan.Mode, plan.Password);
        return plan;
      }()) {}

TSingleFileSystem::TSingleFileSystem(const TBuiltInPlan& Plan)
    : TSingleFileSystem(Plan.FileName, Plan.Mode, Plan.Password) {}

TSingleFileSystem::~TSingleFileSystem() {
  FreeAllHandles();
  if (FPageFile) {
    try {
      FPageFile->Flush();
    } catch (const std::exception&) {
      // A destructor reports nothing; the data was written through already.
    }
  }
  FreeManagers();
  SecureErase(Password);
}

std::unique_ptr<TSingleFileSystem> TSingleFileSystem::Create(
    const AnsiString& FileName_, uint16_t Mode_, const AnsiString& Password_,
    const AnsiString& Question, const AnsiString& Answer, uint8_t Compression) {
  return std::make_unique<TSingleFileSystem>(FileName_, Mode_, Password_, Question, Answer,
                                             Compression);
}

std::unique_ptr<TSingleFileSystem> TSingleFileSystem::CreateEx(
    const AnsiString& FileName_, uint16_t Mode_, bool InMemory_, const AnsiString& Password_,
    const AnsiString& Question, const AnsiString& Answer, uint8_t Compression, int32_t PageSize,
    int32_t ExtentPageCount, int64_t PartSize) {
  return std::make_unique<TSingleFileSystem>(TCreateEx{}, FileName_, Mode_, InMemory_, Password_,
                                             Question, Answer, Compression, PageSize,
                                             ExtentPageCount, PartSize);
}

std::unique_ptr<TSingleFileSystem> TSingleFileSystem::CreateBuiltIn(const AnsiString& FileName_,
                                                                    uint16_t Mode_) {
  return std::make_unique<TSingleFileSystem>(TCreateBuiltIn{}, FileName_, Mode_);
}

void TSingleFileSystem::OpenPageFile(const AnsiString& Name, uint16_t OpenMode,
                                     const AnsiString& Pass, const AnsiString& Question,
                                     const AnsiString& Answer, bool Memory, int32_t PageSize,
                                     int32_t ExtentPageCount, int64_t PartSize) {
  FPageFile = std::make_unique<TPageFileManager>(Name, OpenMode, Pass, Question, Answer, Memory,
                                                 PageSize, ExtentPageCount, PartSize);
}

// An encrypted container whose block refuses the password would only give
// pages deciphered with a wrong key: refuse it at once.
void TSingleFileSystem::RefuseWrongPassword() const {
  if (FPageFile->Header.EncryptionType == 0) return;
  AnsiString key;
  bool ok = OpenPasswordBlock(FPageFile->Header.PasswordBlock, Password, key);
  SecureErase(key);
  if (!ok) throw Exception(InvalidPasswordMessage(FileName));
}

void TSingleFileSystem::InitManagers() {
  FFreeSpace = std::make_unique<TFreeSpaceManager>(*FPageFile);
  FDIRManager = std::make_unique<TDIRManager>(*FPageFile, *FFreeSpace);
  FPageMaps = std::make_unique<TUserFilePageMapManager>(*FPageFile, *FFreeSpace);
  ReadOnly = FPageFile->ReadOnly;
  Exclusive = FPageFile->Exclusive;
  if (!IsEncrypted()) Password.clear();
  FPage = std::make_unique<TPageBuffer>();
  FPageFile->AllocPageBuffer(*FPage);
}

void TSingleFileSystem::FreeManagers() {
  FPage.reset();
  FPageMaps.reset();
  FDIRManager.reset();
  FFreeSpace.reset();
  FPageFile.reset();
}

// ---------------------------------------------------------------------------
// Handles

int32_t TSingleFileSystem::AddHandle(int32_t ItemNo, uint32_t HandleMode,
                                     const AnsiString& FileKey) {
  auto record = std::make_unique<TUserFileHandle>();
  record->ItemNo = ItemNo;
  record->Position = 0;
  record->Mode = HandleMode;
  record->FileKey = FileKey;
  const int32_t key = Handles.NewKey();
  TUserFileHandle* raw = record.get();
  FHandleRecords.emplace(key, std::move(record));
  try {
    Handles.Add(key, raw);
  } catch (...) {
    FHandleRecords.erase(key);
    throw;
  }
  return key;
}

void TSingleFileSystem::FreeHandle(int32_t Handle) {
  if (Handles.IndexOf(Handle) < 0) return;
  Handles.Delete(Handle);
  auto it = FHandleRecords.find(Handle);
  if (it != FHandleRecords.end()) {
    SecureErase(it->second->FileKey);
    FHandleRecords.erase(it);
  }
}

// Forgets every record; the handle counter goes on where it was.
void TSingleFileSystem::FreeAllHandles() {
  for (auto& [key, record] : FHandleRecords) SecureErase(record->FileKey);
  FHandleRecords.clear();
  Handles.SetCount(0);
}

bool TSingleFileSystem::CanWrite(const TUserFileHandle& H) const {
  return !ReadOnly && (H.Mode & 3) != 0;
}

bool TSingleFileSystem::FolderHasLiveItems(int32_t ItemNo) const {
  return FDIRManager->Items().HasChildren(ItemNo);
}

void TSingleFileSystem::DataPageKey(const TDIRItem& Item, const TUserFileHandle& H, AnsiString& Key,
                                    uint8_t& EncryptionType) const {
  Key.clear();
  if (Item.EncryptionType != 0) {
    EncryptionType = Item.EncryptionType;
    Key = H.FileKey;
  } else if (IsEncrypted()) {
    EncryptionType = FPageFile->Header.EncryptionType;  // keyed with the master key
  } else {
    EncryptionType = 0;
  }
}

// Whether bytes Position .. Position + Count - 1 lie in pages a file can
// have: a negative position, or a range that would need more than
// 2147483647 pages, must not reach the page arithmetic.
bool TSingleFileSystem::RangeIsAddressable(int64_t Position, int64_t Count) const {
  if (Position < 0 || Count < 0) return false;
  if (Count == 0) return true;
  if (Position > INT64_MAX - Count) return false;
  const int64_t D = FPageFile->PageDataSize();
  return (Position + Count - 1) / D < MaxFilePages;
}

// The code of a failed growth of the page map: its own code (-17 for no
// space), else the page transfer's that made it fail.
int32_t TSingleFileSystem::PageMapFailure() const {
  if (FPageMaps->LastError < 0) return FPageMaps->LastError;
  return FPageFile->LastError < 0 ? FPageFile->LastError : sfsNoSpace;
}

// ---------------------------------------------------------------------------
// Properties and small operations

bool TSingleFileSystem::IsEncrypted() const {
  return FPageFile->Header.EncryptionType != 0;
}

uint8_t TSingleFileSystem::GetCompression() const {
  return FPageFile->Header.CompressionMethod;
}

void TSingleFileSystem::SetCompression(uint8_t Method) {
  FPageFile->Header.CompressionMethod = Method;
  FPageFile->SaveHeader();
}

uint32_t TSingleFileSystem::GetAppValue() const {
  return FPageFile->Header.AppValue;
}

void TSingleFileSystem::SetAppValue(uint32_t Value) {
  if (FPageFile->Header.AppValue == Value) return;
  FPageFile->Header.AppValue = Value;
  FPageFile->SaveHeader();
}

int64_t TSingleFileSystem::GetContainerSize() const {
  return FPageFile->HugeFile().GetSize();
}

void TSingleFileSystem::DoProgress(double Percent) {
  if (OnProgress) OnProgress(*this, Cancel, Percent);
}

void TSingleFileSystem::DoDiskFull() {
  if (OnDiskFull) OnDiskFull(*this);
}

void TSingleFileSystem::QueryPassword(const AnsiString& Name, AnsiString& Pass, bool& Cancelled) {
  if (OnPassword) {
    OnPassword(*this, Name, Pass, Cancelled);
    return;
  }
  AnsiString answer = Pass;
  const bool confirmed =
      os::PasswordPrompt().Query("Password for \"" + Name + "\"", "Enter password: ", answer);
  if (confirmed) Pass = answer;
  SecureErase(answer);
  Cancelled = !confirmed;
}

// ---------------------------------------------------------------------------
// Files

int32_t TSingleFileSystem::OpenFile(const AnsiString& Path, uint16_t FileMode,
                                    const AnsiString& Password_, const AnsiString& Question,
                                    const AnsiString& Answer) {
  AnsiString pass = Password_;
  if (FileMode == ModeCreate) {
    const int32_t created = CreateFile(Path, pass, Question, Answer);
    if (created < 0) return created;
  } else if (FileExists(Path) && !FDIRManager->CheckFilePassword(Path, pass)) {
    bool cancelled = true;
    bool ok = false;
    do {
      QueryPassword(Path, pass, cancelled);
      ok = FDIRManager->CheckFilePassword(Path, pass);
    } while (!ok && !cancelled);
    if (!ok) {
      SecureErase(pass);
      return sfsPasswordRefused;
    }
  }
  AnsiString fileKey;
  const int32_t itemNo = FDIRManager->OpenFileItem(Path, pass, fileKey);
  SecureErase(pass);
  if (itemNo < 0) return itemNo;
  int32_t handle;
  try {
    handle = AddHandle(itemNo, FileMode, fileKey);
  } catch (...) {
    FDIRManager->CloseFileItem(itemNo);
    SecureErase(fileKey);
    throw;
  }
  SecureErase(fileKey);
  return handle;
}

int32_t TSingleFileSystem::CreateFile(const AnsiString& Path, const AnsiString& Password_,
                                      const AnsiString& Question, const AnsiString& Answer) {
  if (ReadOnly) {
    // Nothing can be written: say so instead of a misleading no-space error.
    LastError = sfsBadHandle;
    return sfsBadHandle;
  }
  if (FDIRManager->FindItem(Path) >= 0 && !DeleteFile(Path)) return sfsFileInUse;
  FDIRManager->LastError = 0;
  const int32_t result = FDIRManager->CreateFileItem(Path, Password_, Question, Answer);
  if (result < 0) {
    LastError = FDIRManager->LastError;
    if (LastError == sfsNoSpace) DoDiskFull();
  }
  return result;
}

void TSingleFileSystem::CloseFile(int32_t Handle) {
  TUserFileHandle* H = Handles.Find(Handle);
  if (H == nullptr) return;
  FDIRManager->CloseFileItem(H->ItemNo);
  FreeHandle(Handle);
}

// The read is cut at the end of the file; a range past the pages a file can
// have yields nothing.
int64_t TSingleFileSystem::ReadCountAt(int32_t Handle, int32_t Count, TUserFileHandle*& H,
                                       TDIRItem& Item) {
  H = Handles.Find(Handle);
  if (H == nullptr) return 0;
  FDIRManager->ReadItem(H->ItemNo, Item);
  if (H->Position < 0 || Count <= 0) return 0;
  int64_t N = Count;
  if (H->Position + N >= Item.Size) N = Item.Size - H->Position;
  if (N <= 0) return 0;
  if (!RangeIsAddressable(H->Position, N)) return 0;
  return N;
}

int32_t TSingleFileSystem::FileRead(int32_t Handle, void* Buffer, int32_t Count) {
  LastError = 0;
  TUserFileHandle* H = nullptr;
  TDIRItem item;
  const int64_t N = ReadCountAt(Handle, Count, H, item);
  if (N <= 0) return 0;

  TIntegerArray pages;
  if (!FPageMaps->GetDataPages(item, false, pages, N, H->Position)) {
    LastError = FPageMaps->LastError;
    return 0;
  }
  if (pages.ItemCount() == 0) {
    throw Exception("TSingleFileSystem.FileRead - no pages were found by UFM.");
  }
  AnsiString key;
  uint8_t encryption = 0;
  DataPageKey(item, *H, key, encryption);

  const int64_t D = FPageFile->PageDataSize();
  auto* out = static_cast<uint8_t*>(Buffer);
  int64_t done = 0;
  for (int32_t i = 0; i < pages.ItemCount() && done < N; ++i) {
    const int64_t offset = i == 0 ? H->Position % D : 0;
    const int64_t chunk = std::min(N - done, D - offset);
    if (!FPageFile->ReadPage(*FPage, pages[i], -1, key)) {
      LastError = FPageFile->LastError;
      break;
    }
    std::memcpy(out + done, FPage->Data + offset, static_cast<size_t>(chunk));
    done += chunk;
  }
  SecureErase(key);
  H->Position += done;
  return static_cast<int32_t>(done);
}

int32_t TSingleFileSystem::FileWrite(int32_t Handle, const void* Buffer, int32_t Count) {
  LastError = 0;
  if (Count <= 0) return 0;
  TUserFileHandle* H = Handles.Find(Handle);
  if (H == nullptr || !CanWrite(*H)) return 0;
  if (!RangeIsAddressable(H->Position, Count)) return 0;
  TDIRItem item;
  FDIRManager->ReadItem(H->ItemNo, item);
  const int32_t oldMap = item.FirstMapPageNo;

  TIntegerArray pages;
  FPageMaps->LastError = 0;
  if (!FPageMaps->GetDataPages(item, true, pages, Count, H->Position)) {
    if (item.FirstMapPageNo != oldMap) FDIRManager->WriteItem(H->ItemNo, item);
    LastError = PageMapFailure();
    if (LastError == sfsNoSpace) DoDiskFull();
    return 0;
  }
  if (pages.ItemCount() == 0) {
    if (item.FirstMapPageNo != oldMap) FDIRManager->WriteItem(H->ItemNo, item);
    return 0;
  }
  AnsiString key;
  uint8_t encryption = 0;
  DataPageKey(item, *H, key, encryption);

  const int64_t D = FPageFile->PageDataSize();
  const auto* in = static_cast<const uint8_t*>(Buffer);
  int64_t done = 0;
  for (int32_t i = 0; i < pages.ItemCount() && done < Count; ++i) {
    const int64_t offset = i == 0 ? H->Position % D : 0;
    const int64_t chunk = std::min(Count - done, D - offset);
    if (offset > 0 || chunk < D) {
      if (!FPageFile->ReadPage(*FPage, pages[i], -1, key)) {
        LastError = FPageFile->LastError;
        break;
      }
    }
    std::memcpy(FPage->Data + offset, in + done, static_cast<size_t>(chunk));
    FPage->NextPageNo = -1;
    FPage->PageType = ptFileData;
    FPage->CheckKind = 0;
    FPage->EncryptionType = encryption;
    if (!FPageFile->WritePage(*FPage, pages[i], -1, key)) {
      LastError = FPageFile->LastError;
      break;
    }
    done += chunk;
  }
  SecureErase(key);
  H->Position += done;
  if (H->Position > item.Size) item.Size = H->Position;
  item.LastWriteTime = NowFileTime();
  FDIRManager->WriteItem(H->ItemNo, item);
  return static_cast<int32_t>(done);
}

int64_t TSingleFileSystem::FileSeek(int32_t Handle, int64_t Offset, uint16_t Origin) {
  TUserFileHandle* H = Handles.Find(Handle);
  if (H == nullptr) return 0;
  switch (Origin) {
    case 0:
      H->Position = Offset;
      break;
    case 1:
      // Wraps instead of overflowing; such a position transfers nothing.
      H->Position =
          static_cast<int64_t>(static_cast<uint64_t>(H->Position) + static_cast<uint64_t>(Offset));
      break;
    case 2: {
      TDIRItem item;
      FDIRManager->ReadItem(H->ItemNo, item);
      H->Position =
          static_cast<int64_t>(static_cast<uint64_t>(item.Size) + static_cast<uint64_t>(Offset));
      break;
    }
    default:
      break;
  }
  return H->Position;
}

int64_t TSingleFileSystem::SetFileSize(int32_t Handle, int64_t NewSize) {
  TUserFileHandle* H = Handles.Find(Handle);
  if (H == nullptr || !CanWrite(*H)) return sfsBadHandle;
  if (!RangeIsAddressable(0, NewSize)) {
    // A negative size, or one past the largest file, is no size at all.
    LastError = sfsBadHandle;
    return sfsBadHandle;
  }
  TDIRItem item;
  FDIRManager->ReadItem(H->ItemNo, item);
  const int32_t oldMap = item.FirstMapPageNo;
  FPageMaps->LastError = 0;
  if (FPageMaps->SetFileSize(item, true, NewSize)) {
    // The bytes past a new end inside its last page are cleared, so that a
    // file grown again later reads zeros there, not what it held before.
    if (NewSize < item.Size && !ClearPageTail(item, *H, NewSize)) {
      FDIRManager->WriteItem(H->ItemNo, item);
      return LastError;
    }
    item.Size = NewSize;
    item.LastWriteTime = NowFileTime();
    FDIRManager->WriteItem(H->ItemNo, item);
    H->Position = NewSize;
    return NewSize;
  }
  if (item.FirstMapPageNo != oldMap) FDIRManager->WriteItem(H->ItemNo, item);
  const int32_t code = PageMapFailure();
  LastError = code;
  if (code == sfsNoSpace) DoDiskFull();
  return code;
}

// Zeros the bytes from NewSize to the end of the page that holds NewSize
// (nothing when NewSize is on a page boundary). False with LastError set when
// the page cannot be read or written.
bool TSingleFileSystem::ClearPageTail(TDIRItem& Item, const TUserFileHandle& H, int64_t NewSize) {
  const int64_t D = FPageFile->PageDataSize();
  const int64_t offset = NewSize % D;
  if (offset == 0) return true;
  TIntegerArray pages;
  TDIRItem resized = Item;  // the map now describes NewSize bytes
  resized.Size = NewSize;
  if (!FPageMaps->GetDataPages(resized, false, pages, 1, NewSize) || pages.ItemCount() == 0) {
    return true;  // no page holds the new end
  }
  AnsiString key;
  uint8_t encryption = 0;
  DataPageKey(Item, H, key, encryption);
  bool ok = FPageFile->ReadPage(*FPage, pages[0], -1, key);
  if (ok) {
    std::memset(FPage->Data + offset, 0, static_cast<size_t>(D - offset));
    FPage->NextPageNo = -1;
    FPage->PageType = ptFileData;
    FPage->CheckKind = 0;
    FPage->EncryptionType = encryption;
    ok = FPageFile->WritePage(*FPage, pages[0], -1, key);
  }
  SecureErase(key);
  if (!ok) LastError = FPageFile->LastError;
  return ok;
}

bool TSingleFileSystem::DeleteFile(const AnsiString& Path) {
  if (ReadOnly) return false;
  const int32_t n = FDIRManager->FindItem(Path);
  if (n < 0) return false;
  if (FDIRManager->OpenCount(n) > 0) return false;
  TDIRItem item;
  FDIRManager->ReadItem(n, item);
  // A folder goes only when empty: no item may be left without a live parent.
  if (item.IsDirectory != 0 && FolderHasLiveItems(n)) return false;
  item.Deleted = 1;
  const int64_t now = NowFileTime();
  item.LastWriteTime = now;
  item.LastAccessTime = now;
  if (!FPageMaps->SetFileSize(item, true, 0)) {
    LastError = FPageMaps->LastError;
    return false;
  }
  item.Size = 0;
  FDIRManager->WriteItem(n, item);
  return true;
}

bool TSingleFileSystem::FileExists(const AnsiString& Path) {
  return FDIRManager->FindItem(Path) >= 0;
}

// ---------------------------------------------------------------------------
// Folders

AnsiString TSingleFileSystem::GetCurrentDir() const {
  return FDIRManager->GetCurrentDir();
}

bool TSingleFileSystem::ChangeDir(const AnsiString& Path) {
  return FDIRManager->ChangeDir(Path);
}

bool TSingleFileSystem::ForceDirectories(const AnsiString& Path) {
  if (ReadOnly) return FDIRManager->DirectoryExists(Path);
  FDIRManager->LastError = 0;
  const bool ok = FDIRManager->ForceDirectories(Path);
  if (!ok && FDIRManager->LastError == sfsNoSpace) {
    LastError = sfsNoSpace;
    DoDiskFull();
  }
  return ok;
}

bool TSingleFileSystem::DirectoryExists(const AnsiString& Path) {
  return FDIRManager->DirectoryExists(Path);
}

// ---------------------------------------------------------------------------
// Passwords

bool TSingleFileSystem::ChangePassword(const AnsiString& NewPassword, const AnsiString& Question,
                                       const AnsiString& Answer) {
  if (ReadOnly) return false;
  if (NewPassword != Password) {
    const uint32_t appValue = GetAppValue();
    AnsiString report;
    const bool ok = RepairFile(report, false, true, NewPassword, Question, Answer);
    if (ok) SetAppValue(appValue);
    return ok;
  }
  return KeepPasswordBlock(Question, Answer);
}

// The same password with a new question and answer: the block is rebuilt
// around the master key the pages are enciphered with, so they stay
// readable. An unencrypted container (empty password) has nothing to change.
bool TSingleFileSystem::KeepPasswordBlock(const AnsiString& Question, const AnsiString& Answer) {
  if (!IsEncrypted()) return true;
  DoProgress(0);
  const AnsiString& key = FPageFile->MasterKey;
  if (static_cast<int32_t>(key.size()) < MasterKeySize) return false;
  TPasswordBlock block{};
  BuildPasswordBlockWithKey(block, key.data(), Password, Question, Answer);
  FPageFile->Header.PasswordBlock = block;
  SecureFill(&block, sizeof(block));
  FPageFile->SaveHeader();
  AnsiString reopened;
  const bool ok = OpenPasswordBlock(FPageFile->Header.PasswordBlock, Password, reopened);
  if (ok) FPageFile->MasterKey = reopened;
  SecureErase(reopened);
  DoProgress(100);
  return ok;
}

// ---------------------------------------------------------------------------
// Unit functions

bool CheckPassword(const AnsiString& FileName, const AnsiString& Password) {
  TPageFileManager pageFile(FileName, ModeReadOnly, Password, {}, {}, false, DefaultPageSize,
                            DefaultExtentPageCount, DefaultPartSize);
  if (pageFile.Header.EncryptionType == 0) return true;
  AnsiString key;
  const bool ok = OpenPasswordBlock(pageFile.Header.PasswordBlock, Password, key);
  SecureErase(key);
  return ok;
}

bool IsFileEncrypted(const AnsiString& FileName) {
  TPageFileManager pageFile(FileName, ModeReadOnly, {}, {}, {}, false, DefaultPageSize,
                            DefaultExtentPageCount, DefaultPartSize);
  return pageFile.Header.EncryptionType != 0;
}

bool ChangeFilePassword(const AnsiString& FileName, const AnsiString& OldPassword,
                        const AnsiString& NewPassword) {
  try {
    TSingleFileSystem fileSystem(FileName, ModeReadWrite, OldPassword);
    fileSystem.ChangePassword(NewPassword);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// ---------------------------------------------------------------------------
// Renaming and moving

bool TSingleFileSystem::RenameItem(const AnsiString& OldPath, const AnsiString& NewPath) {
  LastError = 0;
  auto refuse = [this](int32_t Code) {
    LastError = Code;
    return false;
  };
  if (ReadOnly) return refuse(sfsBadRename);
  const int32_t n = FDIRManager->FindItem(OldPath);
  if (n < 0) return refuse(sfsBadRename);
  if (FDIRManager->OpenCount(n) > 0) return refuse(sfsFileInUse);
  AnsiString folder, name;
  int32_t parent;
  if (SplitPath(NewPath, folder, name)) {
    parent = FDIRManager->FindItem(folder);
  } else {
    parent = FDIRManager->CurrentDir();
    name = NewPath;
  }
  if (parent < -1) return refuse(sfsBadRename);
  if (!FDIRManager->MoveItem(n, parent, name)) return refuse(FDIRManager->LastError);
  return true;
}

}  // namespace zk
