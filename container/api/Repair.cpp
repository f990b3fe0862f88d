// RepairFile of the container object: copies every live folder and file into
// a new container file (the old name followed by "_new"), then puts the new
// file in the place of the old one. The same run compacts a container, re-keys
// it for a new password, and in repair mode (SkipDamaged) leaves out the files
// whose pages cannot be read. The old file stays untouched until the new one
// is complete; a run that is cancelled or fails deletes the new file and goes
// on with the old one.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "container/api/SingleFileSystem.h"
#include "container/engine/DIRManager.h"
#include "container/engine/FreeSpaceManager.h"
#include "container/engine/PageFileManager.h"
#include "container/engine/UserFilePageMapManager.h"
#include "container/storage/SFSHugeFile.h"
#include "platform/os/FileSystem.h"
#include "platform/rtl/Exception.h"
#include "platform/rtl/SecureMemory.h"

namespace zk {

namespace {

const char* const CRLF = "\r\n";
// How many names Base + "0", Base + "1", ... are tried for the old file.
constexpr int32_t MaxAsideNames = 100000;

AnsiString DirectoryErrorLine(int32_t ItemNo, const AnsiString& Path, const AnsiString& Message) {
  return "Directory #" + IntToStr(ItemNo) + ": " + QuoteText(Path) + " deleted. Error: " + CRLF +
         Message + CRLF;
}

AnsiString DirectoryLine(const AnsiString& Path) {
  return "Directory " + QuoteText(Path) + " deleted. " + CRLF;
}

AnsiString FileLine(const AnsiString& Path) {
  return "File " + QuoteText(Path) + " deleted. " + CRLF;
}

// Lowers the process-wide minimum page size to PageSize while it lives.
class TMinPageSizeScope {
 public:
  explicit TMinPageSizeScope(int32_t PageSize) : FOld(TPageFileManager::MinPageSize) {
    if (FOld > PageSize) TPageFileManager::MinPageSize = PageSize;
  }
  ~TMinPageSizeScope() { TPageFileManager::MinPageSize = FOld; }
  TMinPageSizeScope(const TMinPageSizeScope&) = delete;
  TMinPageSizeScope& operator=(const TMinPageSizeScope&) = delete;

 private:
  int32_t FOld;
};

void IgnoreErrors(const std::function<void()>& Action) {
  try {
    Action();
  } catch (const std::exception&) {
    // The event's errors do not change the outcome of the run.
  }
}

}  // namespace

// The state of one run.
struct TSingleFileSystem::TRepairRun {
  bool SkipDamaged = false;
  bool UseNewPassword = false;
  AnsiString NewPassword;
  std::unique_ptr<TSingleFileSystem> NewFS;
  // The page buffer reused for every page (PageDataSize bytes).
  std::vector<uint8_t> Buffer;
  // Handles of the old container opened by OpenItemRaw and not yet closed.
  std::vector<int32_t> RawHandles;
  // Whether the last RawRead delivered the bytes as stored, and the
  // EncryptionType of each page it read.
  bool LastReadRaw = true;
  std::vector<uint8_t> PageTypes;

  ~TRepairRun() { SecureErase(NewPassword); }
};

// Opens an item of the old container without any password check: a handle
// (position 0, mode 0, no file key) in the handle table. It does not go
// through the directory's open, which would stamp the old record's access
// time and so write to the old file (and carry the stamp into the copy); the
// old file stays untouched until the switch, and the run is the only user of
// the object meanwhile.
int32_t TSingleFileSystem::OpenItemRaw(int32_t ItemNo) {
  if (ItemNo < 0 || ItemNo >= FDIRManager->Items().ItemCount()) return -1;
  TDIRItem item;
  FDIRManager->ReadItem(ItemNo, item);
  if (item.Deleted != 0 || item.IsDirectory != 0) return -1;
  return AddHandle(ItemNo, 0, {});
}

int32_t TSingleFileSystem::RawRead(TRepairRun& Run, int32_t Handle, void* Buffer, int32_t Count) {
  TUserFileHandle* H = nullptr;
  TDIRItem item;
  const int64_t N = ReadCountAt(Handle, Count, H, item);
  if (N <= 0) return 0;

  TIntegerArray pages;
  try {
    FPageMaps->GetDataPages(item, false, pages, N, H->Position);
  } catch (const Exception&) {
    if (!Run.SkipDamaged) throw;
    LastError = sfsRepairMapError;
    return 0;
  }
  if (pages.ItemCount() == 0) return 0;

  const bool decipher = Run.UseNewPassword && IsEncrypted() && item.EncryptionType == 0;
  Run.LastReadRaw = !decipher;
  Run.PageTypes.clear();
  const int64_t D = FPageFile->PageDataSize();
  auto* out = static_cast<uint8_t*>(Buffer);
  int64_t done = 0;
  for (int32_t i = 0; i < pages.ItemCount() && done < Count; ++i) {
    const int64_t offset = i == 0 ? H->Position % D : 0;
    // The whole page is taken, also past the file's end: enciphered bytes
    // are only whole when the page is.
    const int64_t chunk = std::min<int64_t>(Count - done, D - offset);
    bool ok = false;
    try {
      ok = FPageFile->ReadPage(*FPage, pages[i], -1, {}, !decipher);
    } catch (const Exception&) {
      if (!Run.SkipDamaged) throw;
      LastError = sfsRepairReadError;
      return 0;
    }
    if (!ok) {
      LastError = FPageFile->LastError;
      if (Run.SkipDamaged) return 0;
      break;  // the run ends on LastError (the copy is all or nothing)
    }
    Run.PageTypes.push_back(FPage->EncryptionType);
    std::memcpy(out + done, FPage->Data + offset, static_cast<size_t>(chunk));
    done += chunk;
  }
  H->Position += done;
  return static_cast<int32_t>(done);
}

// Writes into the new container. Buffer holds whole pages (the run's page
// buffer): every page gets all PageDataSize bytes.
int32_t TSingleFileSystem::RawWrite(TRepairRun& Run, int32_t Handle, const void* Buffer,
                                    int32_t Count) {
  LastError = 0;
  TSingleFileSystem& target = *Run.NewFS;
  if (Count <= 0) return 0;
  TUserFileHandle* H = target.Handles.Find(Handle);
  if (H == nullptr) return 0;
  TDIRItem item;
  target.FDIRManager->ReadItem(H->ItemNo, item);
  TIntegerArray pages;
  try {
    if (!target.FPageMaps->GetDataPages(item, true, pages, Count, H->Position)) return 0;
  } catch (const Exception&) {
    return 0;
  }
  if (pages.ItemCount() == 0) return 0;

  TPageFileManager& pageFile = *target.FPageFile;
  TPageBuffer& page = *target.FPage;
  const int64_t D = pageFile.PageDataSize();
  const uint8_t newType = pageFile.Header.EncryptionType;
  const uint8_t writeType =
      Run.UseNewPassword && item.EncryptionType == 0 && !Run.NewPassword.empty() ? 1 : 0;
  const auto* in = static_cast<const uint8_t*>(Buffer);
  int64_t done = 0;
  for (int32_t i = 0; i < pages.ItemCount() && done < Count; ++i) {
    const int64_t chunk = std::min<int64_t>(D, Count - done);
    std::memcpy(page.Data, in + done, static_cast<size_t>(D));
    page.NextPageNo = -1;
    page.PageType = ptFileData;
    page.CheckKind = 0;
    page.EncryptionType = writeType;
    if (!pageFile.WritePage(page, pages[i], -1)) {
      LastError = pageFile.LastError;
      break;
    }
    // The header names the encryption the stored bytes carry: freshly
    // enciphered ones the new container's; bytes copied as they were read,
    // what their old page said (a page never written stays plain).
    uint8_t finalType;
    if (writeType != 0) {
      finalType = newType;
    } else if (Run.LastReadRaw) {
      finalType = static_cast<size_t>(i) < Run.PageTypes.size() ? Run.PageTypes[i] : 0;
    } else {
      finalType = item.EncryptionType != 0 ? item.EncryptionType : newType;
    }
    if (finalType != page.EncryptionType) {
      page.EncryptionType = finalType;
      if (!pageFile.WritePage(page, pages[i], 0)) {
        LastError = pageFile.LastError;
        break;
      }
    }
    done += chunk;
  }
  H->Position += done;
  if (H->Position > item.Size) item.Size = H->Position;
  target.FDIRManager->WriteItem(H->ItemNo, item);
  return static_cast<int32_t>(done);
}

bool TSingleFileSystem::RepairFile(AnsiString& Report, bool SkipDamaged, bool UseNewPassword,
                                   const AnsiString& NewPassword, const AnsiString& Question,
                                   const AnsiString& Answer) {
  const AnsiString savedDir = GetCurrentDir();
  Report.clear();
  Cancel = false;
  if (InMemory) return false;

  if (GetContainerSize() > FPageFile->GetFreeSpace()) {
    Report = "Not enough space.";
    IgnoreErrors([this] { DoDiskFull(); });
    return false;
  }

  LastError = 0;
  const AnsiString newName = FPageFile->FileName + "_new";
  TRepairRun run;
  run.SkipDamaged = SkipDamaged;
  run.UseNewPassword = UseNewPassword;
  run.NewPassword = NewPassword;
  try {
    const TSFSFileHeader& old = FPageFile->Header;
    TMinPageSizeScope scope(old.PageSize);
    if (UseNewPassword) {
      run.NewFS = CreateEx(newName, ModeCreate, InMemory, NewPassword, Question, Answer,
                           old.CompressionMethod, old.PageSize, old.ExtentPageCount, -1);
    } else {
      run.NewFS = CreateEx(newName, ModeCreate, InMemory, Password, {}, {}, old.CompressionMethod,
                           old.PageSize, old.ExtentPageCount, -1);
      TPageFileManager& target = *run.NewFS->FPageFile;
      target.Header.PasswordBlock = old.PasswordBlock;
      target.Header.EncryptionType = old.EncryptionType;
      target.MasterKey = FPageFile->MasterKey;
    }
  } catch (...) {
    // The error reaches the caller; a new file made before it does not stay.
    IgnoreErrors([&newName] { TSFSHugeFile(newName, false, false, false, -1).DeleteFiles(); });
    throw;
  }

  // No space in the new container is no space for this object's user.
  run.NewFS->OnDiskFull = [this](TSingleFileSystem&) { DoDiskFull(); };

  // Ends a run that did not get to the switch: the new files go, the old
  // items' open counts are put back.
  auto abandon = [this, &run] {
    for (int32_t h : run.RawHandles) FreeHandle(h);
    run.RawHandles.clear();
    if (run.NewFS) {
      TSFSHugeFile& file = run.NewFS->FPageFile->HugeFile();
      IgnoreErrors([&file] {
        file.Close();
        file.DeleteFiles();
      });
      run.NewFS.reset();
    }
  };

  try {
    run.Buffer.assign(static_cast<size_t>(FPageFile->PageDataSize()), 0);
  } catch (const std::bad_alloc&) {
    LastError = sfsNoPageBuffer;
    abandon();
    return false;
  }

  try {
    if (!RepairCopy(run, Report)) {
      abandon();
      return false;
    }
  } catch (const std::exception& e) {
    const Exception* own = dynamic_cast<const Exception*>(&e);
    Report += AnsiString("Critical error occured. Original file restored.") + CRLF +
              (own != nullptr ? own->Message : AnsiString(e.what()));
    abandon();
    return false;
  }
  run.Buffer.clear();

  if (!RepairSwitch(run)) return false;
  DoProgress(100);
  ChangeDir(savedDir);
  return true;
}

// Step by step over the old directory; false when cancelled (the cancelled
// line is in Report). Raises on every critical error.
bool TSingleFileSystem::RepairCopy(TRepairRun& Run, AnsiString& Report) {
  TSingleFileSystem& target = *Run.NewFS;
  target.FPageFile->SaveHeader();
  const int32_t count = FDIRManager->Items().ItemCount();
  ProgressMax = count;
  ProgressPosition = 0;
  const int64_t D = FPageFile->PageDataSize();
  uint8_t* buffer = Run.Buffer.data();

  // A damaged item: a line of the report in repair mode; otherwise the end
  // of the run, so that nothing is left out silently.
  auto damaged = [&](const AnsiString& Line, const AnsiString& Message) {
    if (!Run.SkipDamaged) throw Exception(Message);
    Report += Line;
  };
  auto closeRaw = [&](int32_t h) {
    FreeHandle(h);
    Run.RawHandles.erase(std::remove(Run.RawHandles.begin(), Run.RawHandles.end(), h),
                         Run.RawHandles.end());
  };

  for (int32_t i = 0; i < count; ++i) {
    DoProgress(static_cast<double>(ProgressPosition / ProgressMax * 100));
    if (Cancel) {
      Report += AnsiString("RepairFile cancelled. Original file restored.") + CRLF;
      return false;
    }
    ProgressPosition = i + 1;
    TDIRItem item;
    FDIRManager->ReadItem(i, item);
    if (item.Deleted != 0) continue;

    if (item.IsDirectory != 0) {
      AnsiString path;
      try {
        path = FDIRManager->GetItemPath(i);
        target.ForceDirectories(path);
      } catch (const Exception& e) {
        if (!Run.SkipDamaged) throw;
        Report += DirectoryErrorLine(i, path, e.Message);
        continue;
      }
      if (!target.DirectoryExists(path)) {
        damaged(DirectoryLine(path),
                "TSingleFileSystem.RepairFile - can not create directory " + QuoteText(path));
      }
      continue;
    }

    // A file: its folder first.
    AnsiString parentPath;
    try {
      parentPath = FDIRManager->GetItemPath(item.ParentID);
      target.ForceDirectories(parentPath);
    } catch (const Exception& e) {
      if (!Run.SkipDamaged) throw;
      Report += DirectoryErrorLine(item.ParentID, parentPath, e.Message);
      continue;
    }
    if (!target.DirectoryExists(parentPath)) {
      damaged(DirectoryLine(parentPath),
              "TSingleFileSystem.RepairFile - can not create directory " + QuoteText(parentPath));
      continue;
    }

    const AnsiString path = FDIRManager->GetItemPath(i);
    const AnsiString quoted = QuoteText(path);
    const int32_t oldHandle = OpenItemRaw(i);
    if (oldHandle < 0) {
      damaged(FileLine(path), "TSingleFileSystem.RepairFile - can not open file " + quoted);
      continue;
    }
    Run.RawHandles.push_back(oldHandle);
    const int32_t newHandle = target.OpenFile(path, ModeCreate);
    TUserFileHandle* created = target.Handles.Find(newHandle);
    if (created == nullptr) {
      closeRaw(oldHandle);
      damaged(FileLine(path), "TSingleFileSystem.RepairFile - can not create file " + quoted);
      continue;
    }

    TDIRItem copy;
    target.FDIRManager->ReadItem(created->ItemNo, copy);
    copy.PasswordBlock = item.PasswordBlock;
    copy.EncryptionType = item.EncryptionType;
    copy.Attributes = item.Attributes;
    copy.CreationTime = item.CreationTime;
    copy.LastWriteTime = item.LastWriteTime;
    copy.LastAccessTime = item.LastAccessTime;
    target.FDIRManager->WriteItem(created->ItemNo, copy);

    bool stopped = false;
    if (item.Size < 0 || !RangeIsAddressable(0, item.Size)) {
      // No such file can be copied: its size is damaged.
      damaged(FileLine(path), "TSingleFileSystem.RepairFile - invalid size of file " + quoted);
      stopped = true;
    }
    const int64_t pageCount = stopped ? 0 : (item.Size + D - 1) / D;
    const int64_t tail = item.Size % D;
    LastError = 0;
    for (int64_t k = 0; k < pageCount; ++k) {
      std::memset(buffer, 0, static_cast<size_t>(D));
      const int32_t got = RawRead(Run, oldHandle, buffer, static_cast<int32_t>(D));
      const bool last = k == pageCount - 1;
      if (LastError != 0 || (got != D && (!last || got != tail))) {
        damaged(FileLine(path), "TSingleFileSystem.RepairFile - can not read file " + quoted +
                                    ", error = " + IntToStr(LastError));
        stopped = true;
        break;
      }
      const int32_t toWrite = static_cast<int32_t>(last ? (tail == 0 ? D : tail) : D);
      if (RawWrite(Run, newHandle, buffer, toWrite) < toWrite) {
        IgnoreErrors([this] { DoDiskFull(); });
        throw Exception("Not enough space");
      }
    }

    if (stopped) {
      LastError = 0;
      target.CloseFile(newHandle);
      target.DeleteFile(path);
    } else {
      TDIRItem check;
      target.FDIRManager->ReadItem(created->ItemNo, check);
      if (check.Size != item.Size) throw Exception("");
      target.CloseFile(newHandle);
    }
    closeRaw(oldHandle);
  }
  return true;
}

// Steps 10 to 12: the new file takes the old one's name. False (with
// LastError -15) when that cannot be done; the old file is then in use again.
bool TSingleFileSystem::RepairSwitch(TRepairRun& Run) {
  TSingleFileSystem& target = *Run.NewFS;
  const bool wasExclusive = Exclusive;
  target.FPageFile->HugeFile().Close();
  FPageFile->HugeFile().Close();

  const AnsiString base = FPageFile->FileName;
  auto reopenOld = [this] { FPageFile->HugeFile().Open(false, true); };

  // The old file moves out of the way under the first free name Base + n.
  AnsiString aside;
  for (int32_t n = 0; n < MaxAsideNames; ++n) {
    AnsiString candidate = base + IntToStr(n);
    if (!os::FileSystem().FileExists(candidate)) {
      aside = candidate;
      break;
    }
  }
  if (aside.empty() || !FPageFile->RenameFile(aside)) {
    // The old file could not be moved: it stays in use, the new one goes.
    reopenOld();
    IgnoreErrors([&target] { target.FPageFile->HugeFile().DeleteFiles(); });
    Run.NewFS.reset();
    LastError = sfsSwitchFailed;
    return false;
  }

  if (!target.FPageFile->RenameFile(base)) {
    FPageFile->RenameFile(base);
    reopenOld();
    Run.NewFS.reset();  // the file with the "_new" name stays on the disk
    LastError = sfsSwitchFailed;
    return false;
  }

  FPageFile->DeleteFiles();
  FreeAllHandles();
  FreeManagers();
  Run.NewFS.reset();
  if (Run.UseNewPassword) Password = Run.NewPassword;
  const uint16_t mode = static_cast<uint16_t>(ModeReadWrite | (wasExclusive ? ModeExclusive : 0));
  // The constructor of the directory manager loads the directory: once.
  OpenPageFile(base, mode, Password, {}, {}, InMemory, 4096, 8, -1);
  InitManagers();
  return true;
}

}  // namespace zk
