// The file-system interface: files addressed by handles (open or create with
// an access and a sharing mode, 64-bit read/write/seek, set end of file,
// flush, close), whole-file operations by path (rename that never replaces,
// delete, existence test) and questions about the volume that holds a path
// (its file-system name in the system's own terms, the free bytes available to
// the caller). It owns nothing but the handles it gives out; each handle
// belongs to whoever opened it until Close.
//
// Paths are texts in the ANSI code page (GBK). The POSIX implementation turns
// them into UTF-8 at the call and only then makes every `\` a `/`.
//
// Failing calls never raise: they return the failure value named at each
// call and set LastError() (an errno value, per thread in the POSIX
// implementation). RaiseLastOSError turns that into the operating-system
// error for callers that report failures by exception.
//
// Sharing (POSIX): advisory `flock` locks held while a handle is open, never
// waiting. TFileShare::Exclusive takes an exclusive lock, ShareReadWrite a
// shared one, so an exclusive opener and any other opener keep each other
// out. A file is truncated only after its lock is held. Rename and Delete
// refuse a file that someone holds open with such a lock (EBUSY).
#pragma once

#include <cstdint>

#include "platform/os/Service.h"
#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Exception.h"

namespace zk::os {

// An open file. Valid handles are >= 0.
using TFileHandle = int64_t;
constexpr TFileHandle InvalidFileHandle = -1;

enum class TFileAccess : uint8_t {
  Read,       // reading only
  ReadWrite,  // reading and writing
};

enum class TFileShare : uint8_t {
  Exclusive,       // no other opener may read or write while the handle is open
  ShareReadWrite,  // others may open the file for reading and writing too
};

enum class TFileCreation : uint8_t {
  OpenExisting,  // open a file that exists; fail (ENOENT) when it does not
  CreateAlways,  // create the file, or truncate an existing one to zero length
  CreateNew,     // create the file; fail (EEXIST) when it exists
  OpenAlways,    // open the file, creating it when it does not exist
};

// Hints given when opening (bit flags).
enum TFileHint : uint32_t {
  fhNone = 0,
  fhRandomAccess = 1,    // access will be random rather than sequential
  fhSequentialScan = 2,  // the file will be read from start to end
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;

  // Opens or creates a regular file (a folder, device or pipe is refused).
  // Returns InvalidFileHandle on failure, also when the lock that the sharing
  // mode asks for is held by another opener (EBUSY).
  virtual TFileHandle Open(const AnsiString& path, TFileAccess access, TFileShare share,
                           TFileCreation creation, uint32_t hints = fhNone) = 0;

  // Transfers up to Count bytes at the file position and moves it on. Returns
  // the bytes moved (0 at the end of the file, or for Count <= 0), -1 on
  // failure. Writing past the end extends the file (holes read as zero).
  virtual int32_t Read(TFileHandle handle, void* buffer, int32_t count) = 0;
  virtual int32_t Write(TFileHandle handle, const void* buffer, int32_t count) = 0;

  // Moves the file position: origin 0 from the beginning, 1 from the current
  // position, 2 from the end. Returns the new position, -1 on failure (a
  // negative result, an unknown origin). A position past the end is allowed.
  virtual int64_t Seek(TFileHandle handle, int64_t offset, uint16_t origin) = 0;

  // Cuts or extends the file so that it ends at the current position.
  virtual bool SetEndOfFile(TFileHandle handle) = 0;
  // Writes the operating system's buffers of the file to the device.
  virtual bool Flush(TFileHandle handle) = 0;
  // Releases the handle and its lock. The handle is invalid afterwards.
  virtual bool Close(TFileHandle handle) = 0;

  // Renames a file; never replaces an existing file (EEXIST).
  virtual bool Rename(const AnsiString& oldPath, const AnsiString& newPath) = 0;
  // Deletes a file (not a folder).
  virtual bool Delete(const AnsiString& path) = 0;
  // True when a regular file exists at the path (a folder does not count).
  virtual bool FileExists(const AnsiString& path) = 0;

  // The file-system name of the volume that holds the path, in the system's
  // own terms: "NTFS", "FAT32", "FAT", "CDFS", "FS_UDF", or another name for
  // any other kind. The volume of a path is its nearest existing folder (the
  // path itself when it is a folder; the current folder for a bare name).
  // False when the volume cannot be asked.
  virtual bool VolumeFileSystemName(const AnsiString& path, AnsiString& name) = 0;
  // Bytes available to the caller on the volume that holds the path; -1 when
  // the volume cannot be asked.
  virtual int64_t VolumeFreeSpace(const AnsiString& path) = 0;

  // The error code (errno) of the last failed call on this thread.
  virtual int LastError() = 0;

  static IFileSystem& Default();
};

inline IFileSystem& FileSystem() {
  return TService<IFileSystem>::Get();
}

// The operating-system error of an errno value: EOSError with the code and
// the system's own text (in the ANSI code page).
EOSError MakeOSError(int code);
// Raises MakeOSError(FileSystem().LastError()).
[[noreturn]] void RaiseLastOSError();

}  // namespace zk::os
