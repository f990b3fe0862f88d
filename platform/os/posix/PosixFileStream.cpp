// TFileStream on POSIX: open/read/write/lseek/ftruncate on the UTF-8 form of
// the file name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os/AnsiCodePage.h"
#include "platform/rtl/FileStream.h"

namespace zk {

namespace {
AnsiString Reason(int code) {
  return AnsiString(std::strerror(code));
}
}  // namespace

TFileStream::TFileStream(const AnsiString& FileName, uint16_t Mode) : FFileName(FileName) {
  const bool create = Mode == fmCreate;
  std::string path;
  if (!os::TryAnsiToUtf8(FileName, path)) {
    const AnsiString text = (create ? "Cannot create file " : "Cannot open file ") +
                            QuoteText(FileName) + ". The name can not be converted";
    if (create) throw EFCreateError(text);
    throw EFOpenError(text);
  }
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (Mode & 3) {
      case fmOpenRead:
        flags |= O_RDONLY;
        break;
      case fmOpenWrite:
        flags |= O_WRONLY;
        break;
      default:
        flags |= O_RDWR;
        break;
    }
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int code = errno;
    if (create)
      throw EFCreateError("Cannot create file " + QuoteText(FileName) + ". " + Reason(code));
    throw EFOpenError("Cannot open file " + QuoteText(FileName) + ". " + Reason(code));
  }
  FHandle = fd;
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
}

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || Buffer == nullptr) return 0;
  auto* p = static_cast<char*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    ssize_t n = ::read(static_cast<int>(FHandle), p + done, static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || Buffer == nullptr) return 0;
  const auto* p = static_cast<const char*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    ssize_t n = ::write(static_cast<int>(FHandle), p + done, static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t Offset, uint16_t Origin) {
  int whence = SEEK_SET;
  if (Origin == soCurrent) whence = SEEK_CUR;
  if (Origin == soEnd) whence = SEEK_END;
  const off_t pos = ::lseek(static_cast<int>(FHandle), static_cast<off_t>(Offset), whence);
  if (pos < 0) return -1;
  return static_cast<int64_t>(pos);
}

void TFileStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  int rc;
  do {
    rc = ::ftruncate(static_cast<int>(FHandle), static_cast<off_t>(NewSize));
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) throw EWriteError("Stream write error");
  if (GetPosition() > NewSize) Seek(NewSize, soBeginning);
}

bool TFileStream::SameFile(const AnsiString& OtherName) const {
  std::string path;
  if (!os::TryAnsiToUtf8(OtherName, path)) return false;
  struct stat other {
  }, self{};
  if (::stat(path.c_str(), &other) != 0 || ::fstat(static_cast<int>(FHandle), &self) != 0)
    return false;
  return other.st_dev == self.st_dev && other.st_ino == self.st_ino;
}

}  // namespace zk
