// Helpers of the sfs end-to-end tests: a scratch folder, the real sfs binary
// run in it with its output captured (optionally with a file-size limit, to
// make a write fail half-way), host file helpers, and access to a container's
// pages through the engine so that a test can damage a known byte.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "container/api/SingleFileSystem.h"
#include "container/engine/DIRManager.h"
#include "container/engine/PageFileManager.h"
#include "container/engine/UserFilePageMapManager.h"
#include "platform/os/AnsiCodePage.h"

namespace zk::e2e {

namespace fs = std::filesystem;

inline std::string ReadHost(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteHost(const std::string& Path, const std::string& Bytes) {
  const fs::path p(Path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

// Bytes that do not compress.
inline std::string RandomBytes(size_t Size, uint32_t Seed) {
  std::mt19937 rng(Seed);
  std::string out(Size, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

// Bytes that compress well but are not all alike.
inline std::string TextBytes(size_t Size, uint32_t Seed) {
  std::mt19937 rng(Seed);
  static const char* words[] = {"price ", "item ", "quantity ", "total ", "工程 ", "\r\n"};
  std::string out;
  while (out.size() < Size) out += words[rng() % 6];
  out.resize(Size);
  return out;
}

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

struct TRunOptions {
  std::string Stdin;          // host file for standard input; empty: /dev/null
  int64_t FileSizeLimit = 0;  // RLIMIT_FSIZE in bytes; 0: none
};

class TScratch {
 public:
  TScratch() {
    fs::create_directories(ZK_TEST_TMPDIR);
    std::string pattern = std::string(ZK_TEST_TMPDIR) + "/sfs-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;

  std::string operator/(const std::string& Name) const { return FPath + "/" + Name; }
  const std::string& Path() const { return FPath; }

  // Runs sfs with Args in this folder.
  TRun Sfs(const std::vector<std::string>& Args, const TRunOptions& Options = {}) const {
    const std::string out = FPath + "/.stdout", err = FPath + "/.stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(FPath.c_str()) != 0) ::_exit(126);
      const int in = ::open(Options.Stdin.empty() ? "/dev/null" : Options.Stdin.c_str(), O_RDONLY);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || o < 0 || e < 0) ::_exit(126);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      if (Options.FileSizeLimit > 0) {
        // A write past the limit fails with EFBIG instead of ending the process.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(Options.FileSizeLimit),
                           static_cast<rlim_t>(Options.FileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      std::vector<char*> argv;
      std::string program = ZK_SFS_PATH;
      argv.push_back(program.data());
      std::vector<std::string> copy = Args;
      for (std::string& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    TRun run;
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.Out = ReadHost(out);
    run.Err = ReadHost(err);
    fs::remove(out);
    fs::remove(err);
    return run;
  }

 private:
  std::string FPath;
};

// Lines of a text.
inline std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < Text.size()) {
    size_t end = Text.find('\n', start);
    if (end == std::string::npos) end = Text.size();
    lines.push_back(Text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The pages of a file inside a (single-part, unencrypted or built-in keyed)
// container, found through the engine read only.
struct TFilePages {
  int32_t PageSize = 0;
  std::vector<int32_t> Map;
  std::vector<int32_t> Data;
};

inline TFilePages PagesOf(const std::string& Doc, const std::string& PathUtf8,
                          const AnsiString& Password = {}) {
  auto container = TSingleFileSystem::CreateEx(os::Utf8ToAnsi(Doc), ModeReadOnly, false, Password,
                                               {}, {}, 0, 4096, 8, -1);
  const int32_t item = container->DIRManager().FindItem(os::Utf8ToAnsi(PathUtf8));
  if (item < 0) throw std::runtime_error("no such file: " + PathUtf8);
  TDIRItem rec;
  container->DIRManager().ReadItem(item, rec);
  TIntegerArray* maps = nullptr;
  TIntegerArray* data = nullptr;
  container->PageMaps().GetMaps(rec, maps, data);
  TFilePages pages;
  pages.PageSize = container->PageFile().Header.PageSize;
  pages.Map.assign(maps->Items().begin(), maps->Items().end());
  pages.Data.assign(data->Items().begin(), data->Items().end());
  return pages;
}

// Flips the bits of one byte at data offset Offset of page PageNo of a
// single-part container file (its logical bytes start behind the 280-byte
// part header).
inline void DamagePageByte(const std::string& Doc, int32_t PageSize, int32_t PageNo,
                           int64_t Offset) {
  std::fstream file(Doc, std::ios::binary | std::ios::in | std::ios::out);
  const int64_t at = 280 + int64_t{PageNo} * PageSize + 32 + Offset;
  file.seekg(at);
  char c = 0;
  file.read(&c, 1);
  c = static_cast<char>(~c);
  file.seekp(at);
  file.write(&c, 1);
}

// Writes four little-endian bytes at data offset Offset of page PageNo.
inline void PatchPageWord(const std::string& Doc, int32_t PageSize, int32_t PageNo, int64_t Offset,
                          int32_t Value) {
  std::fstream file(Doc, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(280 + int64_t{PageNo} * PageSize + 32 + Offset);
  char bytes[4];
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>((static_cast<uint32_t>(Value) >> (8 * i)) & 0xFF);
  file.write(bytes, 4);
}

}  // namespace zk::e2e
