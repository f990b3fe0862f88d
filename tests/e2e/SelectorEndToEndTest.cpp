// Runs the real ZKselector binary on project documents made with the engine,
// with a stand-in pricing program (a script named zk2016.exe that records its
// path and arguments) and a registry file under a temporary XDG_CONFIG_HOME.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "container/api/BuiltInKeys.h"
#include "container/api/FileStream.h"
#include "container/api/SingleFileSystem.h"
#include "container/compress/SFSCompress.h"
#include "platform/os/AnsiCodePage.h"

extern char** environ;

namespace zk {
namespace {

namespace fs = std::filesystem;
using os::Utf8ToAnsi;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void MakeExecutable(const std::string& path) {
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                  fs::perm_options::replace);
}

// One file inside a document: its container path ("GC\PROFILE.INI") and its
// content, both GBK.
struct TDocFile {
  AnsiString Path;
  AnsiString Content;
};

// A project document at a UTF-8 host path, made with the engine.
void MakeDocument(const std::string& path, const std::vector<TDocFile>& files,
                  const AnsiString& password = {}, uint8_t method = 0) {
  fs::create_directories(fs::path(path).parent_path());
  auto container = Tv9FileSystem::Create(Utf8ToAnsi(path), ModeCreate, password);
  for (const TDocFile& file : files) {
    container->ChangeDir("\\");
    AnsiString name = file.Path;
    const size_t slash = name.rfind('\\');
    if (slash != AnsiString::npos) {
      ASSERT_TRUE(container->ForceDirectories(name.substr(0, slash)));
      ASSERT_TRUE(container->ChangeDir(name.substr(0, slash)));
      name = name.substr(slash + 1);
    }
    Tv9Stream out(container.get(), name, ModeCreate, method);
    out.WriteBuffer(file.Content.data(), static_cast<int32_t>(file.Content.size()));
  }
}

AnsiString Profile(const std::string& productUtf8) {
  return "[FILEINFO]\r\nProductName=" + Utf8ToAnsi(productUtf8) + "\r\n";
}

struct TResult {
  int Status = -1;
  std::string Err;
};

class SelectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(ZK_TEST_TMPDIR);
    std::string pattern = std::string(ZK_TEST_TMPDIR) + "/e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Root = pattern;
    fs::create_directories(Root + "/config/ZKselector");
    fs::create_directories(Root + "/home");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(Root, ec);
  }

  // A copy of ZKselector in Folder: the default install paths start there.
  std::string CopySelector(const std::string& Folder) {
    fs::create_directories(Folder);
    std::string copy = Folder + "/ZKselector";
    fs::copy_file(ZK_SELECTOR_PATH, copy, fs::copy_options::overwrite_existing);
    MakeExecutable(copy);
    return copy;
  }

  // A stand-in program that writes its own path and its arguments, each
  // ended by a NUL, to "received" beside itself (renamed into place whole).
  static std::string MakeProgram(const std::string& Path) {
    WriteFile(Path,
              "#!/bin/sh\n"
              "dir=$(dirname \"$0\")\n"
              "printf '%s\\0' \"$0\" \"$@\" > \"$dir/received.tmp\" && "
              "mv \"$dir/received.tmp\" \"$dir/received\"\n");
    MakeExecutable(Path);
    return Path;
  }

  // What the stand-in program in Folder received; empty when it did not run.
  // A started program runs on its own, so its record is waited for.
  static std::vector<std::string> Received(const std::string& Folder, bool Wait = true) {
    const std::string record = Folder + "/received";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Wait && !fs::exists(record) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> words;
    std::string bytes = ReadFile(record);
    for (size_t start = 0; start < bytes.size();) {
      size_t end = bytes.find('\0', start);
      if (end == std::string::npos) end = bytes.size();
      words.push_back(bytes.substr(start, end - start));
      start = end + 1;
    }
    return words;
  }

  // The user's registry file (UTF-8) with these keys.
  void Register(const std::string& Keys) {
    WriteFile(Root + "/config/ZKselector/registry.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n" + Keys);
  }
  void RegisterProgram(const std::string& Product, const std::string& ProgramPath) {
    std::string escaped;
    for (char c : ProgramPath) {
      if (c == '\\' || c == '"') escaped += '\\';
      escaped += c;
    }
    Register("[HKEY_CLASSES_ROOT\\selector_ZK.Document\\" + Product + "]\r\n@=\"" + escaped +
             "\"\r\n");
  }

  // Runs Exe with Args in an environment without a display (so no dialog
  // ever opens), with the temporary configuration and home folders, and
  // without a controlling terminal.
  TResult Run(const std::vector<std::string>& Args, std::string Exe = ZK_SELECTOR_PATH) {
    const std::string errPath = Root + "/stderr.txt";
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      std::string name = entry.substr(0, entry.find('='));
      if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "XDG_CONFIG_HOME" ||
          name == "HOME")
        continue;
      env.push_back(entry);
    }
    env.push_back("XDG_CONFIG_HOME=" + Root + "/config");
    env.push_back("HOME=" + Root + "/home");
    std::vector<std::string> argv8 = {Exe};
    argv8.insert(argv8.end(), Args.begin(), Args.end());
    std::vector<char*> argv, envp;
    for (std::string& a : argv8) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    TResult result;
    int rc = posix_spawn(&pid, Exe.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
      ADD_FAILURE() << "cannot start " << Exe;
      return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Err = ReadFile(errPath);
    return result;
  }

  std::string Root;
};

TEST_F(SelectorTest, OpensEveryKindOfDocumentInTheRegisteredProgram) {
  struct Case {
    const char* what;
    AnsiString password;
    uint8_t method;
    const char* profilePath;
  } cases[] = {
      {"unencrypted", "", 0, "GC\\PROFILE.INI"},
      {"current built-in password", GetCurrentBuiltInPassword(), 0, "GC\\PROFILE.INI"},
      {"legacy built-in password", GetLegacyBuiltInPassword(), 0, "GC\\PROFILE.INI"},
      {"zlib", "", 2, "GC\\PROFILE.INI"},
      {"bzip2", "", 8, "GC\\PROFILE.INI"},
      {"PPM", GetCurrentBuiltInPassword(), 6, "GC\\PROFILE.INI"},
      {"profile at the root, no folder GC", "", 0, "PROFILE.INI"},
  };
  const std::string program = MakeProgram(Root + "/prog/zk2016.exe");
  RegisterProgram("ZK2016", program);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string doc = Root + "/docs/doc" + std::to_string(n++) + ".zbj";
    // The other file lies beside the profile (so the root case has no GC).
    const AnsiString profilePath = c.profilePath;
    const AnsiString other = profilePath.substr(0, profilePath.rfind('\\') + 1) + "DATA.BIN";
    MakeDocument(doc, {{profilePath, Profile("ZK2016")}, {other, "data"}}, c.password, c.method);
    const std::string before = ReadFile(doc);
    fs::remove(Root + "/prog/received");

    TResult r = Run({doc});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(Received(Root + "/prog"), (std::vector<std::string>{program, doc}));
    EXPECT_EQ(ReadFile(doc), before);  // never written, not even re-keyed
    EXPECT_EQ(IsFileEncrypted(Utf8ToAnsi(doc)), !c.password.empty());
  }
}

TEST_F(SelectorTest, AChineseProductFallsBackFromAMissingRegisteredFileToTheDefaultPath) {
  const std::string selector = CopySelector(Root + "/bin");
  const std::string program = MakeProgram(Root + "/bin/计价软件/计价程序/zk2016.exe");
  Register("[HKEY_CLASSES_ROOT\\selector_ZK.Document\\计价软件]\r\n@=\"" + Root +
           "/gone/zk2016.exe\"\r\n");
  const std::string doc = Root + "/工程 文件.zbj";
  MakeDocument(doc, {{"GC\\PROFILE.INI", Profile("计价软件")}}, GetCurrentBuiltInPassword());

  TResult r = Run({doc}, selector);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(Received(Root + "/bin/计价软件/计价程序"), (std::vector<std::string>{program, doc}));
}

TEST_F(SelectorTest, AnUnquotedPathWithBlanksIsOneDocumentAndTheProgramIsStartedByItsPath) {
  const std::string program = MakeProgram(Root + "/Pricing Programs/ZK 2016/zk2016.exe");
  // What a search over prefixes of the unquoted program path would start.
  MakeProgram(Root + "/Pricing");
  RegisterProgram("ZK2016", program);
  const std::string doc = Root + "/My Docs/a b.zbj";
  MakeDocument(doc, {{"GC\\PROFILE.INI", Profile("ZK2016")}});

  // The path as one argument, and in words as an unquoted command line gives it.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{doc}, std::vector<std::string>{Root + "/My", "Docs/a", "b.zbj"}}) {
    fs::remove(Root + "/Pricing Programs/ZK 2016/received");
    TResult r = Run(args);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(Received(Root + "/Pricing Programs/ZK 2016"),
              (std::vector<std::string>{program, doc}));
  }
  EXPECT_TRUE(Received(Root, false).empty());
}

TEST_F(SelectorTest, ADocumentWithoutProfileNamesNoProduct) {
  const std::string selector = CopySelector(Root + "/bin");
  const std::string doc = Root + "/doc.zbj";
  MakeDocument(doc, {{"GC\\DATA.BIN", "data"}});
  TResult r = Run({doc}, selector);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "提示\n未找到安装的软件 - , 无法打开该文件.\n");
}

TEST_F(SelectorTest, NoInstalledProgramEndsInTheMessage) {
  const std::string selector = CopySelector(Root + "/bin");
  const std::string doc = Root + "/doc.zbj";
  MakeDocument(doc, {{"GC\\PROFILE.INI", Profile("ZK2016")}});
  TResult r = Run({doc}, selector);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "提示\n未找到安装的软件 - ZK2016, 无法打开该文件.\n");
}

TEST_F(SelectorTest, ARegistryDefaultValueOfAnotherTypeIsAnUnhandledError) {
  Register("[HKEY_CLASSES_ROOT\\selector_ZK.Document\\ZK2016]\r\n@=dword:00000001\r\n");
  const std::string doc = Root + "/doc.zbj";
  MakeDocument(doc, {{"GC\\PROFILE.INI", Profile("ZK2016")}});
  TResult r = Run({doc});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err, "ZKselector: Invalid data type for ''\n");
}

TEST_F(SelectorTest, AProductNameThatLeavesTheInstallFolderIsLookedUpNowhere) {
  const std::string selector = CopySelector(Root + "/bin/sel");
  // Where the name would lead, by the registry and by the default path.
  MakeProgram(Root + "/evil/zk2016.exe");
  MakeProgram(Root + "/bin/sel/../../evil/计价程序/zk2016.exe");
  RegisterProgram("..\\..\\evil", Root + "/evil/zk2016.exe");
  const std::string doc = Root + "/doc.zbj";
  MakeDocument(doc, {{"GC\\PROFILE.INI", Profile("..\\..\\evil")}});

  TResult r = Run({doc}, selector);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "提示\n未找到安装的软件 - ..\\..\\evil, 无法打开该文件.\n");
  EXPECT_TRUE(Received(Root + "/evil", false).empty());
  EXPECT_TRUE(Received(Root + "/evil/计价程序", false).empty());
}

TEST_F(SelectorTest, ADocumentPathOf255GbkBytesOpensAndOneOf256IsTooLong) {
  const std::string program = MakeProgram(Root + "/prog/zk2016.exe");
  RegisterProgram("ZK2016", program);
  // A folder of 30 Chinese characters: 60 bytes in GBK, 90 in UTF-8.
  std::string folder;
  for (int i = 0; i < 30; ++i) folder += "档";
  const size_t fixed = Root.size() + 1 + 60 + 1;
  ASSERT_LT(fixed + 10, 255u) << "temporary folder too long for this test";
  for (size_t length : {255u, 256u}) {
    SCOPED_TRACE(length);
    const std::string doc =
        Root + "/" + folder + "/" + std::string(length - fixed - 4, 'd') + ".zbj";
    ASSERT_EQ(Utf8ToAnsi(doc).size(), length);
    MakeDocument(doc, {{"GC\\PROFILE.INI", Profile("ZK2016")}});
    fs::remove(Root + "/prog/received");
    TResult r = Run({doc});
    if (length == 255) {
      EXPECT_EQ(r.Status, 0);
      EXPECT_EQ(r.Err, "");
      EXPECT_EQ(Received(Root + "/prog"), (std::vector<std::string>{program, doc}));
    } else {
      EXPECT_EQ(r.Status, 1);
      EXPECT_EQ(r.Err, "提示\n文件名为:" + doc +
                           "\n长度为256\n文件或文件夹名称过长！\n请检查修改后重试。\n");
      EXPECT_TRUE(Received(Root + "/prog", false).empty());
    }
  }
}

TEST_F(SelectorTest, AMissingDocumentIsReportedAndNotCreated) {
  const std::string program = MakeProgram(Root + "/prog/zk2016.exe");
  RegisterProgram("ZK2016", program);
  const std::string doc = Root + "/missing.zbj";
  TResult r = Run({doc});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "提示\n\n" + doc + "\n无法找到该文件！\n请检查修改后重试。\n");
  EXPECT_FALSE(fs::exists(doc));

  // Nothing at all after the program path.
  r = Run({});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "提示\n\n\n无法找到该文件！\n请检查修改后重试。\n");
}

TEST_F(SelectorTest, ADamagedDocumentEndsInItsErrorAndStaysAsItWas) {
  const std::string program = MakeProgram(Root + "/prog/zk2016.exe");
  RegisterProgram("ZK2016", program);
  const AnsiString profile = Profile("ZK2016") + AnsiString(2000, ';') + "\r\n";

  // A byte of the container header.
  const std::string header = Root + "/header.zbj";
  MakeDocument(header, {{"GC\\PROFILE.INI", profile}});
  std::string bytes = ReadFile(header);
  bytes[280 + 40] = static_cast<char>(bytes[280 + 40] ^ 0x01);
  WriteFile(header, bytes);
  TResult r = Run({header});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err,
            "ZKselector: TSingleFileSystem.LoadHeader - Invalid SFS file, header is corrupted.\n");
  EXPECT_EQ(ReadFile(header), bytes);

  // A byte inside the compressed profile.
  const std::string data = Root + "/data.zbj";
  MakeDocument(data, {{"GC\\PROFILE.INI", profile}}, {}, 2);
  std::vector<uint8_t> packed;
  int32_t packedSize = 0;
  ASSERT_TRUE(
      CompressBuffer(profile.data(), static_cast<int32_t>(profile.size()), packed, 2, packedSize));
  bytes = ReadFile(data);
  const size_t at = bytes.find(std::string(packed.begin(), packed.begin() + packedSize));
  ASSERT_NE(at, std::string::npos);
  bytes[at + static_cast<size_t>(packedSize) / 2] ^= 0x10;
  WriteFile(data, bytes);
  r = Run({data});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err.rfind("ZKselector: ", 0), 0u) << r.Err;
  EXPECT_EQ(ReadFile(data), bytes);
  EXPECT_TRUE(Received(Root + "/prog", false).empty());
}

}  // namespace
}  // namespace zk
