// The database component: opens a project document (a container) by file
// name, keeps its PROFILE.INI in an in-memory INI, saves it back, and loads
// and saves registered datasets and named memory streams as files of the
// container. TsfsDBMemIni is the in-memory INI the launcher reads a
// document's profile through: filled from PROFILE.INI in its constructor,
// after which the document is closed again.
//
// TsfsCustomDatabase owns its INI, its lock and, when it opened it, its
// container object. TsfsDatabase keeps a list of registered items which it
// does not own; an item that is destroyed leaves the list by the component
// removal notification, and a database that is destroyed clears the
// database link of its datasets.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "container/api/SingleFileSystem.h"
#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Component.h"
#include "platform/rtl/CriticalSection.h"
#include "platform/rtl/Stream.h"
#include "profile/MemIni.h"

namespace zk {

class TsfsDatabase;

// Event types of the published properties. None of them is fired here.
using TNotifyEvent = std::function<void(TComponent& Sender)>;
using TOnOpenProgressEvent = std::function<void(int32_t aMax, int32_t aPosition)>;
using TkbmOnProgress = std::function<void(TComponent& DataSet, int32_t Percentage, int32_t Code)>;

// Name of the profile file in the data folder of a container.
extern const char* const ProfileFileName;  // "PROFILE.INI"

// The whole content of Stream (from its start) as a text, read as it arrives.
// A size below 0 or above 2147483647 raises "<Operation> - invalid file size,
// file name = "<Name>", size = <n>"; fewer bytes than the size raises
// "<Operation> - unexpected end of file, file name = "<Name>", size = <n>,
// bytes read = <m>". Name only labels the messages.
AnsiString ReadWholeText(TStream& Stream, const AnsiString& Name, const char* Operation);

// What the database needs of a memory-table dataset. The dataset classes
// themselves derive from this; the database saves each one as a file named
// by its storage name.
class TsfsDataSet : public TComponent {
 public:
  explicit TsfsDataSet(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
  // Leaves its database first.
  ~TsfsDataSet() override;

  AnsiString StorageName;
  AnsiString TableName;

  virtual bool Active() const = 0;
  virtual void Open() = 0;
  // Removes every record.
  virtual void EmptyTable() = 0;
  virtual void LoadFromStream(TStream& Stream) = 0;
  virtual void SaveToStream(TStream& Stream) = 0;
  // Whether save options are set (nothing is saved without them).
  virtual bool HasSaveOptions() const = 0;
  // Whether the data changed since it was last saved, and clearing that.
  virtual bool Modified() const = 0;
  virtual void ClearModified() = 0;

  TsfsDatabase* Database() const { return FDatabase; }
  // Unregisters from the old database, registers with the new one.
  void SetDatabase(TsfsDatabase* Database);

  // The first non-blank of StorageName, TableName and the component Name,
  // stored back into StorageName (empty when all three are blank).
  AnsiString ResolveStorageName();

 private:
  friend class TsfsDatabase;
  TsfsDatabase* FDatabase = nullptr;
};

// A memory stream saved as the file named by its component Name. Loaded is
// set when it was filled from the container; Modified is the owner's flag
// that it needs saving.
class TsfsNamedMemoryStream : public TComponent, public TMemoryStream {
 public:
  explicit TsfsNamedMemoryStream(TComponent* AOwner = nullptr) : TComponent(AOwner) {}

  bool Loaded = false;
  bool Modified = false;
};

class TsfsCustomDatabase : public TComponent {
 public:
  explicit TsfsCustomDatabase(TComponent* AOwner = nullptr);
  // Frees the INI; frees an owned container, and deletes its file when that
  // file's name is no longer DataBaseName.
  ~TsfsCustomDatabase() override;

  // Written directly; opens nothing.
  const AnsiString& DataBaseName() const { return FDataBaseName; }
  void SetDataBaseName(const AnsiString& Value) { FDataBaseName = Value; }
  // The folder of PROFILE.INI and the dataset files: trimmed, ending in a
  // backslash; "\" (the root) when blank.
  const AnsiString& DataPath() const { return FDataPath; }
  void SetDataPath(const AnsiString& Value);
  const AnsiString& Token() const { return FToken; }
  void SetToken(const AnsiString& Value) { FToken = Value; }

  TsfsMemIni& Ini() { return FIni; }
  const TsfsMemIni& Ini() const { return FIni; }

  TNotifyEvent BeforeSave, AfterLoad, AfterSave, BeforeLoad;
  TOnOpenProgressEvent OnOpenProgress;
  TkbmOnProgress OnProgress;

  // Opens FileName unless it is the one already open: read only when a file
  // of that name exists, else as a new, empty container. The container open
  // before is freed when this component owned it. An empty name leaves the
  // component closed.
  void OpenDatabase(const AnsiString& FileName);
  // The same, but never creates and never writes: a missing (or empty) name
  // raises "File '<name>' not found".
  void OpenDatabaseReadOnly(const AnsiString& FileName);

  // The open container, or nullptr.
  Tv9FileSystem* FileSystem() const { return FFileSystem; }
  // True while the open container is one this component opened.
  bool OwnsFileSystem() const { return FOwnedFileSystem != nullptr; }
  // Uses a container made elsewhere (not owned; it must outlive its use
  // here). A container this component owned is handed back to the caller,
  // who may keep it or let it go.
  std::unique_ptr<Tv9FileSystem> SetFileSystem(Tv9FileSystem* FileSystem);

  // Under the lock: changes to DataPath (its result is not looked at) and,
  // when PROFILE.INI is there, replaces the INI's text by the file's.
  void LoadProfile();
  AnsiString GetProfileText() const;
  void SetProfileText(const AnsiString& Text);

  // Registered items; nothing here (TsfsDatabase implements them).
  virtual int32_t LoadAll() { return 0; }
  virtual bool LoadDataSet(const AnsiString& /*Name*/, TsfsDataSet* /*DataSet*/) { return false; }
  virtual int32_t SaveAll(bool /*Force*/) { return 0; }
  virtual bool SaveDataSet(const AnsiString& /*Name*/, TsfsDataSet* /*DataSet*/) { return false; }

 protected:
  // The open container; raises "<Operation> - database is not open." when
  // there is none.
  Tv9FileSystem& OpenFileSystem(const char* Operation) const;

 private:
  void Open(const AnsiString& FileName, bool ReadOnlyOnly);
  // Frees an owned container and forgets the reference.
  void CloseFileSystem();

  AnsiString FDataBaseName;
  AnsiString FDataPath = "\\";
  TsfsMemIni FIni{AnsiString()};
  Tv9FileSystem* FFileSystem = nullptr;
  std::unique_ptr<Tv9FileSystem> FOwnedFileSystem;  // set only while FFileSystem is it
  AnsiString FToken;
  TCriticalSection FLock;
};

class TsfsDatabase : public TsfsCustomDatabase {
 public:
  explicit TsfsDatabase(TComponent* AOwner = nullptr) : TsfsCustomDatabase(AOwner) {}
  // Clears the database link of its datasets.
  ~TsfsDatabase() override;

  // Reads PROFILE.INI of the current folder, then every registered item
  // whose file exists there. Returns the number of registered items.
  int32_t LoadAll() override;
  // Loads DataSet from file Name of DataPath; false when there is no such
  // file or loading raised.
  bool LoadDataSet(const AnsiString& Name, TsfsDataSet* DataSet) override;
  // Writes PROFILE.INI when the INI was modified, then every registered item
  // that changed (all of them with Force). Returns the number of items.
  int32_t SaveAll(bool Force) override;
  // Saves an active DataSet with save options as file Name of DataPath.
  bool SaveDataSet(const AnsiString& Name, TsfsDataSet* DataSet) override;

  // False when the item is already there / not there.
  bool RegisterItem(TComponent& Item);
  bool UnregisterItem(TComponent& Item);
  static void SetDatabase(TsfsDataSet& DataSet, TsfsDatabase* Database) {
    DataSet.SetDatabase(Database);
  }

  int32_t ItemCount() const { return static_cast<int32_t>(FItems.size()); }
  TComponent* Items(int32_t Index) const;

 protected:
  void Notification(TComponent& AComponent, TOperation Operation) override;

 private:
  // One registered item, with its kind found when it was registered (a
  // removed item is only compared by address).
  struct TItem {
    TComponent* Component;
    TsfsDataSet* DataSet;
    TsfsNamedMemoryStream* Stream;
  };
  std::vector<TItem> FItems;
};

// The in-memory INI of a document's profile: PROFILE.INI from folder
// DataPath of container FileName, opened with Token (empty: the built-in
// passwords of project documents) read only. The container is closed again
// before the constructor returns; its errors propagate.
class TsfsDBMemIni : public TsfsMemIni {
 public:
  TsfsDBMemIni(const AnsiString& FileName, const AnsiString& DataPath, const AnsiString& Token);

 private:
  static AnsiString ReadProfileText(const AnsiString& FileName, const AnsiString& DataPath,
                                    const AnsiString& Token);
};

// A container object for FileName: a new one for Mode 0xFFFF (Token its
// password when not empty); an encrypted one opened with Token, or with the
// built-in passwords when Token is empty; an unencrypted one opened without
// password and, with a Token, given that password (which a read-only
// container ignores).
std::unique_ptr<Tv9FileSystem> OpenContainer(uint16_t Mode, const AnsiString& FileName,
                                             const AnsiString& Token);

}  // namespace zk
