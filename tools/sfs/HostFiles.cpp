#include "tools/sfs/HostFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "tools/sfs/ToolText.h"

namespace fs = std::filesystem;

namespace zk::sfs {

namespace {

std::string Failure(const std::string& Path, const std::string& What, const std::error_code& Code) {
  return Path + ": " + What + ": " + Code.message();
}

int64_t ToFileTime(fs::file_time_type Time) {
  using namespace std::chrono;
  const auto system = file_clock::to_sys(Time);
  const auto ns = duration_cast<nanoseconds>(system.time_since_epoch()).count();
  return UnixToFileTime(ns / 1000000000, ns % 1000000000);
}

}  // namespace

THostEntry StatHost(const std::string& Path) {
  THostEntry entry;
  std::error_code ec;
  const fs::file_status link = fs::symlink_status(Path, ec);
  entry.IsLink = !ec && fs::is_symlink(link);
  const fs::file_status status = fs::status(Path, ec);
  if (ec || !fs::exists(status)) return entry;
  if (fs::is_regular_file(status)) {
    entry.Kind = THostKind::File;
    const auto size = fs::file_size(Path, ec);
    entry.Size = ec ? 0 : static_cast<int64_t>(size);
  } else if (fs::is_directory(status)) {
    entry.Kind = THostKind::Folder;
  } else {
    entry.Kind = THostKind::Other;
  }
  const auto time = fs::last_write_time(Path, ec);
  if (!ec) entry.WriteTime = ToFileTime(time);
  return entry;
}

std::vector<std::string> ListHostFolder(const std::string& Path) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(Path, ec);
  if (ec) throw ESfsError(Failure(Path, "cannot read the folder", ec));
  for (const fs::directory_entry& entry : it) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void MakeHostFolders(const std::string& Path) {
  std::error_code ec;
  if (fs::is_directory(Path, ec)) return;
  fs::create_directories(Path, ec);
  if (ec) throw ESfsError(Failure(Path, "cannot make the folder", ec));
}

void SetHostWriteTime(const std::string& Path, int64_t FileTime) {
  using namespace std::chrono;
  if (FileTime <= 0) return;
  const int64_t ticks = FileTime - UnixToFileTime(0);
  const sys_time<nanoseconds> system{nanoseconds(ticks * 100)};
  std::error_code ec;
  fs::last_write_time(Path, file_clock::from_sys(system), ec);
}

std::string HostBaseName(const std::string& Path) {
  size_t end = Path.size();
  while (end > 0 && Path[end - 1] == '/') --end;
  const size_t slash = Path.rfind('/', end == 0 ? 0 : end - 1);
  const size_t start = slash == std::string::npos || end == 0 ? 0 : slash + 1;
  std::string name = Path.substr(start, end - start);
  if (name == "." || name == "..") {
    // The folder's own name.
    std::error_code ec;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(Path, ec), ec);
    name = ec ? std::string() : absolute.filename().string();
  }
  return name;
}

std::string JoinHostPath(const std::string& Folder, const std::string& Name) {
  if (Folder.empty()) return Name;
  if (Folder.back() == '/') return Folder + Name;
  return Folder + "/" + Name;
}

// --- Reading ---

THostReader::THostReader(const std::string& Path) : FPath(Path) {
  if (Path == "-") {
    FFile = stdin;
    return;
  }
  FFile = std::fopen(Path.c_str(), "rb");
  if (FFile == nullptr) throw ESfsError(Path + ": cannot open: " + std::strerror(errno));
  FOwned = true;
}

THostReader::~THostReader() {
  if (FOwned) std::fclose(FFile);
}

size_t THostReader::Read(void* Buffer, size_t Count) {
  size_t done = 0;
  auto* bytes = static_cast<unsigned char*>(Buffer);
  while (done < Count) {
    const size_t got = std::fread(bytes + done, 1, Count - done, FFile);
    done += got;
    if (got == 0) {
      if (std::ferror(FFile))
        throw ESfsError((FPath == "-" ? std::string("standard input") : FPath) +
                        ": read error: " + std::strerror(errno));
      break;
    }
  }
  return done;
}

// --- Writing ---

THostWriter::THostWriter(const std::string& Path) : FPath(Path) {
  static std::mt19937_64 random{std::random_device{}()};
  const fs::path target(Path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (int attempt = 0; attempt < 100 && FFile == nullptr; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".sfs-%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    FTemporary = (folder / ("." + target.filename().string() + suffix)).string();
    FFile = std::fopen(FTemporary.c_str(), "wbx");
    if (FFile == nullptr && errno != EEXIST) break;
  }
  if (FFile == nullptr) throw ESfsError(Path + ": cannot create: " + std::strerror(errno));
}

THostWriter::~THostWriter() {
  if (FFile != nullptr) std::fclose(FFile);
  if (!FCommitted) {
    std::error_code ec;
    fs::remove(FTemporary, ec);
  }
}

void THostWriter::Write(const void* Buffer, size_t Count) {
  if (Count > 0 && std::fwrite(Buffer, 1, Count, FFile) != Count)
    throw ESfsError(FPath + ": write error: " + std::strerror(errno));
}

void THostWriter::Commit() {
  const bool flushed = std::fflush(FFile) == 0;
  const int error = errno;
  const bool closed = std::fclose(FFile) == 0;
  FFile = nullptr;
  if (!flushed || !closed)
    throw ESfsError(FPath + ": write error: " + std::strerror(flushed ? errno : error));
  std::error_code ec;
  fs::rename(FTemporary, FPath, ec);
  if (ec) throw ESfsError(Failure(FPath, "cannot put the file in place", ec));
  FCommitted = true;
}

void WriteAll(std::FILE* Out, const void* Buffer, size_t Count, const char* What) {
  if (Count > 0 && std::fwrite(Buffer, 1, Count, Out) != Count)
    throw ESfsError(std::string("write error on ") + What + ": " + std::strerror(errno));
}

}  // namespace zk::sfs
