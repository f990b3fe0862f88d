// Reading and writing whole files inside a container for the sfs tool:
// storing a host file (through the file stream, or the raw stream for
// uncompressed files) under a temporary name and putting it in place only
// when it is complete; opening a file for reading with its own password;
// finding the compression method and size of a stored file. Nothing here
// owns the container object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Stream.h"
#include "tools/sfs/CommandLine.h"
#include "tools/sfs/ToolText.h"

namespace zk {
class TSingleFileSystem;
}

namespace zk::sfs {

class THostReader;

// Options of put that shape each stored file.
struct TStoreOptions {
  bool HasMethod = false;  // --compression given
  uint8_t Method = 0;
  AnsiString FilePassword;  // --file-password (empty: none)
};

// Called with the bytes handled since the last call.
using TByteCounter = std::function<void(int64_t Bytes)>;

// Stores the bytes of Source as the file Target (its folder must exist).
// The bytes go into a new file with a temporary name in the same folder;
// only when all of them are written does it take Target's name, and a file
// that was there is removed afterwards. On any failure the temporary file is
// removed and an old file stays as it was. WriteTime (a UTC file time, 0
// for none) becomes the stored file's last write time.
void StoreFile(TSingleFileSystem& FileSystem, const TContainerPath& Target, THostReader& Source,
               int64_t WriteTime, const TStoreOptions& Options, const TByteCounter& Counter);

// The file's password for reading: Given when the file has none or Given
// fits; raises ESfsError when it does not fit and no one can be asked.
AnsiString FilePasswordFor(TSingleFileSystem& FileSystem, int32_t ItemNo, bool HasGiven,
                           const AnsiString& Given);

// A stream over the file ItemNo for reading: the file stream (decompressed),
// or with Raw the raw stream (the bytes as stored).
std::unique_ptr<TStream> OpenForReading(TSingleFileSystem& FileSystem, int32_t ItemNo,
                                        const AnsiString& Password, bool Raw);
// A good piece size for reading Stream (a block of a compressed file).
int32_t ReadPieceSize(const TStream& Stream);

// Copies the whole Stream to Sink in pieces; raises ESfsError naming Where
// when a page cannot be read (the container's LastError) or the stream ends
// before its size.
void CopyOut(TSingleFileSystem& FileSystem, TStream& Stream, const std::string& Where,
             const std::function<void(const void*, size_t)>& Sink, const TByteCounter& Counter);

// Size and method of a stored file as a listing shows them: Known is false
// when the file has its own password or its stream cannot be read.
struct TFileFacts {
  bool Known = false;
  int64_t Size = 0;
  uint8_t Method = 0;
};
TFileFacts ProbeFile(TSingleFileSystem& FileSystem, int32_t ItemNo);

}  // namespace zk::sfs
