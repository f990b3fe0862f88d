// The host side of the sfs tool: files and folders of the machine it runs on,
// named by UTF-8 paths. THostReader reads a file (or standard input),
// THostWriter writes a file under a temporary name beside it and puts it in
// place only when Commit is called, so a failed extraction leaves no partial
// file. Each owns its open file and closes it on every way out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zk::sfs {

enum class THostKind { Missing, File, Folder, Other };

struct THostEntry {
  THostKind Kind = THostKind::Missing;
  bool IsLink = false;    // the path itself is a symbolic link
  int64_t Size = 0;       // bytes of a file
  int64_t WriteTime = 0;  // last write as a UTC file time, 0 when unknown
};

// What the path names (links followed; IsLink tells whether it was one).
THostEntry StatHost(const std::string& Path);
// The names in a folder, sorted bytewise; raises ESfsError when it cannot be read.
std::vector<std::string> ListHostFolder(const std::string& Path);
// Makes the folder and its missing parents; raises ESfsError on failure.
void MakeHostFolders(const std::string& Path);
// Sets a file's last write time (a UTC file time); failures are ignored.
void SetHostWriteTime(const std::string& Path, int64_t FileTime);
// The last name of a path ("a/b/" -> "b"); "" for "/" and "".
std::string HostBaseName(const std::string& Path);
std::string JoinHostPath(const std::string& Folder, const std::string& Name);

class THostReader {
 public:
  // "-" reads standard input.
  explicit THostReader(const std::string& Path);
  ~THostReader();
  THostReader(const THostReader&) = delete;
  THostReader& operator=(const THostReader&) = delete;

  // Up to Count bytes; fewer only at the end. Raises ESfsError on a read error.
  size_t Read(void* Buffer, size_t Count);
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  std::FILE* FFile = nullptr;
  bool FOwned = false;
};

class THostWriter {
 public:
  // Creates a temporary file in the folder of Path.
  explicit THostWriter(const std::string& Path);
  // Removes the temporary file unless Commit succeeded.
  ~THostWriter();
  THostWriter(const THostWriter&) = delete;
  THostWriter& operator=(const THostWriter&) = delete;

  void Write(const void* Buffer, size_t Count);
  // Closes the file and renames it to Path (replacing a file there).
  void Commit();

 private:
  std::string FPath;
  std::string FTemporary;
  std::FILE* FFile = nullptr;
  bool FCommitted = false;
};

// Writes all bytes to a standard stream; raises ESfsError on failure.
void WriteAll(std::FILE* Out, const void* Buffer, size_t Count, const char* What);

}  // namespace zk::sfs
