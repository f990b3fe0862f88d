// The real sfs binary over every command: containers with and without a
// password, built-in keyed documents (never re-keyed), every compression
// method, files with their own password, Chinese names, multi-part
// containers, a replacing put that fails half-way, and damaged containers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "container/api/BuiltInKeys.h"
#include "container/api/FileStream.h"
#include "container/api/SingleFileSystem.h"
#include "container/engine/DIRManager.h"
#include "tests/e2e/sfs/SfsRunner.h"

namespace zk::e2e {
namespace {

using ::testing::HasSubstr;

class Sfs : public ::testing::Test {
 protected:
  TRun Run(const std::vector<std::string>& Args, const TRunOptions& Options = {}) const {
    return Dir.Sfs(Args, Options);
  }
  // Runs and expects success; returns standard output.
  std::string Ok(const std::vector<std::string>& Args, const TRunOptions& Options = {}) const {
    const TRun run = Run(Args, Options);
    EXPECT_EQ(run.Status, 0) << Joined(Args) << "\n" << run.Err;
    return run.Out;
  }
  // Runs and expects Status with one "sfs: " line on standard error.
  std::string Fails(const std::vector<std::string>& Args, int Status = 1) const {
    const TRun run = Run(Args);
    EXPECT_EQ(run.Status, Status) << Joined(Args) << "\n" << run.Out;
    EXPECT_EQ(run.Err.rfind("sfs: ", 0), 0u) << run.Err;
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
    return run.Err;
  }
  static std::string Joined(const std::vector<std::string>& Args) {
    std::string text = "sfs";
    for (const std::string& a : Args) text += " " + a;
    return text;
  }
  std::string Host(const std::string& Name) const { return Dir / Name; }
  std::string Bytes(const std::string& Name) const { return ReadHost(Host(Name)); }
  void Make(const std::string& Name, const std::string& Content) const {
    WriteHost(Host(Name), Content);
  }

  TScratch Dir;
};

// --- The command line ---

TEST_F(Sfs, HelpUsageAndExitStatuses) {
  EXPECT_THAT(Ok({"--help"}), HasSubstr("Usage: sfs COMMAND"));
  EXPECT_THAT(Ok({"help", "put"}), HasSubstr("Usage: sfs put"));
  EXPECT_THAT(Ok({"ls", "--help"}), HasSubstr("Usage: sfs ls [-l] [-R] DOC [PATH]"));
  EXPECT_THAT(Ok({"--version"}), HasSubstr("sfs "));
  EXPECT_THAT(Fails({}, 2), HasSubstr("no command"));
  EXPECT_THAT(Fails({"frobnicate", "x"}, 2), HasSubstr("unknown command 'frobnicate'"));
  EXPECT_THAT(Fails({"ls"}, 2), HasSubstr("missing arguments"));
  EXPECT_THAT(Fails({"ls", "a", "b", "c"}, 2), HasSubstr("too many arguments"));
  EXPECT_THAT(Fails({"ls", "--bogus", "doc"}, 2), HasSubstr("unknown option '--bogus'"));
  EXPECT_THAT(Fails({"create", "--compression", "12", "x.sfs"}, 2),
              HasSubstr("unknown compression method"));
  EXPECT_THAT(Fails({"create", "--page-size", "4k5", "x.sfs"}, 2), HasSubstr("page-size"));
  EXPECT_THAT(Fails({"create", "--question", "q", "x.sfs"}, 2), HasSubstr("--answer"));
  EXPECT_FALSE(fs::exists(Host("x.sfs")));
  // Errors of the work itself are status 1.
  EXPECT_THAT(Fails({"ls", "missing.sfs"}), HasSubstr("File 'missing.sfs' not found"));
  Make("plain.txt", "not a container at all, just some text that is long enough to be read");
  Fails({"info", "plain.txt"});
}

TEST_F(Sfs, OptionsAnywhereCombinedFlagsAndDoubleDash) {
  Ok({"create", "d.sfs"});
  Make("-odd.txt", "odd");
  Make("a.txt", "a");
  Ok({"put", "d.sfs", "--", "-odd.txt", "/x/-odd.txt"});
  Ok({"put", "--compression=2", "d.sfs", "a.txt", "/x/a.txt"});
  Ok({"--compression", "9", "put", "d.sfs", "a.txt", "/x/b.txt"});
  Ok({"put", "d.sfs", "a.txt", "/x/c.txt", "--compression", "zlib-best"});
  const std::string listing = Ok({"ls", "d.sfs", "-lR"});
  EXPECT_EQ(Ok({"ls", "-R", "-l", "d.sfs"}), listing);
  EXPECT_EQ(Ok({"ls", "--long", "--recursive", "d.sfs"}), listing);
  const auto lines = Lines(listing);
  ASSERT_EQ(lines.size(), 5u) << listing;
  EXPECT_THAT(lines[1], HasSubstr("/x/-odd.txt"));
  EXPECT_EQ(lines[2].substr(0, 2), "f ");
  EXPECT_THAT(lines[2], HasSubstr(" - 2 /x/a.txt"));
  EXPECT_THAT(lines[3], HasSubstr(" - 9 /x/b.txt"));
  EXPECT_THAT(lines[4], HasSubstr(" - 5 /x/c.txt"));
  EXPECT_EQ(Ok({"cat", "d.sfs", "x/-odd.txt"}), "odd");
}

// --- create and info ---

TEST_F(Sfs, CreateAndInfo) {
  Ok({"create", "--page-size", "8K", "--extent-pages", "16", "--compression", "bzip2", "d.sfs"});
  const std::string info = Ok({"info", "d.sfs"});
  for (const char* line :
       {"page size: 8192\n", "extent page count: 16\n", "page count: 1\n",
        "encryption type: 0 (none)\n", "default compression method: 8 (bzip2, normal)\n",
        "directory page count: 0\n", "first directory page: 0\n", "directory item count: 0\n",
        "GAM page count: 0\n", "PFS page count: 0\n", "app value: 0\n", "container size: 438\n",
        "part files: 1\n", "part file 1: d.sfs\n"})
    EXPECT_THAT(info, HasSubstr(line));
  EXPECT_THAT(info, HasSubstr("part size: "));
  // An existing file is never overwritten.
  const std::string before = Bytes("d.sfs");
  EXPECT_THAT(Fails({"create", "d.sfs"}), HasSubstr("exists already"));
  EXPECT_EQ(Bytes("d.sfs"), before);
  // A creation the engine refuses leaves no file.
  EXPECT_THAT(Fails({"create", "--page-size", "100", "small.sfs"}), HasSubstr("page size"));
  EXPECT_THAT(Fails({"create", "-p", std::string(40, 'x'), "long.sfs"}), HasSubstr("32"));
  EXPECT_FALSE(fs::exists(Host("small.sfs")));
  EXPECT_FALSE(fs::exists(Host("long.sfs")));
}

// --- Compression methods ---

TEST_F(Sfs, EveryCompressionMethodRoundTrips) {
  Ok({"create", "d.sfs"});
  // Over one block of every method, so that each file has two blocks.
  const std::string content = TextBytes(1600 * 1024, 7) + RandomBytes(4000, 8);
  Make("in.bin", content);
  for (int method = 0; method <= 9; ++method) {
    SCOPED_TRACE(method);
    const std::string name = "/m" + std::to_string(method) + ".bin";
    Ok({"put", "--compression", std::to_string(method), "d.sfs", "in.bin", name});
    EXPECT_EQ(Ok({"cat", "d.sfs", name}), content);
    const std::string raw = Ok({"cat", "--raw", "d.sfs", name});
    if (method == 0) {
      EXPECT_EQ(raw, content);
    } else {
      ASSERT_GT(raw.size(), 128u);
      EXPECT_EQ(raw.substr(0, 4), std::string("\x0A\x12\x06\x01", 4));
      EXPECT_EQ(static_cast<int>(raw[20]), method);
      EXPECT_LT(raw.size(), content.size());
    }
    EXPECT_THAT(Ok({"ls", "-l", "d.sfs", name}),
                HasSubstr(" " + std::to_string(content.size()) + " "));
    EXPECT_THAT(Ok({"ls", "-l", "d.sfs", name}),
                HasSubstr(" - " + std::to_string(method) + " " + name));
  }
  EXPECT_THAT(Ok({"verify", "d.sfs"}), HasSubstr("10 files checked, 0 damaged"));
}

TEST_F(Sfs, ContainerDefaultMethodAndUncompressedOverride) {
  Ok({"create", "--compression", "ppm-fast", "d.sfs"});
  Make("t.txt", TextBytes(20000, 1));
  Ok({"put", "d.sfs", "t.txt", "/default.txt"});
  Ok({"put", "--compression", "0", "d.sfs", "t.txt", "/stored.txt"});
  EXPECT_THAT(Ok({"ls", "-l", "d.sfs", "default.txt"}), HasSubstr(" - 6 /default.txt"));
  EXPECT_THAT(Ok({"ls", "-l", "d.sfs", "stored.txt"}), HasSubstr(" - 0 /stored.txt"));
  EXPECT_EQ(Ok({"cat", "--raw", "d.sfs", "stored.txt"}), Bytes("t.txt"));
  EXPECT_EQ(Ok({"cat", "d.sfs", "default.txt"}), Bytes("t.txt"));
}

TEST_F(Sfs, UncompressedContentWithTheStreamSignatureIsCompressedInstead) {
  Ok({"create", "d.sfs"});
  const std::string tricky = std::string("\x0A\x12\x06\x01", 4) + RandomBytes(300, 2);
  Make("sig.bin", tricky);
  const TRun run = Run({"put", "d.sfs", "sig.bin"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_THAT(run.Err, HasSubstr("method 1"));
  EXPECT_EQ(Ok({"cat", "d.sfs", "sig.bin"}), tricky);
  EXPECT_THAT(Ok({"ls", "-l", "d.sfs", "sig.bin"}), HasSubstr(" - 1 /sig.bin"));
}

// --- Standard input and output, get ---

TEST_F(Sfs, StandardInputGetAndFolderTrees) {
  Ok({"create", "d.sfs"});
  const std::string binary = RandomBytes(70000, 3) + std::string("\0\r\n\x1A", 4);
  Make("stdin.bin", binary);
  TRunOptions fromFile;
  fromFile.Stdin = Host("stdin.bin");
  Ok({"put", "d.sfs", "-", "/in/piped.bin"}, fromFile);
  EXPECT_EQ(Ok({"cat", "d.sfs", "/in/piped.bin"}), binary);
  EXPECT_THAT(Fails({"put", "d.sfs", "-"}, 2), HasSubstr("DEST"));
  EXPECT_THAT(Fails({"put", "d.sfs", "-", "/in/"}, 2), HasSubstr("DEST"));

  Make("tree/a.txt", "alpha");
  Make("tree/sub/b.txt", "beta");
  Make("tree/sub/deeper/c.bin", RandomBytes(200000, 4));
  Make("tree/empty/.keep", "");
  EXPECT_THAT(Fails({"put", "d.sfs", "tree"}), HasSubstr("use -r"));
  Ok({"put", "-r", "--compression", "8", "d.sfs", "tree", "/copy"});
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs", "copy"}),
            "/copy/a.txt\n/copy/empty\n/copy/empty/.keep\n/copy/sub\n/copy/sub/b.txt\n"
            "/copy/sub/deeper\n/copy/sub/deeper/c.bin\n");
  // Into an existing folder the contents merge (no extra level).
  Ok({"put", "-r", "d.sfs", "tree/sub", "/copy"});
  EXPECT_THAT(Ok({"ls", "d.sfs", "copy"}), HasSubstr("/copy/deeper\n"));

  Ok({"get", "-r", "d.sfs", "/copy", "out"});
  EXPECT_EQ(Bytes("out/a.txt"), "alpha");
  EXPECT_EQ(Bytes("out/sub/deeper/c.bin"), Bytes("tree/sub/deeper/c.bin"));
  EXPECT_TRUE(fs::is_directory(Host("out/empty")));
  Ok({"get", "d.sfs", "/copy/a.txt"});
  EXPECT_EQ(Bytes("a.txt"), "alpha");
  fs::create_directories(Host("into"));
  Ok({"get", "d.sfs", "/copy/sub/b.txt", "into"});
  EXPECT_EQ(Bytes("into/b.txt"), "beta");
  Ok({"get", "d.sfs", "/copy/sub/b.txt", "renamed.txt"});
  EXPECT_EQ(Bytes("renamed.txt"), "beta");
  EXPECT_THAT(Fails({"get", "d.sfs", "/copy"}), HasSubstr("use -r"));
  EXPECT_THAT(Fails({"get", "d.sfs", "/none"}), HasSubstr("/none"));
  // No partial or temporary host files are left anywhere.
  for (const auto& e : fs::recursive_directory_iterator(Dir.Path()))
    EXPECT_EQ(e.path().filename().string().find(".sfs-"), std::string::npos) << e.path();
}

// --- Folders: mkdir, rm, mv ---

TEST_F(Sfs, MkdirRmAndMv) {
  Ok({"create", "d.sfs"});
  Make("f.txt", "file");
  Ok({"mkdir", "d.sfs", "/a/b/c"});
  Ok({"mkdir", "d.sfs", "/a/b"});  // there already: fine
  Ok({"put", "d.sfs", "f.txt", "/a/f.txt"});
  EXPECT_THAT(Fails({"mkdir", "d.sfs", "/a/f.txt/x"}), HasSubstr("not a folder"));

  Ok({"mv", "d.sfs", "/a/f.txt", "/a/g.txt"});      // rename
  Ok({"mv", "d.sfs", "/a/g.txt", "/a/b"});          // into a folder
  Ok({"mv", "d.sfs", "/a/b", "/top"});              // a folder with its contents
  Ok({"mv", "d.sfs", "/top/g.txt", "/top/G.TXT"});  // a change of case
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "/a\n/top\n/top/c\n/top/G.TXT\n");
  EXPECT_EQ(Ok({"cat", "d.sfs", "/top/g.txt"}), "file");  // names match in any case

  Ok({"put", "d.sfs", "f.txt", "/top/other.txt"});
  EXPECT_THAT(Fails({"mv", "d.sfs", "/top/G.TXT", "/top/other.txt"}), HasSubstr("exists"));
  EXPECT_THAT(Fails({"mv", "d.sfs", "/top", "/top/c/inside"}), HasSubstr("into itself"));
  EXPECT_THAT(Fails({"mv", "d.sfs", "/none", "/x"}), HasSubstr("no such"));
  EXPECT_THAT(Fails({"mv", "d.sfs", "/top/G.TXT", "/missing/x"}), HasSubstr("no such folder"));

  EXPECT_THAT(Fails({"rm", "d.sfs", "/top"}), HasSubstr("not empty"));
  EXPECT_THAT(Fails({"rm", "d.sfs", "/"}), HasSubstr("root"));
  Ok({"rm", "d.sfs", "/top/other.txt"});
  Ok({"rm", "d.sfs", "/a"});
  Ok({"rm", "-r", "d.sfs", "/top"});
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "");
  EXPECT_THAT(Fails({"rm", "d.sfs", "/top"}), HasSubstr("no such"));
}

// --- Replacing files ---

TEST_F(Sfs, PutReplacesAFileOnlyWhenTheNewOneIsComplete) {
  Ok({"create", "d.sfs"});
  const std::string old = RandomBytes(100000, 10);
  Make("old.bin", old);
  Make("new.bin", RandomBytes(3000000, 11));
  Ok({"put", "d.sfs", "old.bin", "/f.bin"});
  const int64_t size = static_cast<int64_t>(fs::file_size(Host("d.sfs")));

  // The container may not grow past a limit far below the new content: the
  // write fails half-way.
  TRunOptions limited;
  limited.FileSizeLimit = size + 600000;
  const TRun run = Run({"put", "d.sfs", "new.bin", "/f.bin"}, limited);
  EXPECT_EQ(run.Status, 1);
  EXPECT_THAT(run.Err, HasSubstr("/f.bin"));
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "/f.bin\n");  // no temporary file left
  EXPECT_EQ(Ok({"cat", "d.sfs", "/f.bin"}), old);
  EXPECT_THAT(Ok({"verify", "d.sfs"}), HasSubstr("1 files checked, 0 damaged"));

  // Without the limit the same put replaces it.
  Ok({"put", "d.sfs", "new.bin", "/f.bin"});
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "/f.bin\n");
  EXPECT_EQ(Ok({"cat", "d.sfs", "/f.bin"}), Bytes("new.bin"));
  // A new file that fails half-way leaves nothing behind either.
  const TRun fresh = Run({"put", "d.sfs", "new.bin", "/second.bin"}, [&] {
    TRunOptions o;
    o.FileSizeLimit = static_cast<int64_t>(fs::file_size(Host("d.sfs"))) + 300000;
    return o;
  }());
  EXPECT_EQ(fresh.Status, 1);
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "/f.bin\n");
  // A folder is never replaced by a file: a folder DEST takes the file in,
  // and a folder of the file's name there is refused.
  Ok({"mkdir", "d.sfs", "/dir/old.bin"});
  EXPECT_THAT(Fails({"put", "d.sfs", "old.bin", "/dir"}), HasSubstr("/dir/old.bin: is a folder"));
  Ok({"put", "d.sfs", "old.bin", "/dir/old.bin/"});
  EXPECT_EQ(Ok({"cat", "d.sfs", "/dir/old.bin/old.bin"}), old);
}

// --- Passwords ---

TEST_F(Sfs, ContainerWithAPassword) {
  Ok({"create", "-p", "s3cret", "--question", "pet?", "--answer", "cat", "d.sfs"});
  Make("f.txt", "secret text");
  Make("pw.txt", "s3cret\n");
  EXPECT_THAT(Fails({"put", "d.sfs", "f.txt"}), HasSubstr("--password"));
  Ok({"put", "-p", "s3cret", "d.sfs", "f.txt"});
  EXPECT_EQ(Ok({"cat", "--password-file", "pw.txt", "d.sfs", "f.txt"}), "secret text");
  EXPECT_THAT(Fails({"cat", "-p", "wrong", "d.sfs", "f.txt"}), HasSubstr("invalid password"));
  EXPECT_THAT(Ok({"info", "-ps3cret", "d.sfs"}), HasSubstr("encryption type: 1 (Rijndael)"));
  EXPECT_THAT(Ok({"info", "-ps3cret", "d.sfs"}), HasSubstr("password: own password"));
  // The pages are enciphered: the text is nowhere in the file.
  EXPECT_EQ(Bytes("d.sfs").find("secret text"), std::string::npos);

  // Change it, then remove it.
  Ok({"passwd", "-p", "s3cret", "--new", "other", "--question", "q", "--answer", "a", "d.sfs"});
  Fails({"ls", "-p", "s3cret", "d.sfs"});
  EXPECT_EQ(Ok({"cat", "-p", "other", "d.sfs", "f.txt"}), "secret text");
  Ok({"passwd", "-p", "other", "d.sfs"});
  EXPECT_THAT(Ok({"info", "d.sfs"}), HasSubstr("encryption type: 0 (none)"));
  EXPECT_EQ(Ok({"cat", "d.sfs", "f.txt"}), "secret text");
  EXPECT_NE(Bytes("d.sfs").find("secret text"), std::string::npos);
  // Nothing to remove any more.
  const TRun none = Run({"passwd", "d.sfs"});
  EXPECT_EQ(none.Status, 0);
  EXPECT_THAT(none.Err, HasSubstr("no password"));
  // And a password set on an unencrypted container.
  Ok({"passwd", "--new", "fresh", "d.sfs"});
  EXPECT_EQ(Ok({"cat", "-p", "fresh", "d.sfs", "f.txt"}), "secret text");
  Fails({"cat", "d.sfs", "f.txt"});
}

TEST_F(Sfs, FilesWithTheirOwnPassword) {
  Ok({"create", "d.sfs"});
  Make("f.txt", TextBytes(5000, 3));
  Ok({"put", "--file-password", "fp", "--compression", "2", "d.sfs", "f.txt", "/own.txt"});
  Ok({"put", "--file-password", "fp", "--compression", "0", "d.sfs", "f.txt", "/own0.txt"});
  EXPECT_THAT(Ok({"ls", "-l", "d.sfs"}), HasSubstr(" p ? /own.txt"));
  EXPECT_THAT(Fails({"cat", "d.sfs", "/own.txt"}), HasSubstr("--file-password"));
  EXPECT_THAT(Fails({"cat", "--file-password", "nope", "d.sfs", "/own.txt"}), HasSubstr("wrong"));
  EXPECT_EQ(Ok({"cat", "--file-password", "fp", "d.sfs", "/own.txt"}), Bytes("f.txt"));
  EXPECT_EQ(Ok({"cat", "--file-password", "fp", "d.sfs", "/own0.txt"}), Bytes("f.txt"));
  Ok({"get", "--file-password", "fp", "d.sfs", "/own.txt", "back.txt"});
  EXPECT_EQ(Bytes("back.txt"), Bytes("f.txt"));
  // verify checks their pages; their contents need the password.
  const TRun verify = Run({"verify", "d.sfs"});
  EXPECT_EQ(verify.Status, 0);
  EXPECT_THAT(verify.Err, HasSubstr("/own.txt: has a password of its own"));
  EXPECT_EQ(Run({"verify", "--file-password", "fp", "d.sfs"}).Err, "");
  // They survive a change of the container's password.
  Ok({"passwd", "--new", "cpw", "d.sfs"});
  EXPECT_EQ(Ok({"cat", "-p", "cpw", "--file-password", "fp", "d.sfs", "/own.txt"}), Bytes("f.txt"));
}

// --- Built-in passwords ---

TEST_F(Sfs, BuiltInDocumentsOpenWithoutAPasswordAndReadingNeverWrites) {
  Ok({"create", "--builtin", "doc.sfs"});
  const std::string profile = "[FILEINFO]\r\nProductName=" + os::Utf8ToAnsi("计价软件") + "\r\n";
  Make("PROFILE.INI", profile);
  Ok({"put", "doc.sfs", "PROFILE.INI", "/GC/PROFILE.INI"});
  Make("big.bin", RandomBytes(50000, 5));
  Ok({"put", "--compression", "7", "doc.sfs", "big.bin", "/data/big.bin"});
  EXPECT_TRUE(IsFileEncrypted(os::Utf8ToAnsi(Host("doc.sfs"))));
  EXPECT_TRUE(CheckPassword(os::Utf8ToAnsi(Host("doc.sfs")), GetCurrentBuiltInPassword()));
  EXPECT_THAT(Ok({"info", "doc.sfs"}), HasSubstr("password: built-in (current)"));

  const std::string before = Bytes("doc.sfs");
  const auto stamp = fs::last_write_time(Host("doc.sfs"));
  EXPECT_EQ(Ok({"product", "doc.sfs"}), "计价软件\n");
  Ok({"ls", "-lR", "doc.sfs"});
  EXPECT_EQ(Ok({"cat", "doc.sfs", "/GC/PROFILE.INI"}), profile);
  Ok({"get", "-r", "doc.sfs", "/", "all"});
  Ok({"verify", "doc.sfs"});
  Ok({"info", "doc.sfs"});
  EXPECT_EQ(Bytes("doc.sfs"), before);
  EXPECT_EQ(fs::last_write_time(Host("doc.sfs")), stamp);
  EXPECT_EQ(Bytes("all/data/big.bin"), Bytes("big.bin"));
}

TEST_F(Sfs, LegacyKeyedDocumentIsNeverReKeyed) {
  const AnsiString name = os::Utf8ToAnsi(Host("legacy.sfs"));
  {
    auto doc = TSingleFileSystem::CreateEx(name, ModeCreate, false, GetLegacyBuiltInPassword(), {},
                                           {}, 0, 4096, 8, -1);
    ASSERT_TRUE(doc->ForceDirectories("\\GC"));
    TSFSFileStream out(doc.get(), "\\GC\\PROFILE.INI", ModeCreate);
    const std::string text = "[FILEINFO]\r\nProductName=Old\r\n";
    out.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  }
  EXPECT_THAT(Ok({"info", "legacy.sfs"}), HasSubstr("password: built-in (legacy)"));
  EXPECT_EQ(Ok({"product", "legacy.sfs"}), "Old\n");
  // A writing command keeps the legacy key.
  Make("n.txt", "new");
  Ok({"put", "legacy.sfs", "n.txt"});
  Ok({"mkdir", "legacy.sfs", "/more"});
  EXPECT_TRUE(CheckPassword(name, GetLegacyBuiltInPassword()));
  EXPECT_FALSE(CheckPassword(name, GetCurrentBuiltInPassword()));
  EXPECT_EQ(Ok({"cat", "legacy.sfs", "n.txt"}), "new");
}

TEST_F(Sfs, UnencryptedContainerStaysUnencrypted) {
  Ok({"create", "d.sfs"});
  Make("f.txt", "plain");
  Ok({"put", "d.sfs", "f.txt"});
  Ok({"repair", "d.sfs"});
  EXPECT_FALSE(IsFileEncrypted(os::Utf8ToAnsi(Host("d.sfs"))));
  const std::string before = Bytes("d.sfs");
  Ok({"ls", "-l", "d.sfs"});
  Ok({"cat", "d.sfs", "f.txt"});
  Ok({"verify", "d.sfs"});
  EXPECT_EQ(Bytes("d.sfs"), before);
}

// --- Chinese names ---

TEST_F(Sfs, ChineseNamesAreGbkInsideAndUtf8Outside) {
  Ok({"create", "d.sfs"});
  Make("资料/报价单.txt", "报价");
  Ok({"put", "-r", "d.sfs", "资料", "/工程/资料"});
  Make("文件.txt", "x");
  Ok({"put", "d.sfs", "文件.txt", "/工程/"});
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}),
            "/工程\n/工程/文件.txt\n/工程/资料\n/工程/资料/报价单.txt\n");
  // The directory holds the names in GBK.
  {
    auto c = TSingleFileSystem::CreateEx(os::Utf8ToAnsi(Host("d.sfs")), ModeReadOnly, false, {}, {},
                                         {}, 0, 4096, 8, -1);
    EXPECT_GE(c->DIRManager().FindItem(os::Utf8ToAnsi("\\工程\\资料\\报价单.txt")), 0);
  }
  EXPECT_EQ(Ok({"cat", "d.sfs", "工程/资料/报价单.txt"}), "报价");
  Ok({"mv", "d.sfs", "/工程/文件.txt", "/工程/新文件.txt"});
  Ok({"get", "-r", "d.sfs", "/工程", "出"});
  EXPECT_EQ(Bytes("出/资料/报价单.txt"), "报价");
  EXPECT_EQ(Bytes("出/新文件.txt"), "x");
  // A name GBK cannot hold is refused with a clear message.
  Make("mixed/smile\xF0\x9F\x98\x80.txt", "s");
  Make("mixed/文件.txt", "x");
  EXPECT_THAT(Fails({"put", "d.sfs", "mixed/smile\xF0\x9F\x98\x80.txt"}),
              HasSubstr("cannot be represented"));
  const TRun tree = Run({"put", "-r", "d.sfs", "mixed", "/all"});
  EXPECT_EQ(tree.Status, 1);
  EXPECT_THAT(tree.Err, HasSubstr("cannot be represented"));
  EXPECT_THAT(Ok({"ls", "d.sfs", "/all"}), HasSubstr("/all/文件.txt"));  // the rest is stored
}

// --- Multi-part containers ---

TEST_F(Sfs, MultiPartContainer) {
  Ok({"create", "--part-size", "64K", "d.sfs"});
  const std::string content = RandomBytes(500000, 6);
  Make("c.bin", content);
  Ok({"put", "d.sfs", "c.bin"});
  const std::string info = Ok({"info", "d.sfs"});
  EXPECT_THAT(info, HasSubstr("part size: 65536\n"));
  const auto lines = Lines(info);
  const auto parts = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("part files: ", 0) == 0;
  });
  ASSERT_NE(parts, lines.end());
  EXPECT_GE(std::stoi(parts->substr(12)), 8);
  EXPECT_TRUE(fs::exists(Host("d.sfs1")));
  EXPECT_EQ(fs::file_size(Host("d.sfs")), 65536u);
  EXPECT_EQ(Ok({"cat", "d.sfs", "c.bin"}), content);
  Ok({"put", "--compression", "2", "d.sfs", "c.bin", "/again.bin"});
  EXPECT_THAT(Ok({"verify", "d.sfs"}), HasSubstr("2 files checked, 0 damaged"));
  Ok({"rm", "d.sfs", "/c.bin"});
  EXPECT_EQ(Ok({"cat", "d.sfs", "again.bin"}), content);
}

// --- Damaged containers ---

class DamagedSfs : public Sfs {
 protected:
  void SetUp() override {
    Ok({"create", "d.sfs"});
    Make("good.txt", TextBytes(30000, 1));
    Make("bad.bin", TextBytes(30000, 2));
    Make("raw.bin", RandomBytes(30000, 3));
    Ok({"put", "d.sfs", "good.txt", "/keep/good.txt"});
    Ok({"put", "--compression", "2", "d.sfs", "bad.bin", "/bad.bin"});
    Ok({"put", "--compression", "0", "d.sfs", "raw.bin", "/raw.bin"});
  }
};

TEST_F(DamagedSfs, VerifyNamesTheFileWithABadBlock) {
  const TFilePages pages = PagesOf(Host("d.sfs"), "\\bad.bin");
  ASSERT_FALSE(pages.Data.empty());
  DamagePageByte(Host("d.sfs"), pages.PageSize, pages.Data[0], 200);  // inside block 0
  const TRun run = Run({"verify", "d.sfs"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_THAT(run.Out, HasSubstr("/bad.bin: damaged\n"));
  EXPECT_THAT(run.Out, HasSubstr("check value does not match"));
  EXPECT_THAT(run.Out, HasSubstr("3 files checked, 1 damaged"));
  EXPECT_EQ(run.Out.find("good.txt"), std::string::npos);
  EXPECT_EQ(run.Out.find("raw.bin"), std::string::npos);
  EXPECT_THAT(Fails({"cat", "d.sfs", "/bad.bin"}), HasSubstr("LoadBlock"));
  EXPECT_EQ(Ok({"cat", "d.sfs", "/keep/good.txt"}), Bytes("good.txt"));
}

TEST_F(DamagedSfs, VerifyReportsPageCheckValuesOfUncompressedFiles) {
  const TFilePages pages = PagesOf(Host("d.sfs"), "\\raw.bin");
  ASSERT_GE(pages.Data.size(), 2u);
  DamagePageByte(Host("d.sfs"), pages.PageSize, pages.Data[1], 17);
  const TRun run = Run({"verify", "d.sfs"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_THAT(run.Out, HasSubstr("/raw.bin: damaged\n  data page " + std::to_string(pages.Data[1]) +
                                 ": the check value does not match\n"));
  EXPECT_EQ(run.Out.find("bad.bin"), std::string::npos);
}

TEST_F(DamagedSfs, RepairSkippingDamagedFilesSavesTheRest) {
  // The map of /bad.bin names a page far outside the container.
  const TFilePages pages = PagesOf(Host("d.sfs"), "\\bad.bin");
  ASSERT_FALSE(pages.Map.empty());
  PatchPageWord(Host("d.sfs"), pages.PageSize, pages.Map[0], 0, 0x7FFFFF00);
  const TRun verify = Run({"verify", "d.sfs"});
  EXPECT_EQ(verify.Status, 1);
  EXPECT_THAT(verify.Out, HasSubstr("/bad.bin: damaged\n"));

  // Without skipping, the repair stops and the old file stays in use.
  const std::string before = Bytes("d.sfs");
  const TRun strict = Run({"repair", "d.sfs"});
  EXPECT_EQ(strict.Status, 1);
  EXPECT_THAT(strict.Out, HasSubstr("Critical error occured. Original file restored.\r\n"));
  EXPECT_EQ(Bytes("d.sfs"), before);

  const TRun repair = Run({"repair", "--skip-damaged", "d.sfs"});
  EXPECT_EQ(repair.Status, 0) << repair.Err;
  EXPECT_THAT(repair.Out, HasSubstr("File \"\\bad.bin\" deleted. \r\n"));
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "/keep\n/keep/good.txt\n/raw.bin\n");
  EXPECT_EQ(Ok({"cat", "d.sfs", "/keep/good.txt"}), Bytes("good.txt"));
  EXPECT_EQ(Ok({"cat", "d.sfs", "/raw.bin"}), Bytes("raw.bin"));
  EXPECT_THAT(Ok({"verify", "d.sfs"}), HasSubstr("2 files checked, 0 damaged"));
}

TEST_F(DamagedSfs, RepairCompactsAHealthyContainer) {
  Make("huge.bin", RandomBytes(2000000, 9));
  Ok({"put", "d.sfs", "huge.bin"});
  Ok({"rm", "d.sfs", "/huge.bin"});
  const auto before = fs::file_size(Host("d.sfs"));
  const TRun run = Run({"repair", "d.sfs"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  EXPECT_LT(fs::file_size(Host("d.sfs")), before);
  EXPECT_EQ(Ok({"cat", "d.sfs", "/bad.bin"}), Bytes("bad.bin"));
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "/bad.bin\n/keep\n/keep/good.txt\n/raw.bin\n");
}

TEST_F(Sfs, DamagedDirectoryNeverTrapsAWalk) {
  // Folders whose records name themselves or each other as their folder:
  // no walk from the root reaches them, and none may run in circles.
  const AnsiString name = os::Utf8ToAnsi(Host("d.sfs"));
  {
    auto c = TSingleFileSystem::CreateEx(name, ModeCreate, false, {}, {}, {}, 0, 4096, 8, -1);
    for (const char* folder : {"\\ok\\sub", "\\self", "\\x", "\\y"})
      ASSERT_TRUE(c->ForceDirectories(folder));
    TSFSFileStream out(c.get(), "\\ok\\sub\\f.txt", ModeCreate);
    out.WriteBuffer("fine", 4);
  }
  {
    auto c = TSingleFileSystem::CreateEx(name, ModeReadWrite, false, {}, {}, {}, 0, 4096, 8, -1);
    TDIRManager& dir = c->DIRManager();
    const int32_t self = dir.FindItem("\\self"), x = dir.FindItem("\\x"), y = dir.FindItem("\\y");
    TDIRItem rec;
    dir.ReadItem(self, rec);
    rec.ParentID = self;
    dir.WriteItem(self, rec);
    dir.ReadItem(x, rec);
    rec.ParentID = y;
    dir.WriteItem(x, rec);
    dir.ReadItem(y, rec);
    rec.ParentID = x;
    dir.WriteItem(y, rec);
  }
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "/ok\n/ok/sub\n/ok/sub/f.txt\n");
  Ok({"get", "-r", "d.sfs", "/", "out"});
  EXPECT_EQ(Bytes("out/ok/sub/f.txt"), "fine");
  const TRun verify = Run({"verify", "d.sfs"});
  EXPECT_EQ(verify.Status, 1);
  EXPECT_THAT(verify.Out, HasSubstr("\"x\": damaged\n  it lies in no folder"));
  EXPECT_THAT(verify.Out, HasSubstr("\"y\": damaged\n"));
  EXPECT_THAT(verify.Out, HasSubstr("\"self\": damaged\n"));
  EXPECT_THAT(verify.Out, HasSubstr("1 files checked, 3 damaged"));
  Ok({"rm", "-r", "d.sfs", "/ok"});
  EXPECT_EQ(Ok({"ls", "-R", "d.sfs"}), "");
}

}  // namespace
}  // namespace zk::e2e
