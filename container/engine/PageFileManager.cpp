#include "container/engine/PageFileManager.h"

#include <cstring>
#include <exception>

#include "container/crypto/CheckValue.h"
#include "container/crypto/Cipher.h"
#include "container/crypto/PasswordBlock.h"
#include "container/storage/SFSHugeFile.h"
#include "platform/os/FileSystem.h"
#include "platform/os/SystemInfo.h"
#include "platform/rtl/Exception.h"

namespace zk {

namespace {

constexpr const char* kHeaderCorrupted =
    "TSingleFileSystem.LoadHeader - Invalid SFS file, header is corrupted.";

uint32_t HeaderCheckValue(const TSFSFileHeader& Header) {
  return ComputeCheckValue(reinterpret_cast<const uint8_t*>(&Header) + HeaderCheckOffset,
                           HeaderCheckSize, ckXorWords);
}

}  // namespace

AnsiString ExtractFileNamePart(const AnsiString& Path) {
  size_t start = 0;
  for (size_t i = 0; i < Path.size(); i = CharNext(Path, i)) {
    if (Path[i] == '\\' || Path[i] == '/') start = i + 1;
  }
  return Path.substr(start);
}

TPageFileManager::TPageFileManager(const AnsiString& FileName_, uint16_t Mode,
                                   const AnsiString& Password, const AnsiString& Question,
                                   const AnsiString& Answer, bool InMemory_, int32_t PageSize,
                                   int32_t ExtentPageCount, int64_t PartSize) {
  CheckArguments(PageSize, ExtentPageCount);
  FileName = FileName_;
  InMemory = InMemory_;
  ReadOnly = (Mode & 3) == 0;
  Exclusive = (Mode & 0x10) != 0;

  if (Mode == fmCreateNew) {
    FFile = std::make_unique<TSFSHugeFile>(FileName, ReadOnly, Exclusive, InMemory, PartSize);
    if (!FFile->Open(true, false))
      throw Exception("TPageFileManager.Create - can not create file " + QuoteText(FileName));
    try {
      InitNewContainer(PageSize, ExtentPageCount, Password, Question, Answer);
    } catch (...) {
      // A container that could not be made is not left behind half made.
      try {
        FFile->Close();
        FFile->DeleteFiles();
      } catch (const std::exception&) {
      }
      throw;
    }
    return;
  }

  if (!os::FileSystem().FileExists(FileName)) throw Exception("File '" + FileName + "' not found");
  FFile = std::make_unique<TSFSHugeFile>(FileName, ReadOnly, Exclusive, InMemory, -1);
  if (!FFile->Open(false, true)) {
    FFile.reset();
    throw Exception("File " + ExtractFileNamePart(FileName) + " has corrupted header.");
  }
  LoadHeader();
  if (Header.EncryptionType != etNone) OpenPasswordBlock(Header.PasswordBlock, Password, MasterKey);
}

TPageFileManager::~TPageFileManager() = default;

void TPageFileManager::InitNewContainer(int32_t PageSize, int32_t ExtentPageCount,
                                        const AnsiString& Password, const AnsiString& Question,
                                        const AnsiString& Answer) {
  std::memset(&Header, 0, sizeof(Header));
  std::memcpy(Header.Magic, ContainerMagic.data(), ContainerMagicSize);
  Header.Version = SFSFileVersionBits;
  Header.PageSize = PageSize;
  Header.ExtentPageCount = ExtentPageCount;
  Header.FirstPageNo = 1;
  Header.PageCount = 1;
  Header.EncryptionType = etNone;
  if (!Password.empty()) {
    Header.EncryptionType = etRijndael;
    BuildPasswordBlock(Header.PasswordBlock, Password, Question, Answer);
  }
  SaveHeader();
  if (Header.EncryptionType != etNone) OpenPasswordBlock(Header.PasswordBlock, Password, MasterKey);
}

void TPageFileManager::CheckArguments(int32_t PageSize, int32_t ExtentPageCount) const {
  if (PageSize < MinPageSize)
    throw Exception("TPageFileManager.Create - page size should be >= " + IntToStr(MinPageSize) +
                    "bytes .");
  if (ExtentPageCount <= 0)
    throw Exception("TPageFileManager.Create - extent page count should be >= 1 Page.");
  if (PageSize > MaxPageSize)
    throw Exception("TPageFileManager.Create - page size should be <= " + IntToStr(MaxPageSize) +
                    "bytes .");
  TMapGeometry geometry;
  if (!TMapGeometry::Compute(PageSize, ExtentPageCount, geometry))
    throw Exception(
        "TPageFileManager.Create - extent page count does not suit the page size, "
        "ExtentPageCount = " +
        IntToStr(ExtentPageCount));
}

bool TPageFileManager::CheckHeader(int64_t Offset) {
  FFile->SetPosition(Offset);
  FFile->ReadBuffer(&Header, SFSFileHeaderSize);
  return std::memcmp(Header.Magic, ContainerMagic.data(), ContainerMagicSize) == 0 &&
         HeaderCheckValue(Header) == Header.CheckValue;
}

bool TPageFileManager::HeaderIsSound(const TSFSFileHeader& H) {
  if (H.PageSize < MinPageSize) return false;
  TMapGeometry g;
  if (!TMapGeometry::Compute(H.PageSize, H.ExtentPageCount, g)) return false;
  if (H.FirstPageNo != 1 || H.PageCount < 1) return false;
  const int64_t pageCount = H.PageCount;
  const int64_t extentCount = (pageCount - H.FirstPageNo) / H.ExtentPageCount;
  if (H.PFSPageCount < 0 || H.GAMPageCount < 0) return false;
  if (int64_t{H.PFSPageCount} * g.ExtentsPerPFSPage < extentCount) return false;
  if (int64_t{H.GAMPageCount} * g.ExtentsPerGAMPage < extentCount) return false;
  if (H.PFSPageCount > 0 && g.PFSPagePos(H.PFSPageCount - 1) >= pageCount) return false;
  // The SGAM page of the last pair lies right behind its GAM page.
  if (H.GAMPageCount > 0 && g.GAMPagePos(H.GAMPageCount - 1) + 1 >= pageCount) return false;
  if (H.DIRPageCount < 0 || H.DIRPageCount >= pageCount) return false;
  const int64_t itemsPerPage = g.PageDataSize / 512;
  if (H.DIRItemCount < 0 || int64_t{H.DIRItemCount} > int64_t{H.DIRPageCount} * itemsPerPage)
    return false;
  if (H.DIRPageCount > 0 && (H.FirstDIRPageNo < 1 || H.FirstDIRPageNo >= pageCount)) return false;
  return true;
}

void TPageFileManager::LoadHeader() {
  if (!CheckHeader(0) || !HeaderIsSound(Header)) throw Exception(kHeaderCorrupted);
}

void TPageFileManager::SaveHeader() {
  if (ReadOnly) return;
  Header.CheckValue = HeaderCheckValue(Header);
  FFile->SetPosition(0);
  FFile->WriteBuffer(&Header, SFSFileHeaderSize);
}

void TPageFileManager::AllocPageBuffer(TPageBuffer& Page) const {
  Page.NextPageNo = -1;
  Page.EncryptionType = etNone;
  Page.CheckKind = 0;
  Page.Storage.assign(static_cast<size_t>(PageDataSize()), 0);
  Page.Data = Page.Storage.data();
}

void TPageFileManager::FreePageBuffer(TPageBuffer& Page) const {
  std::vector<uint8_t>().swap(Page.Storage);
  Page.Data = nullptr;
}

bool TPageFileManager::ReadPage(TPageBuffer& Page, int32_t PageNo, int32_t Size,
                                const AnsiString& Key, bool Raw) {
  LastError = 0;
  const AnsiString& k = KeyFor(Key);
  if (Size < 0) Size = PageDataSize();
  if (Size > PageDataSize())
    throw Exception("TPageFileManager.ReadPage - size exceeds the page, Size = " + IntToStr(Size));
  // Page 0 is the container header, never a page with a page header.
  if (PageNo < 1) {
    LastError = peShortHeaderRead;
    return false;
  }
  FFile->SetPosition(PageOffset(PageNo));
  if (FFile->Read(&Page.Header(), PageHeaderSize) != PageHeaderSize) {
    LastError = peShortHeaderRead;
    return false;
  }
  if (Size == 0) return true;
  if (Page.Data == nullptr) throw Exception("TPageFileManager.ReadPage - pData is nil.");
  if (FFile->Read(Page.Data, Size) != Size) {
    LastError = peShortDataRead;
    return false;
  }
  if (!Raw && !DecodeBuffer(Page.Data, Size, k, Page.EncryptionType)) {
    LastError = peDecipher;
    return false;
  }
  return true;
}

bool TPageFileManager::WritePage(TPageBuffer& Page, int32_t PageNo, int32_t Size,
                                 const AnsiString& Key) {
  LastError = 0;
  const AnsiString& k = KeyFor(Key);
  if (Size < 0) Size = PageDataSize();
  if (Size > PageDataSize())
    throw Exception("TPageFileManager.WritePage - size exceeds the page, Size = " + IntToStr(Size));
  // Writing "page 0" would overwrite the container header.
  if (PageNo < 1) {
    LastError = peShortHeaderWrite;
    return false;
  }
  const bool withData = Page.Data != nullptr && Size > 0;
  if (withData) {
    if (!EncodeBuffer(Page.Data, Size, k, Page.EncryptionType)) {
      LastError = peEncipher;
      return false;
    }
    Page.CheckValue = ComputeCheckValue(Page.Data, static_cast<uint32_t>(Size), Page.CheckKind);
  }
  FFile->SetPosition(PageOffset(PageNo));
  if (FFile->Write(&Page.Header(), PageHeaderSize) != PageHeaderSize) {
    LastError = peShortHeaderWrite;
    return false;
  }
  if (withData && FFile->Write(Page.Data, Size) != Size) {
    LastError = peShortDataWrite;
    return false;
  }
  return true;
}

bool TPageFileManager::EncodeBuffer(void* Data, int32_t Size, const AnsiString& Key,
                                    uint8_t EncryptionType) {
  if (EncryptionType == etNone) return true;
  if (EncryptionType != etRijndael)
    throw Exception("TPageFileManager.EncodeBuffer - Unknown encryption type");
  try {
    TCipher_Rijndael cipher(Key);
    cipher.EncryptBuffer(Data, Data, Size);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TPageFileManager::DecodeBuffer(void* Data, int32_t Size, const AnsiString& Key,
                                    uint8_t EncryptionType) {
  if (EncryptionType == etNone) return true;
  if (EncryptionType != etRijndael) return false;
  try {
    TCipher_Rijndael cipher(Key);
    cipher.DecryptBuffer(Data, Data, Size);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TPageFileManager::AddPages(int32_t Count) {
  if (Count == 0) return true;
  if (Count < 0 || int64_t{Header.PageCount} + Count > INT32_MAX) return false;
  const int64_t wanted = (int64_t{Header.PageCount} + Count) * Header.PageSize;
  int64_t oldSize = -1;
  try {
    oldSize = FFile->GetSize();
    FFile->SetSize(wanted);
    if (FFile->GetSize() == wanted) {
      Header.PageCount += Count;
      try {
        SaveHeader();
        return true;
      } catch (const std::exception&) {
        Header.PageCount -= Count;
      }
    }
  } catch (const std::exception&) {
  }
  // Give the store its old length back, so nothing of the failed step stays.
  try {
    if (oldSize >= 0 && FFile->GetSize() != oldSize) FFile->SetSize(oldSize);
  } catch (const std::exception&) {
  }
  return false;
}

bool TPageFileManager::RenameFile(const AnsiString& NewName) {
  if (!FFile->RenameFile(NewName)) return false;
  FileName = NewName;
  return true;
}

bool TPageFileManager::DeleteFiles() {
  return FFile->DeleteFiles();
}

void TPageFileManager::Flush() {
  FFile->Flush();
}

int64_t TPageFileManager::GetFreeSpace() {
  if (InMemory) {
    // The memory manager reports its free bytes as an unsigned 32-bit value.
    const uint64_t avail = os::SystemInfo().AvailablePhysicalMemory();
    return static_cast<int64_t>(avail > UINT32_MAX ? uint64_t{UINT32_MAX} : avail);
  }
  const int64_t free = os::FileSystem().VolumeFreeSpace(FileName);
  return free < 0 ? 0 : free;
}

}  // namespace zk
