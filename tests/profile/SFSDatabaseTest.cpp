#include "profile/SFSDatabase.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "container/api/BuiltInKeys.h"
#include "container/api/FileStream.h"
#include "platform/os/AnsiCodePage.h"

namespace zk {
namespace {

// A temporary folder removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::filesystem::create_directories(ZK_TEST_TMPDIR);
    std::string pattern = std::string(ZK_TEST_TMPDIR) + "/profile-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WriteContainerFile(TSingleFileSystem& fs, const AnsiString& name, const AnsiString& content,
                        uint8_t method = 0) {
  Tv9Stream out(&fs, name, ModeCreate, method);
  out.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
}

AnsiString ReadContainerFile(TSingleFileSystem& fs, const AnsiString& name) {
  Tv9Stream in(&fs, name, ModeReadOnly);
  return ReadWholeText(in, name, "test");
}

// A project document: files by container path ("GC\PROFILE.INI"), each in
// its folder, stored with one compression method.
void MakeDocument(const std::string& path, const std::map<AnsiString, AnsiString>& files,
                  const AnsiString& password = {}, uint8_t method = 0) {
  auto fs = Tv9FileSystem::Create(path, ModeCreate, password);
  for (const auto& [name, content] : files) {
    fs->ChangeDir("\\");
    size_t slash = name.rfind('\\');
    if (slash != AnsiString::npos) {
      ASSERT_TRUE(fs->ForceDirectories(name.substr(0, slash)));
      ASSERT_TRUE(fs->ChangeDir(name.substr(0, slash)));
    }
    WriteContainerFile(*fs, slash == AnsiString::npos ? name : name.substr(slash + 1), content,
                       method);
  }
}

const AnsiString kProfile = "[FILEINFO]\r\nProductName=ZK2016\r\nVersion = 3\r\n";

TEST(SFSDatabase, DataPathIsTrimmedAndEndsInOneBackslash) {
  TsfsDatabase db;
  EXPECT_EQ(db.DataPath(), "\\");
  struct Case {
    const char* value;
    const char* path;
  } cases[] = {
      {"GC", "GC\\"},
      {" \tGC \r\n", "GC\\"},
      {"", "\\"},
      {"   ", "\\"},
      {"GC\\", "GC\\"},
      {"\\", "\\"},
      {"a\\b", "a\\b\\"},
      {"\x95\x5C", "\x95\x5C\\"},  // a trail byte 0x5C is no separator
      {"\x95\x5C\\", "\x95\x5C\\"},
  };
  for (const Case& c : cases) {
    db.SetDataPath(c.value);
    EXPECT_EQ(db.DataPath(), c.path) << c.value;
  }
}

TEST(SFSDatabase, ReadWholeTextRefusesImpossibleSizesAndShortFiles) {
  // A stream that claims a size and delivers fewer bytes.
  class TShortStream : public TMemoryStream {
   public:
    int64_t Claimed = 0;
    int64_t GetSize() override { return Claimed; }
  } stream;
  stream.WriteBuffer("abc", 3);

  stream.Claimed = 3;
  EXPECT_EQ(ReadWholeText(stream, "P.INI", "T.Op"), "abc");

  struct Case {
    int64_t size;
    const char* message;
  } cases[] = {
      {2147483648LL, "T.Op - invalid file size, file name = \"P.INI\", size = 2147483648"},
      {-1, "T.Op - invalid file size, file name = \"P.INI\", size = -1"},
      {10, "T.Op - unexpected end of file, file name = \"P.INI\", size = 10, bytes read = 3"},
  };
  for (const Case& c : cases) {
    stream.Claimed = c.size;
    try {
      ReadWholeText(stream, "P.INI", "T.Op");
      ADD_FAILURE() << c.size;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, c.message);
    }
  }
}

TEST(SFSDatabase, DBMemIniReadsTheProfileWhateverItsCompression) {
  TTempDir dir;
  for (uint8_t method : {0, 2, 8, 6}) {
    const std::string path = dir / ("doc" + std::to_string(method));
    MakeDocument(path, {{"GC\\PROFILE.INI", kProfile}}, {}, method);
    const std::string before = FileBytes(path);
    TsfsDBMemIni ini(path, "GC", "");
    EXPECT_EQ(ini.ReadString("FILEINFO", "ProductName", "-"), "ZK2016") << int(method);
    EXPECT_EQ(ini.ReadString("fileinfo", "VERSION", "-"), "3");
    EXPECT_EQ(FileBytes(path), before);
  }
}

TEST(SFSDatabase, DBMemIniOpensEncryptedDocumentsWithTheBuiltInPasswordsAndChangesNothing) {
  TTempDir dir;
  for (const AnsiString& password : {GetCurrentBuiltInPassword(), GetLegacyBuiltInPassword()}) {
    const std::string path = dir / ("doc" + std::to_string(password.size()));
    MakeDocument(path, {{"GC\\PROFILE.INI", kProfile}}, password, 2);
    ASSERT_TRUE(IsFileEncrypted(path));
    const std::string before = FileBytes(path);
    TsfsDBMemIni ini(path, "GC", "");
    EXPECT_EQ(ini.ReadString("FILEINFO", "ProductName", ""), "ZK2016");
    EXPECT_EQ(FileBytes(path), before);
  }
}

TEST(SFSDatabase, DBMemIniUsesAGivenTokenAsThePassword) {
  TTempDir dir;
  const std::string path = dir / "doc";
  MakeDocument(path, {{"GC\\PROFILE.INI", kProfile}}, "secret");
  TsfsDBMemIni ini(path, "GC", "secret");
  EXPECT_EQ(ini.ReadString("FILEINFO", "ProductName", ""), "ZK2016");

  // A token on an unencrypted document opened read only changes nothing.
  const std::string plain = dir / "plain";
  MakeDocument(plain, {{"GC\\PROFILE.INI", kProfile}});
  const std::string before = FileBytes(plain);
  TsfsDBMemIni ini2(plain, "GC", "secret");
  EXPECT_EQ(ini2.ReadString("FILEINFO", "ProductName", ""), "ZK2016");
  EXPECT_EQ(FileBytes(plain), before);
  EXPECT_FALSE(IsFileEncrypted(plain));
}

TEST(SFSDatabase, DBMemIniOfADocumentWithoutProfileIsEmpty) {
  TTempDir dir;
  const std::string path = dir / "doc";
  MakeDocument(path, {{"GC\\OTHER.TXT", "x"}});
  TsfsDBMemIni ini(path, "GC", "");
  EXPECT_EQ(ini.ReadString("FILEINFO", "ProductName", "none"), "none");
  EXPECT_EQ(ini.GetText(), "");
}

TEST(SFSDatabase, WithoutTheDataFolderTheRootProfileIsRead) {
  TTempDir dir;
  const std::string path = dir / "doc";
  MakeDocument(path, {{"PROFILE.INI", "[FILEINFO]\r\nProductName=Root\r\n"}});
  TsfsDBMemIni ini(path, "GC", "");
  EXPECT_EQ(ini.ReadString("FILEINFO", "ProductName", ""), "Root");
}

TEST(SFSDatabase, DBMemIniNeverCreatesAMissingDocument) {
  TTempDir dir;
  const std::string path = dir / "missing.zbj";
  try {
    TsfsDBMemIni ini(path, "GC", "");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "File '" + path + "' not found");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_THROW(TsfsDBMemIni("", "GC", ""), Exception);
}

TEST(SFSDatabase, DBMemIniOfADamagedDocumentRaisesAndLeavesItAsItWas) {
  TTempDir dir;
  const std::string path = dir / "doc";
  MakeDocument(path, {{"GC\\PROFILE.INI", kProfile}});
  std::string bytes = FileBytes(path);
  bytes[280 + 20] = static_cast<char>(bytes[280 + 20] ^ 0x5A);  // inside the container header
  WriteFileBytes(path, bytes);
  try {
    TsfsDBMemIni ini(path, "GC", "");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSingleFileSystem.LoadHeader - Invalid SFS file, header is corrupted.");
  }
  EXPECT_EQ(FileBytes(path), bytes);
}

TEST(SFSDatabase, LoadProfileWithoutAContainerRaises) {
  TsfsDatabase db;
  db.OpenDatabase("");  // an empty name opens nothing
  EXPECT_EQ(db.FileSystem(), nullptr);
  try {
    db.LoadProfile();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TsfsCustomDatabase.LoadProfile - database is not open.");
  }
  EXPECT_THROW(db.SaveAll(false), Exception);
}

TEST(SFSDatabase, OpenDatabaseKeepsTheSameNameAndClosesTheFirstForAnother) {
  TTempDir dir;
  const std::string a = dir / "a", b = dir / "b";
  MakeDocument(a, {{"GC\\PROFILE.INI", "[FILEINFO]\r\nProductName=A\r\n"}});
  MakeDocument(b, {{"GC\\PROFILE.INI", "[FILEINFO]\r\nProductName=B\r\n"}});
  TsfsDatabase db;
  db.SetDataPath("GC");
  db.OpenDatabase(a);
  Tv9FileSystem* first = db.FileSystem();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(db.OwnsFileSystem());
  EXPECT_TRUE(first->ReadOnly);  // an existing file opens read only
  db.OpenDatabase(a);
  EXPECT_EQ(db.FileSystem(), first);
  db.OpenDatabase(b);
  EXPECT_EQ(db.DataBaseName(), b);
  db.LoadProfile();
  EXPECT_EQ(db.Ini().ReadString("FILEINFO", "ProductName", ""), "B");
  // The first container is closed: another object may open it exclusively.
  EXPECT_NO_THROW(Tv9FileSystem::Create(a, ModeReadWrite));
}

TEST(SFSDatabase, AFailedOpenLeavesTheComponentClosed) {
  TTempDir dir;
  const std::string a = dir / "a", junk = dir / "junk";
  MakeDocument(a, {});
  WriteFileBytes(junk, std::string(5000, 'x'));
  TsfsDatabase db;
  db.OpenDatabase(a);
  EXPECT_THROW(db.OpenDatabase(junk), Exception);
  EXPECT_EQ(db.FileSystem(), nullptr);
  EXPECT_FALSE(db.OwnsFileSystem());
  EXPECT_EQ(FileBytes(junk), std::string(5000, 'x'));
}

TEST(SFSDatabase, AnOutsideContainerIsNeverOwned) {
  TTempDir dir;
  const std::string a = dir / "a", b = dir / "b";
  MakeDocument(a, {{"PROFILE.INI", "[S]\r\nk=outside\r\n"}});
  MakeDocument(b, {});
  auto outside = Tv9FileSystem::Create(a, ModeReadOnly);
  {
    TsfsDatabase db;
    db.OpenDatabase(b);
    std::unique_ptr<Tv9FileSystem> handedBack = db.SetFileSystem(outside.get());
    ASSERT_NE(handedBack, nullptr);  // the one it had opened itself
    EXPECT_EQ(handedBack->FileName, b);
    handedBack.reset();  // the caller lets it go
    EXPECT_FALSE(db.OwnsFileSystem());
    db.SetDataBaseName(a);
    db.OpenDatabase(a);  // the same name: keeps the outside container, still not owned
    EXPECT_EQ(db.FileSystem(), outside.get());
    EXPECT_FALSE(db.OwnsFileSystem());
    db.LoadProfile();
    EXPECT_EQ(db.Ini().ReadString("S", "k", ""), "outside");
    db.OpenDatabase(b);  // another name: the outside container is dropped, not freed
    EXPECT_TRUE(db.OwnsFileSystem());
  }
  EXPECT_TRUE(outside->FileExists("PROFILE.INI"));
}

TEST(SFSDatabase, DestroyingDeletesAnOwnedContainerWhoseNameIsNoLongerTheDatabaseName) {
  TTempDir dir;
  const std::string scratch = dir / "scratch", kept = dir / "kept";
  {
    TsfsDatabase db;
    db.OpenDatabase(scratch);  // missing: created
    EXPECT_TRUE(std::filesystem::exists(scratch));
    db.SetDataBaseName(dir / "other");
  }
  EXPECT_FALSE(std::filesystem::exists(scratch));
  {
    TsfsDatabase db;
    db.OpenDatabase(kept);
  }
  EXPECT_TRUE(std::filesystem::exists(kept));
}

TEST(SFSDatabase, SaveAllWritesTheProfileOnlyWhenModified) {
  TTempDir dir;
  const std::string path = dir / "new";
  {
    TsfsDatabase db;
    db.OpenDatabase(path);
    ASSERT_TRUE(db.OwnsFileSystem());
    EXPECT_EQ(db.SaveAll(false), 0);
    EXPECT_FALSE(db.FileSystem()->FileExists("PROFILE.INI"));
    db.Ini().WriteString("FILEINFO", "ProductName", "New\r\n[FILEINFO]\r\nProductName=Evil");
    EXPECT_EQ(db.SaveAll(false), 0);
    EXPECT_FALSE(db.Ini().Modified);
    EXPECT_EQ(ReadContainerFile(*db.FileSystem(), "PROFILE.INI"),
              "[FILEINFO]\r\nProductName=New\r\n\r\n");
  }
  TsfsDBMemIni ini(path, "", "");
  EXPECT_EQ(ini.ReadString("FILEINFO", "ProductName", ""), "New");
}

// A dataset whose records are one text; it can be told to fail loading.
class TTestDataSet : public TsfsDataSet {
 public:
  using TsfsDataSet::TsfsDataSet;

  AnsiString Records;
  bool IsActive = true, SaveOptions = true, Changed = false, FailLoad = false;
  int Opens = 0, Empties = 0;

  bool Active() const override { return IsActive; }
  void Open() override {
    ++Opens;
    IsActive = true;
  }
  void EmptyTable() override {
    ++Empties;
    Records.clear();
  }
  void LoadFromStream(TStream& Stream) override {
    if (FailLoad) throw Exception("bad table");
    Records = ReadWholeText(Stream, "", "load");
  }
  void SaveToStream(TStream& Stream) override {
    Stream.WriteBuffer(Records.data(), static_cast<int32_t>(Records.size()));
  }
  bool HasSaveOptions() const override { return SaveOptions; }
  bool Modified() const override { return Changed; }
  void ClearModified() override { Changed = false; }
};

TEST(SFSDatabase, StorageNameIsTheFirstNonBlankOfStorageTableAndComponentName) {
  TTestDataSet ds;
  ds.SetName("Comp");
  EXPECT_EQ(ds.ResolveStorageName(), "Comp");
  EXPECT_EQ(ds.StorageName, "Comp");
  ds.StorageName = "  ";
  ds.TableName = "Table";
  EXPECT_EQ(ds.ResolveStorageName(), "Table");
  ds.StorageName = "Own.dat";
  EXPECT_EQ(ds.ResolveStorageName(), "Own.dat");
  TTestDataSet blank;
  EXPECT_EQ(blank.ResolveStorageName(), "");
}

TEST(SFSDatabase, RegistrationFollowsTheDatabaseLinkAndRemovals) {
  TsfsDatabase one, two;
  TTestDataSet ds;
  EXPECT_TRUE(one.RegisterItem(ds));
  EXPECT_FALSE(one.RegisterItem(ds));
  EXPECT_TRUE(one.UnregisterItem(ds));
  EXPECT_FALSE(one.UnregisterItem(ds));

  TsfsDatabase::SetDatabase(ds, &one);
  EXPECT_EQ(one.ItemCount(), 1);
  ds.SetDatabase(&two);  // moves
  EXPECT_EQ(one.ItemCount(), 0);
  ASSERT_EQ(two.ItemCount(), 1);
  EXPECT_EQ(two.Items(0), &ds);

  {
    TTestDataSet gone;
    gone.SetDatabase(&two);
    TsfsNamedMemoryStream stream;
    two.RegisterItem(stream);
    EXPECT_EQ(two.ItemCount(), 3);
  }
  EXPECT_EQ(two.ItemCount(), 1);  // destroyed items leave the list

  // A dataset that outlives its database loses the link.
  TTestDataSet survivor;
  {
    TsfsDatabase shortLived;
    survivor.SetDatabase(&shortLived);
  }
  EXPECT_EQ(survivor.Database(), nullptr);
}

TEST(SFSDatabase, SaveAllAndLoadAllCarryRegisteredItems) {
  TTempDir dir;
  const std::string path = dir / "items";
  {
    TsfsDatabase db;
    db.OpenDatabase(path);
    TTestDataSet changed, unchanged, inactive;
    changed.SetName("Changed");
    changed.Records = "rows of changed";
    changed.Changed = true;
    unchanged.TableName = "Unchanged";
    unchanged.Records = "rows of unchanged";
    inactive.StorageName = "Inactive";
    inactive.Changed = true;
    inactive.IsActive = false;
    TsfsNamedMemoryStream loaded, notLoaded;
    loaded.SetName("blob.bin");
    loaded.WriteBuffer("blob", 4);
    loaded.Loaded = loaded.Modified = true;
    notLoaded.SetName("never.bin");
    notLoaded.Modified = true;
    TComponent other;  // counted, never saved
    for (TComponent* c : std::initializer_list<TComponent*>{&changed, &unchanged, &inactive,
                                                            &loaded, &notLoaded, &other})
      db.RegisterItem(*c);
    db.Ini().WriteString("S", "k", "v");

    EXPECT_EQ(db.SaveAll(false), 6);
    Tv9FileSystem& fs = *db.FileSystem();
    EXPECT_EQ(ReadContainerFile(fs, "Changed"), "rows of changed");
    EXPECT_FALSE(changed.Changed);
    EXPECT_FALSE(fs.FileExists("Unchanged"));
    EXPECT_FALSE(fs.FileExists("Inactive"));
    EXPECT_EQ(ReadContainerFile(fs, "blob.bin"), "blob");
    EXPECT_FALSE(loaded.Modified);
    EXPECT_FALSE(fs.FileExists("never.bin"));
    EXPECT_EQ(ReadContainerFile(fs, "PROFILE.INI"), "[S]\r\nk=v\r\n\r\n");

    // Force writes every active dataset and keeps the modified flags.
    changed.Changed = true;
    EXPECT_EQ(db.SaveAll(true), 6);
    EXPECT_EQ(ReadContainerFile(fs, "Unchanged"), "rows of unchanged");
    EXPECT_EQ(ReadContainerFile(fs, "blob.bin"), "blob");
    EXPECT_TRUE(changed.Changed);
    EXPECT_EQ(unchanged.StorageName, "Unchanged");
  }
  // Read back into fresh items (the container is read only now).
  TsfsDatabase db;
  db.OpenDatabase(path);
  TTestDataSet changed, unchanged, failing, absent;
  changed.SetName("Changed");
  changed.IsActive = false;
  unchanged.StorageName = "Unchanged";
  failing.StorageName = "Unchanged";
  failing.FailLoad = true;
  failing.Records = "kept";
  absent.StorageName = "nothing here";
  absent.Records = "as it was";
  TsfsNamedMemoryStream blob;
  blob.SetName("blob.bin");
  for (TComponent* c :
       std::initializer_list<TComponent*>{&changed, &unchanged, &failing, &absent, &blob})
    db.RegisterItem(*c);
  EXPECT_EQ(db.LoadAll(), 5);
  EXPECT_EQ(db.Ini().ReadString("S", "k", ""), "v");
  EXPECT_EQ(changed.Records, "rows of changed");
  EXPECT_EQ(changed.Opens, 1);  // opened because it was not active
  EXPECT_EQ(unchanged.Records, "rows of unchanged");
  EXPECT_EQ(unchanged.Opens, 0);
  EXPECT_EQ(failing.Empties, 1);  // the error is swallowed
  EXPECT_EQ(absent.Records, "as it was");
  EXPECT_EQ(absent.Empties, 0);
  EXPECT_TRUE(blob.Loaded);
  EXPECT_EQ(blob.GetSize(), 4);
  EXPECT_EQ(blob.GetPosition(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob.Memory()), 4), "blob");
}

TEST(SFSDatabase, LoadDataSetAndSaveDataSetWorkInTheDataFolder) {
  TTempDir dir;
  const std::string path = dir / "sets";
  {
    auto fs = Tv9FileSystem::Create(path, ModeCreate);
    ASSERT_TRUE(fs->ForceDirectories("GC"));
  }
  {
    // A container opened for writing, handed in from outside.
    auto fs = Tv9FileSystem::Create(path, ModeReadWrite);
    TsfsDatabase db;
    db.SetDataPath("GC");
    db.SetFileSystem(fs.get());
    TTestDataSet ds;
    ds.Records = "saved";
    ds.Changed = true;
    EXPECT_FALSE(db.SaveDataSet("t.dat", nullptr));
    ds.SaveOptions = false;
    EXPECT_FALSE(db.SaveDataSet("t.dat", &ds));
    ds.SaveOptions = true;
    ds.IsActive = false;
    EXPECT_FALSE(db.SaveDataSet("t.dat", &ds));
    ds.IsActive = true;
    EXPECT_TRUE(db.SaveDataSet("t.dat", &ds));
    EXPECT_FALSE(ds.Changed);
    fs->ChangeDir("\\GC");
    EXPECT_EQ(ReadContainerFile(*fs, "t.dat"), "saved");
  }
  TsfsDatabase db;
  db.SetDataPath("GC");
  db.OpenDatabase(path);
  TTestDataSet ds;
  ds.IsActive = false;
  EXPECT_FALSE(db.LoadDataSet("missing.dat", &ds));
  EXPECT_FALSE(db.LoadDataSet("t.dat", nullptr));
  EXPECT_TRUE(db.LoadDataSet("t.dat", &ds));
  EXPECT_EQ(ds.Records, "saved");
  EXPECT_TRUE(ds.IsActive);
  ds.FailLoad = true;
  EXPECT_FALSE(db.LoadDataSet("t.dat", &ds));
}

TEST(SFSDatabase, OpenContainerCreatesOrOpensByModeAndToken) {
  TTempDir dir;
  const std::string path = dir / "c";
  {
    auto fs = OpenContainer(ModeCreate, path, "pw");
    EXPECT_TRUE(fs->IsEncrypted());
  }
  EXPECT_TRUE(IsFileEncrypted(path));
  EXPECT_NO_THROW(OpenContainer(ModeReadOnly, path, "pw"));
  const std::string plain = dir / "p";
  OpenContainer(ModeCreate, plain, "");
  EXPECT_FALSE(IsFileEncrypted(plain));
  // Opened for writing with a token, an unencrypted container takes it.
  OpenContainer(ModeReadWrite, plain, "pw");
  EXPECT_TRUE(IsFileEncrypted(plain));
  EXPECT_TRUE(CheckPassword(plain, "pw"));
}

}  // namespace
}  // namespace zk
