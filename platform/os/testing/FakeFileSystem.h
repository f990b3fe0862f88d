// Test double of the file system: real files through the POSIX implementation,
// with faults on demand. A call can be made to fail with an errno chosen by a
// callback (per operation and path), files can be kept from growing past a
// size limit (a full disk: writes are cut short, extensions refused, with
// ENOSPC), and the volume questions can be answered with a chosen file-system
// name and free space (to reach the FAT part sizes). Counts the calls per
// operation. Install it with TScopedService<IFileSystem>.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "platform/os/FileSystem.h"

namespace zk::os::testing {

class TFakeFileSystem : public IFileSystem {
 public:
  enum class TOp {
    Open,    // Open of an existing file (TFileCreation::OpenExisting)
    Create,  // Open with any other creation mode
    Read,
    Write,
    Seek,
    SetEndOfFile,
    Flush,
    Close,
    Rename,  // path: the old path
    Delete,
    FileExists,
    Volume,  // VolumeFileSystemName and VolumeFreeSpace
  };

  // Returns the errno a call fails with, or 0 to let it through. For handle
  // calls the path is the one the handle was opened with.
  std::function<int(TOp op, const AnsiString& path)> Fault;
  // No file grows beyond this many bytes; -1 for no limit.
  int64_t SizeLimit = -1;
  // The answers to the volume questions, for every path.
  std::optional<AnsiString> FileSystemName;
  std::optional<int64_t> FreeSpace;
  // Calls made, per operation.
  std::map<TOp, int> Calls;

  TFileHandle Open(const AnsiString& path, TFileAccess access, TFileShare share,
                   TFileCreation creation, uint32_t hints = fhNone) override {
    if (Failed(creation == TFileCreation::OpenExisting ? TOp::Open : TOp::Create, path))
      return InvalidFileHandle;
    TFileHandle h = FReal.Open(path, access, share, creation, hints);
    if (h == InvalidFileHandle) return Passed(InvalidFileHandle);
    FPaths[h] = path;
    return h;
  }
  int32_t Read(TFileHandle handle, void* buffer, int32_t count) override {
    if (Failed(TOp::Read, PathOf(handle))) return -1;
    return Passed(FReal.Read(handle, buffer, count));
  }
  int32_t Write(TFileHandle handle, const void* buffer, int32_t count) override {
    if (Failed(TOp::Write, PathOf(handle))) return -1;
    if (SizeLimit >= 0 && count > 0) {
      const int64_t at = FReal.Seek(handle, 0, 1);
      if (at >= 0 && at + count > SizeLimit) {
        const int64_t allowed = std::max<int64_t>(0, SizeLimit - at);
        if (allowed == 0) return Refuse(ENOSPC, -1);
        const int32_t written = FReal.Write(handle, buffer, static_cast<int32_t>(allowed));
        FLastError = ENOSPC;
        return written;
      }
    }
    return Passed(FReal.Write(handle, buffer, count));
  }
  int64_t Seek(TFileHandle handle, int64_t offset, uint16_t origin) override {
    if (Failed(TOp::Seek, PathOf(handle))) return -1;
    return Passed(FReal.Seek(handle, offset, origin));
  }
  bool SetEndOfFile(TFileHandle handle) override {
    if (Failed(TOp::SetEndOfFile, PathOf(handle))) return false;
    if (SizeLimit >= 0 && FReal.Seek(handle, 0, 1) > SizeLimit) return Refuse(ENOSPC, false);
    return Passed(FReal.SetEndOfFile(handle));
  }
  bool Flush(TFileHandle handle) override {
    if (Failed(TOp::Flush, PathOf(handle))) return false;
    return Passed(FReal.Flush(handle));
  }
  bool Close(TFileHandle handle) override {
    const AnsiString path = PathOf(handle);
    FPaths.erase(handle);
    // The handle is released even when the close is made to fail.
    const bool closed = FReal.Close(handle);
    if (Failed(TOp::Close, path)) return false;
    return Passed(closed);
  }
  bool Rename(const AnsiString& oldPath, const AnsiString& newPath) override {
    if (Failed(TOp::Rename, oldPath)) return false;
    return Passed(FReal.Rename(oldPath, newPath));
  }
  bool Delete(const AnsiString& path) override {
    if (Failed(TOp::Delete, path)) return false;
    return Passed(FReal.Delete(path));
  }
  bool FileExists(const AnsiString& path) override {
    if (Failed(TOp::FileExists, path)) return false;
    return Passed(FReal.FileExists(path));
  }
  bool VolumeFileSystemName(const AnsiString& path, AnsiString& name) override {
    if (Failed(TOp::Volume, path)) return false;
    if (FileSystemName) {
      name = *FileSystemName;
      return true;
    }
    return Passed(FReal.VolumeFileSystemName(path, name));
  }
  int64_t VolumeFreeSpace(const AnsiString& path) override {
    if (Failed(TOp::Volume, path)) return -1;
    if (FreeSpace) return *FreeSpace;
    return Passed(FReal.VolumeFreeSpace(path));
  }
  int LastError() override { return FLastError; }

 private:
  AnsiString PathOf(TFileHandle handle) const {
    auto it = FPaths.find(handle);
    return it == FPaths.end() ? AnsiString() : it->second;
  }
  bool Failed(TOp op, const AnsiString& path) {
    ++Calls[op];
    const int code = Fault ? Fault(op, path) : 0;
    if (code != 0) FLastError = code;
    return code != 0;
  }
  template <class T>
  T Refuse(int code, T result) {
    FLastError = code;
    return result;
  }
  // A result of the real call; its error, when it failed, becomes ours.
  template <class T>
  T Passed(T result) {
    FLastError = FReal.LastError();
    return result;
  }

  IFileSystem& FReal = IFileSystem::Default();
  std::map<TFileHandle, AnsiString> FPaths;
  int FLastError = 0;
};

}  // namespace zk::os::testing
