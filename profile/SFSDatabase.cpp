#include "profile/SFSDatabase.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "container/api/FileStream.h"
#include "platform/os/FileSystem.h"

namespace zk {

const char* const ProfileFileName = "PROFILE.INI";

namespace {

AnsiString ReadWholeFile(TSingleFileSystem& FileSystem, const AnsiString& Name,
                         const char* Operation) {
  Tv9Stream stream(&FileSystem, Name, ModeReadOnly);
  return ReadWholeText(stream, Name, Operation);
}

// Creates or replaces a file of the container's current folder with the
// whole content of Source (from its start; its position is kept).
void WriteWholeFile(TSingleFileSystem& FileSystem, const AnsiString& Name, TStream& Source) {
  const int64_t position = Source.GetPosition();
  Tv9Stream stream(&FileSystem, Name, ModeCreate);
  stream.CopyFrom(Source, 0);
  Source.SetPosition(position);
}

// Whether the last character of a GBK text is a single-byte backslash (a
// trail byte 0x5C of a double-byte character is not one).
bool EndsWithBackslash(const AnsiString& Text) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < Text.size(); i = CharNext(Text, i)) last = i;
  return last != std::string::npos && last + 1 == Text.size() && Text[last] == '\\';
}

}  // namespace

AnsiString ReadWholeText(TStream& Stream, const AnsiString& Name, const char* Operation) {
  const int64_t size = Stream.GetSize();
  if (size < 0 || size > std::numeric_limits<int32_t>::max())
    throw Exception(AnsiString(Operation) + " - invalid file size, file name = " + QuoteText(Name) +
                    ", size = " + IntToStr(size));
  Stream.SetPosition(0);
  constexpr int64_t Chunk = 64 * 1024;
  AnsiString text;
  std::vector<char> buffer(
      static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(size, 1), Chunk)));
  while (static_cast<int64_t>(text.size()) < size) {
    const int64_t room = std::min<int64_t>(size - static_cast<int64_t>(text.size()),
                                           static_cast<int64_t>(buffer.size()));
    const int32_t got = Stream.Read(buffer.data(), static_cast<int32_t>(room));
    if (got <= 0) break;
    text.append(buffer.data(), static_cast<size_t>(std::min<int64_t>(got, room)));
  }
  if (static_cast<int64_t>(text.size()) < size)
    throw Exception(AnsiString(Operation) + " - unexpected end of file, file name = " +
                    QuoteText(Name) + ", size = " + IntToStr(size) +
                    ", bytes read = " + IntToStr(static_cast<int64_t>(text.size())));
  return text;
}

// --- TsfsDataSet ---

TsfsDataSet::~TsfsDataSet() {
  SetDatabase(nullptr);
}

void TsfsDataSet::SetDatabase(TsfsDatabase* Database) {
  if (Database == FDatabase) return;
  if (FDatabase) FDatabase->UnregisterItem(*this);
  FDatabase = Database;
  if (FDatabase) FDatabase->RegisterItem(*this);
}

AnsiString TsfsDataSet::ResolveStorageName() {
  for (const AnsiString* candidate :
       std::initializer_list<const AnsiString*>{&StorageName, &TableName, &Name()}) {
    if (!Trim(*candidate).empty()) {
      StorageName = *candidate;
      return StorageName;
    }
  }
  return AnsiString();
}

// --- TsfsCustomDatabase ---

TsfsCustomDatabase::TsfsCustomDatabase(TComponent* AOwner) : TComponent(AOwner) {}

TsfsCustomDatabase::~TsfsCustomDatabase() {
  if (!FOwnedFileSystem) return;
  // A container whose file is no longer the database's name is a scratch
  // file of this component: it goes with it.
  const AnsiString containerName = FOwnedFileSystem->FileName;
  CloseFileSystem();
  if (containerName != FDataBaseName && os::FileSystem().FileExists(containerName))
    os::FileSystem().Delete(containerName);
}

void TsfsCustomDatabase::SetDataPath(const AnsiString& Value) {
  AnsiString path = Trim(Value);
  if (!EndsWithBackslash(path)) path += '\\';
  FDataPath = path;
}

void TsfsCustomDatabase::OpenDatabase(const AnsiString& FileName) {
  Open(FileName, false);
}

void TsfsCustomDatabase::OpenDatabaseReadOnly(const AnsiString& FileName) {
  Open(FileName, true);
}

void TsfsCustomDatabase::Open(const AnsiString& FileName, bool ReadOnlyOnly) {
  if (FFileSystem && FileName == FDataBaseName) return;
  CloseFileSystem();
  FDataBaseName = FileName;
  const bool exists = !FileName.empty() && os::FileSystem().FileExists(FileName);
  if (ReadOnlyOnly && !exists) throw Exception("File '" + FileName + "' not found");
  if (FileName.empty()) return;
  // Ownership only once the open succeeded.
  FOwnedFileSystem = OpenContainer(exists ? ModeReadOnly : ModeCreate, FileName, FToken);
  FFileSystem = FOwnedFileSystem.get();
}

void TsfsCustomDatabase::CloseFileSystem() {
  FFileSystem = nullptr;
  FOwnedFileSystem.reset();
}

std::unique_ptr<Tv9FileSystem> TsfsCustomDatabase::SetFileSystem(Tv9FileSystem* FileSystem) {
  if (FileSystem == FFileSystem) return nullptr;
  FFileSystem = FileSystem;
  return std::move(FOwnedFileSystem);
}

Tv9FileSystem& TsfsCustomDatabase::OpenFileSystem(const char* Operation) const {
  if (!FFileSystem) throw Exception(AnsiString(Operation) + " - database is not open.");
  return *FFileSystem;
}

void TsfsCustomDatabase::LoadProfile() {
  std::lock_guard<TCriticalSection> guard(FLock);
  Tv9FileSystem& fs = OpenFileSystem("TsfsCustomDatabase.LoadProfile");
  fs.ChangeDir(FDataPath);
  if (fs.FileExists(ProfileFileName))
    FIni.SetText(ReadWholeFile(fs, ProfileFileName, "TsfsCustomDatabase.LoadProfile"));
}

AnsiString TsfsCustomDatabase::GetProfileText() const {
  return FIni.GetText();
}

void TsfsCustomDatabase::SetProfileText(const AnsiString& Text) {
  FIni.SetText(Text);
}

// --- TsfsDatabase ---

TsfsDatabase::~TsfsDatabase() {
  std::vector<TItem> items = std::move(FItems);
  FItems.clear();
  for (const TItem& item : items) {
    if (item.DataSet && item.DataSet->FDatabase == this) item.DataSet->FDatabase = nullptr;
    RemoveFreeNotification(*item.Component);
  }
}

bool TsfsDatabase::RegisterItem(TComponent& Item) {
  for (const TItem& item : FItems)
    if (item.Component == &Item) return false;
  FItems.push_back(
      {&Item, dynamic_cast<TsfsDataSet*>(&Item), dynamic_cast<TsfsNamedMemoryStream*>(&Item)});
  FreeNotification(Item);
  return true;
}

bool TsfsDatabase::UnregisterItem(TComponent& Item) {
  auto found = std::find_if(FItems.begin(), FItems.end(),
                            [&](const TItem& item) { return item.Component == &Item; });
  if (found == FItems.end()) return false;
  FItems.erase(found);
  RemoveFreeNotification(Item);
  return true;
}

TComponent* TsfsDatabase::Items(int32_t Index) const {
  if (Index < 0 || Index >= ItemCount())
    throw Exception("List index out of bounds (" + IntToStr(Index) + ")");
  return FItems[static_cast<size_t>(Index)].Component;
}

void TsfsDatabase::Notification(TComponent& AComponent, TOperation Operation) {
  TsfsCustomDatabase::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  auto found = std::find_if(FItems.begin(), FItems.end(),
                            [&](const TItem& item) { return item.Component == &AComponent; });
  if (found == FItems.end()) return;
  // A dataset that is only leaving its owner is still whole: its link is
  // cleared. One being destroyed is not touched.
  if (!AComponent.Destroying() && found->DataSet && found->DataSet->FDatabase == this)
    found->DataSet->FDatabase = nullptr;
  FItems.erase(found);
}

int32_t TsfsDatabase::LoadAll() {
  Tv9FileSystem& fs = OpenFileSystem("TsfsDatabase.LoadAll");
  if (fs.FileExists(ProfileFileName))
    Ini().SetText(ReadWholeFile(fs, ProfileFileName, "TsfsDatabase.LoadAll"));
  // A copy: loading may destroy items (a dataset's own code runs).
  const std::vector<TItem> items = FItems;
  for (const TItem& item : items) {
    auto still = [&] {
      return std::any_of(FItems.begin(), FItems.end(),
                         [&](const TItem& i) { return i.Component == item.Component; });
    };
    if (!still()) continue;
    if (item.DataSet) {
      const AnsiString name = item.DataSet->ResolveStorageName();
      if (name.empty() || !fs.FileExists(name)) continue;
      try {
        Tv9Stream stream(&fs, name, ModeReadOnly);
        item.DataSet->EmptyTable();
        item.DataSet->LoadFromStream(stream);
        if (!item.DataSet->Active()) item.DataSet->Open();
      } catch (const std::exception&) {
        // A dataset that cannot be loaded stays as it is.
      }
    } else if (item.Stream) {
      const AnsiString& name = item.Stream->Name();
      if (name.empty() || !fs.FileExists(name)) continue;
      Tv9Stream stream(&fs, name, ModeReadOnly);
      item.Stream->Clear();
      // Copied as it arrives (the stored size is not trusted up front).
      item.Stream->CopyFrom(stream, 0);
      item.Stream->SetPosition(0);
      item.Stream->Loaded = true;
    }
  }
  return static_cast<int32_t>(items.size());
}

bool TsfsDatabase::LoadDataSet(const AnsiString& Name, TsfsDataSet* DataSet) {
  Tv9FileSystem& fs = OpenFileSystem("TsfsDatabase.LoadDataSet");
  fs.ChangeDir(DataPath());
  if (!DataSet || !fs.FileExists(Name)) return false;
  try {
    Tv9Stream stream(&fs, Name, ModeReadOnly);
    DataSet->EmptyTable();
    DataSet->LoadFromStream(stream);
    DataSet->Open();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

int32_t TsfsDatabase::SaveAll(bool Force) {
  Tv9FileSystem& fs = OpenFileSystem("TsfsDatabase.SaveAll");
  if (Ini().Modified) {
    const AnsiString text = GetProfileText();
    TMemoryStream memory;
    memory.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    WriteWholeFile(fs, ProfileFileName, memory);
    Ini().Modified = false;
  }
  const std::vector<TItem> items = FItems;
  for (const TItem& item : items) {
    if (std::none_of(FItems.begin(), FItems.end(),
                     [&](const TItem& i) { return i.Component == item.Component; }))
      continue;
    if (item.DataSet) {
      if (!Force && !item.DataSet->Modified()) continue;
      const AnsiString name = item.DataSet->ResolveStorageName();
      if (name.empty() || !item.DataSet->Active()) continue;
      TMemoryStream memory;
      item.DataSet->SaveToStream(memory);
      WriteWholeFile(fs, name, memory);
      // Only once the file holds the data.
      if (!Force) item.DataSet->ClearModified();
    } else if (item.Stream) {
      if (!item.Stream->Loaded || !(Force || item.Stream->Modified)) continue;
      if (item.Stream->Name().empty()) continue;
      WriteWholeFile(fs, item.Stream->Name(), *item.Stream);
      if (!Force) item.Stream->Modified = false;
    }
  }
  return static_cast<int32_t>(items.size());
}

bool TsfsDatabase::SaveDataSet(const AnsiString& Name, TsfsDataSet* DataSet) {
  if (!DataSet || !DataSet->Active() || !DataSet->HasSaveOptions()) return false;
  Tv9FileSystem& fs = OpenFileSystem("TsfsDatabase.SaveDataSet");
  fs.ChangeDir(DataPath());
  TMemoryStream memory;
  DataSet->SaveToStream(memory);
  WriteWholeFile(fs, Name, memory);
  DataSet->ClearModified();
  return true;
}

// --- TsfsDBMemIni ---

TsfsDBMemIni::TsfsDBMemIni(const AnsiString& FileName, const AnsiString& DataPath,
                           const AnsiString& Token)
    : TsfsMemIni(ReadProfileText(FileName, DataPath, Token)) {}

AnsiString TsfsDBMemIni::ReadProfileText(const AnsiString& FileName, const AnsiString& DataPath,
                                         const AnsiString& Token) {
  TsfsDatabase database;
  database.SetDataPath(DataPath);
  database.SetToken(Token);
  database.OpenDatabaseReadOnly(FileName);
  database.LoadProfile();
  return database.GetProfileText();
}

// --- OpenContainer ---

std::unique_ptr<Tv9FileSystem> OpenContainer(uint16_t Mode, const AnsiString& FileName,
                                             const AnsiString& Token) {
  if (Mode == ModeCreate) return Tv9FileSystem::Create(FileName, ModeCreate, Token);
  if (IsFileEncrypted(FileName)) {
    if (!Token.empty()) return Tv9FileSystem::Create(FileName, Mode, Token);
    return Tv9FileSystem::CreateBuiltIn(FileName, Mode);
  }
  std::unique_ptr<Tv9FileSystem> fs = Tv9FileSystem::Create(FileName, Mode);
  if (!Token.empty()) fs->ChangePassword(Token);
  return fs;
}

}  // namespace zk
