#include "tools/sfs/FileAccess.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "container/api/AdvancedFileStream.h"
#include "container/api/FileStream.h"
#include "container/api/SFSUserFileStream.h"
#include "container/api/SingleFileSystem.h"
#include "container/compress/SFSCompress.h"
#include "container/engine/DIRManager.h"
#include "platform/rtl/Exception.h"
#include "tools/sfs/Container.h"
#include "tools/sfs/HostFiles.h"

namespace zk::sfs {

namespace {

// Removes a file left behind by a failed store; a failure here is reported
// by the caller's error already.
void RemoveQuietly(TSingleFileSystem& FileSystem, const TContainerPath& Path) {
  try {
    FileSystem.DeleteFile(Path.Engine());
  } catch (const std::exception&) {
  }
}

std::string WriteFailure(const TSingleFileSystem& FileSystem) {
  return FileSystem.LastError != 0 ? ErrorCodeText(FileSystem.LastError)
                                   : std::string("the container refused the bytes");
}

}  // namespace

void StoreFile(TSingleFileSystem& FileSystem, const TContainerPath& Target, THostReader& Source,
               int64_t WriteTime, const TStoreOptions& Options, const TByteCounter& Counter) {
  const std::string where = Target.Display();
  const TDIRArray& items = FileSystem.DIRManager().Items();
  const int32_t parent = FindItem(FileSystem, Target.Parent());
  if (parent == NoItem || !IsFolder(FileSystem, parent))
    throw ESfsError(Target.Parent().Display() + ": no such folder");
  const int32_t existing = items.FindChild(parent, Target.Name().c_str());
  if (existing >= 0 && IsFolder(FileSystem, existing)) throw ESfsError(where + ": is a folder");

  uint8_t method = Options.HasMethod ? Options.Method : FileSystem.GetCompression();
  if (method > 9) {
    throw ESfsError(where + ": the container's default compression method " +
                    std::to_string(method) + " is unknown; give --compression");
  }
  // The first bytes decide whether an uncompressed file would read back as
  // a compressed stream.
  uint8_t head[4];
  const size_t headSize = Source.Read(head, sizeof head);
  if (method == 0 && headSize == sizeof head && std::memcmp(head, StreamSignature, 4) == 0) {
    method = 1;
    std::fprintf(stderr,
                 "sfs: %s: the content starts with the compressed-stream signature; stored with "
                 "method 1 (zlib, fast) so that it reads back unchanged\n",
                 where.c_str());
  }
  const size_t piece = static_cast<size_t>(BlockSizeForMethod(method));
  std::vector<uint8_t> buffer(std::max(piece, sizeof head));
  std::memcpy(buffer.data(), head, headSize);

  const TContainerPath temporary =
      Target.Parent().Child(UniqueName(FileSystem, parent, ".sfs-put-"));
  int64_t total = 0;
  try {
    std::unique_ptr<TStream> stream;
    if (method == 0)
      stream = std::make_unique<TSFSUserFileStream>(&FileSystem, temporary.Engine(), ModeCreate,
                                                    Options.FilePassword);
    else
      stream = std::make_unique<TSFSFileStream>(&FileSystem, temporary.Engine(), ModeCreate,
                                                Options.FilePassword, AnsiString(), AnsiString(),
                                                method);
    size_t filled = headSize;
    bool atEnd = headSize < sizeof head;
    while (true) {
      if (!atEnd) {
        const size_t got = Source.Read(buffer.data() + filled, piece - filled);
        filled += got;
        atEnd = filled < piece;
      }
      if (filled == 0) break;
      FileSystem.LastError = 0;
      const int32_t written = stream->Write(buffer.data(), static_cast<int32_t>(filled));
      if (written != static_cast<int32_t>(filled) || FileSystem.LastError != 0)
        throw ESfsError(where + ": write failed: " + WriteFailure(FileSystem));
      total += static_cast<int64_t>(filled);
      if (Counter) Counter(static_cast<int64_t>(filled));
      filled = 0;
      if (atEnd) break;
    }
    stream.reset();
    const int32_t stored = items.FindChild(parent, temporary.Name().c_str());
    if (stored < 0) throw ESfsError(where + ": the new file vanished");
    if (method == 0 && ItemRecord(FileSystem, stored).Size != total)
      throw ESfsError(where + ": write failed: " + WriteFailure(FileSystem));
    if (WriteTime > 0) {
      TDIRItem item;
      FileSystem.DIRManager().ReadItem(stored, item);
      item.LastWriteTime = WriteTime;
      FileSystem.DIRManager().WriteItem(stored, item);
    }
  } catch (const zk::Exception& e) {
    const int32_t code = FileSystem.LastError;
    RemoveQuietly(FileSystem, temporary);
    throw ESfsError(where + ": " + ToDisplay(e.Message) +
                    (code != 0 ? " (" + ErrorCodeText(code) + ")" : std::string()));
  } catch (...) {
    RemoveQuietly(FileSystem, temporary);
    throw;
  }

  // Put the complete file in place: the old one steps aside first, so that
  // there is no moment without a file of that name.
  if (existing >= 0) {
    const TContainerPath old = Target.Parent().Child(UniqueName(FileSystem, parent, ".sfs-old-"));
    if (!FileSystem.RenameItem(Target.Engine(), old.Engine())) {
      const int32_t code = FileSystem.LastError;
      RemoveQuietly(FileSystem, temporary);
      throw ESfsError(where + ": the old file cannot be replaced (" + ErrorCodeText(code) + ")");
    }
    if (!FileSystem.RenameItem(temporary.Engine(), Target.Engine())) {
      const int32_t code = FileSystem.LastError;
      FileSystem.RenameItem(old.Engine(), Target.Engine());
      RemoveQuietly(FileSystem, temporary);
      throw ESfsError(where + ": the new file cannot take its name (" + ErrorCodeText(code) + ")");
    }
    if (!FileSystem.DeleteFile(old.Engine())) {
      std::fprintf(stderr, "sfs: %s: the old content could not be removed and stays as %s\n",
                   where.c_str(), old.Display().c_str());
    }
  } else if (!FileSystem.RenameItem(temporary.Engine(), Target.Engine())) {
    const int32_t code = FileSystem.LastError;
    RemoveQuietly(FileSystem, temporary);
    throw ESfsError(where + ": the new file cannot take its name (" + ErrorCodeText(code) + ")");
  }
}

AnsiString FilePasswordFor(TSingleFileSystem& FileSystem, int32_t ItemNo, bool HasGiven,
                           const AnsiString& Given) {
  if (ItemRecord(FileSystem, ItemNo).EncryptionType == 0) return Given;
  const AnsiString path = FileSystem.DIRManager().GetItemPath(ItemNo);
  if (FileSystem.DIRManager().CheckFilePassword(path, Given)) return Given;
  // Without a password on the line the container asks on the terminal.
  if (!HasGiven && CanPrompt()) return Given;
  throw ESfsError(DisplayEnginePath(path) +
                  (HasGiven
                       ? ": the file password is wrong"
                       : ": the file has a password of its own; give it with --file-password"));
}

std::unique_ptr<TStream> OpenForReading(TSingleFileSystem& FileSystem, int32_t ItemNo,
                                        const AnsiString& Password, bool Raw) {
  const AnsiString path = FileSystem.DIRManager().GetItemPath(ItemNo);
  if (Raw) return std::make_unique<TSFSUserFileStream>(&FileSystem, path, ModeReadOnly, Password);
  return std::make_unique<TSFSFileStream>(&FileSystem, path, ModeReadOnly, Password);
}

int32_t ReadPieceSize(const TStream& Stream) {
  constexpr int32_t Default = 1 << 20;
  const auto* file = dynamic_cast<const TSFSFileStream*>(&Stream);
  if (file == nullptr || file->Stream().Method() == 0) return Default;
  const uint32_t block = file->Stream().Header().BlockSize;
  if (block < 4096 || block > MaxStreamBlockSize) return Default;
  return static_cast<int32_t>(block);
}

void CopyOut(TSingleFileSystem& FileSystem, TStream& Stream, const std::string& Where,
             const std::function<void(const void*, size_t)>& Sink, const TByteCounter& Counter) {
  const int64_t size = Stream.Seek(0, 2);
  Stream.Seek(0, 0);
  const int32_t piece = ReadPieceSize(Stream);
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  int64_t total = 0;
  while (total < size) {
    FileSystem.LastError = 0;
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(piece, size - total));
    const int32_t got = Stream.Read(buffer.data(), want);
    if (FileSystem.LastError != 0)
      throw ESfsError(Where + ": read failed: " + ErrorCodeText(FileSystem.LastError));
    if (got <= 0) break;
    Sink(buffer.data(), static_cast<size_t>(got));
    total += got;
    if (Counter) Counter(got);
  }
  if (total != size) {
    throw ESfsError(Where + ": read failed after " + std::to_string(total) + " of " +
                    std::to_string(size) + " bytes");
  }
}

TFileFacts ProbeFile(TSingleFileSystem& FileSystem, int32_t ItemNo) {
  TFileFacts facts;
  if (ItemRecord(FileSystem, ItemNo).EncryptionType != 0) return facts;
  try {
    auto stream = OpenForReading(FileSystem, ItemNo, AnsiString(), false);
    auto& file = static_cast<TSFSFileStream&>(*stream);
    facts.Size = file.Seek(0, 2);
    facts.Method = file.Stream().Method();
    facts.Known = true;
  } catch (const std::exception&) {
    facts.Known = false;
  }
  return facts;
}

}  // namespace zk::sfs
