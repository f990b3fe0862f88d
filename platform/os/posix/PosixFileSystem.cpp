// The file system on POSIX: file descriptors as handles, flock for sharing,
// posix_fadvise for the access hints, renameat2 with RENAME_NOREPLACE for
// renaming, statfs/statvfs for the volume questions. Paths arrive in GBK and
// are converted to UTF-8 before `\` becomes `/`.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/FileSystem.h"

namespace zk::os {

namespace {

thread_local int tLastError = 0;

template <class T>
T Fail(int code, T result) {
  tLastError = code;
  return result;
}

// GBK path to the UTF-8 path of the file-system call; false (EILSEQ or
// ENOENT) when it has no such form.
bool NativePath(const AnsiString& path, std::string& out) {
  if (path.empty()) {
    tLastError = ENOENT;
    return false;
  }
  if (path.find('\0') != AnsiString::npos || !TryAnsiToUtf8(path, out)) {
    tLastError = EILSEQ;
    return false;
  }
  for (char& c : out)
    if (c == '\\') c = '/';
  return true;
}

int FdOf(TFileHandle handle) {
  return (handle < 0 || handle > INT_MAX) ? -1 : static_cast<int>(handle);
}

// Holds an exclusive lock on a path for the time of a rename or delete, so a
// file that someone keeps open (and locked) is left alone. A file that cannot
// be opened for reading is not checked: nobody can have it open through us.
class TPathLockCheck {
 public:
  explicit TPathLockCheck(const std::string& native) {
    FFd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (FFd >= 0 && ::flock(FFd, LOCK_EX | LOCK_NB) != 0) FBusy = (errno == EWOULDBLOCK);
  }
  ~TPathLockCheck() {
    if (FFd >= 0) ::close(FFd);
  }
  TPathLockCheck(const TPathLockCheck&) = delete;
  TPathLockCheck& operator=(const TPathLockCheck&) = delete;
  bool Busy() const { return FBusy; }

 private:
  int FFd = -1;
  bool FBusy = false;
};

// The folder that stands for the volume of a path: the path itself when it is
// a folder, else the nearest existing ancestor folder, "." for a bare name.
std::string VolumeFolder(std::string native) {
  struct stat st {};
  while (true) {
    if (::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return native;
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    size_t slash = native.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    native.resize(slash);
  }
}

AnsiString HexText(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

class TPosixFileSystem final : public IFileSystem {
 public:
  TFileHandle Open(const AnsiString& path, TFileAccess access, TFileShare share,
                   TFileCreation creation, uint32_t hints) override {
    std::string native;
    if (!NativePath(path, native)) return InvalidFileHandle;
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    flags |= access == TFileAccess::ReadWrite ? O_RDWR : O_RDONLY;
    switch (creation) {
      case TFileCreation::OpenExisting:
        break;
      case TFileCreation::CreateAlways:
        flags |= O_CREAT;
        break;
      case TFileCreation::CreateNew:
        flags |= O_CREAT | O_EXCL;
        break;
      case TFileCreation::OpenAlways:
        flags |= O_CREAT;
        break;
    }
    int fd = ::open(native.c_str(), flags, 0666);
    if (fd < 0) return Fail(errno, InvalidFileHandle);
    // Only regular files; the descriptor was opened without blocking so that
    // a pipe never stalls the open, and blocks again from here on.
    struct stat st {};
    if (::fstat(fd, &st) != 0) return CloseAndFail(fd, errno);
    if (!S_ISREG(st.st_mode)) return CloseAndFail(fd, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) return CloseAndFail(fd, errno);
    int lock = share == TFileShare::Exclusive ? LOCK_EX : LOCK_SH;
    if (::flock(fd, lock | LOCK_NB) != 0)
      return CloseAndFail(fd, errno == EWOULDBLOCK ? EBUSY : errno);
    if (creation == TFileCreation::CreateAlways && st.st_size != 0) {
      if (access == TFileAccess::ReadWrite) {
        if (::ftruncate(fd, 0) != 0) return CloseAndFail(fd, errno);
      } else {
        // A read-only descriptor cannot truncate: a second, unlocked one does.
        int wfd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (wfd < 0) return CloseAndFail(fd, errno);
        int r = ::ftruncate(wfd, 0);
        int e = errno;
        ::close(wfd);
        if (r != 0) return CloseAndFail(fd, e);
      }
    }
    if (hints & fhRandomAccess) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    if (hints & fhSequentialScan) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
  }

  int32_t Read(TFileHandle handle, void* buffer, int32_t count) override {
    int fd = FdOf(handle);
    if (fd < 0) return Fail(EBADF, -1);
    if (count <= 0) return 0;
    auto* p = static_cast<char*>(buffer);
    int32_t done = 0;
    while (done < count) {
      ssize_t r = ::read(fd, p + done, static_cast<size_t>(count - done));
      if (r < 0) {
        if (errno == EINTR) continue;
        if (done > 0) break;
        return Fail(errno, -1);
      }
      if (r == 0) break;
      done += static_cast<int32_t>(r);
    }
    return done;
  }

  int32_t Write(TFileHandle handle, const void* buffer, int32_t count) override {
    int fd = FdOf(handle);
    if (fd < 0) return Fail(EBADF, -1);
    if (count <= 0) return 0;
    const auto* p = static_cast<const char*>(buffer);
    int32_t done = 0;
    while (done < count) {
      ssize_t r = ::write(fd, p + done, static_cast<size_t>(count - done));
      if (r < 0) {
        if (errno == EINTR) continue;
        if (done > 0) {
          tLastError = errno;
          break;
        }
        return Fail(errno, -1);
      }
      if (r == 0) break;
      done += static_cast<int32_t>(r);
    }
    return done;
  }

  int64_t Seek(TFileHandle handle, int64_t offset, uint16_t origin) override {
    int fd = FdOf(handle);
    if (fd < 0) return Fail(EBADF, int64_t{-1});
    int whence;
    switch (origin) {
      case 0:
        whence = SEEK_SET;
        break;
      case 1:
        whence = SEEK_CUR;
        break;
      case 2:
        whence = SEEK_END;
        break;
      default:
        return Fail(EINVAL, int64_t{-1});
    }
    off_t r = ::lseek(fd, static_cast<off_t>(offset), whence);
    if (r < 0) return Fail(errno, int64_t{-1});
    return static_cast<int64_t>(r);
  }

  bool SetEndOfFile(TFileHandle handle) override {
    int fd = FdOf(handle);
    if (fd < 0) return Fail(EBADF, false);
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return Fail(errno, false);
    while (::ftruncate(fd, at) != 0) {
      if (errno != EINTR) return Fail(errno, false);
    }
    return true;
  }

  bool Flush(TFileHandle handle) override {
    int fd = FdOf(handle);
    if (fd < 0) return Fail(EBADF, false);
    if (::fsync(fd) != 0) return Fail(errno, false);
    return true;
  }

  bool Close(TFileHandle handle) override {
    int fd = FdOf(handle);
    if (fd < 0) return Fail(EBADF, false);
    // The descriptor is released even when close reports an error.
    if (::close(fd) != 0 && errno != EINTR) return Fail(errno, false);
    return true;
  }

  bool Rename(const AnsiString& oldPath, const AnsiString& newPath) override {
    std::string from, to;
    if (!NativePath(oldPath, from) || !NativePath(newPath, to)) return false;
    TPathLockCheck check(from);
    if (check.Busy()) return Fail(EBUSY, false);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
      return true;
    if (errno != EINVAL && errno != ENOSYS) return Fail(errno, false);
    // The file system cannot rename without replacing: a new link, which
    // fails when the target exists, and then the old name goes.
    if (::link(from.c_str(), to.c_str()) != 0) return Fail(errno, false);
    if (::unlink(from.c_str()) != 0) {
      int e = errno;
      ::unlink(to.c_str());
      return Fail(e, false);
    }
    return true;
  }

  bool Delete(const AnsiString& path) override {
    std::string native;
    if (!NativePath(path, native)) return false;
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0) return Fail(errno, false);
    if (S_ISDIR(st.st_mode)) return Fail(EISDIR, false);
    TPathLockCheck check(native);
    if (check.Busy()) return Fail(EBUSY, false);
    if (::unlink(native.c_str()) != 0) return Fail(errno, false);
    return true;
  }

  bool FileExists(const AnsiString& path) override {
    std::string native;
    if (!NativePath(path, native)) return false;
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return Fail(errno, false);
    return S_ISREG(st.st_mode);
  }

  bool VolumeFileSystemName(const AnsiString& path, AnsiString& name) override {
    std::string native;
    if (path.empty()) {
      native = ".";
    } else if (!NativePath(path, native)) {
      return false;
    }
    struct statfs fs {};
    if (::statfs(VolumeFolder(native).c_str(), &fs) != 0) return Fail(errno, false);
    name = FileSystemNameOf(static_cast<uint64_t>(fs.f_type),
                            static_cast<uint64_t>(fs.f_blocks) * static_cast<uint64_t>(fs.f_bsize));
    return true;
  }

  int64_t VolumeFreeSpace(const AnsiString& path) override {
    std::string native;
    if (path.empty()) {
      native = ".";
    } else if (!NativePath(path, native)) {
      return -1;
    }
    struct statvfs vfs {};
    if (::statvfs(VolumeFolder(native).c_str(), &vfs) != 0) return Fail(errno, int64_t{-1});
    unsigned __int128 bytes = static_cast<unsigned __int128>(vfs.f_bavail) * vfs.f_frsize;
    if (bytes > static_cast<unsigned __int128>(INT64_MAX)) return INT64_MAX;
    return static_cast<int64_t>(bytes);
  }

  int LastError() override { return tLastError; }

 private:
  static TFileHandle CloseAndFail(int fd, int code) {
    ::close(fd);
    return Fail(code, InvalidFileHandle);
  }

  static AnsiString FileSystemNameOf(uint64_t type, uint64_t volumeBytes) {
    switch (type) {
      case MSDOS_SUPER_MAGIC:
        return volumeBytes >= (uint64_t{2} << 30) ? "FAT32" : "FAT";
      case ISOFS_SUPER_MAGIC:
        return "CDFS";
      case UDF_SUPER_MAGIC:
        return "FS_UDF";
      case EXT2_SUPER_MAGIC:  // also ext3 and ext4
      case XFS_SUPER_MAGIC:
      case BTRFS_SUPER_MAGIC:
      case TMPFS_MAGIC:
      case OVERLAYFS_SUPER_MAGIC:
      case NFS_SUPER_MAGIC:
      case 0x2FC12FC1:  // zfs
      case EXFAT_SUPER_MAGIC:
      case F2FS_SUPER_MAGIC:
      case CEPH_SUPER_MAGIC:
        return "NTFS";
      default:
        return "UNKNOWN " + HexText(type);
    }
  }
};

}  // namespace

IFileSystem& IFileSystem::Default() {
  static TPosixFileSystem fileSystem;
  return fileSystem;
}

EOSError MakeOSError(int code) {
  char buffer[256] = {};
  // The GNU form returns the text, which may or may not be in the buffer.
  const char* text = ::strerror_r(code, buffer, sizeof buffer);
  AnsiString message;
  if (!TryUtf8ToAnsi(text ? text : "", message) || message.empty())
    message = "System error " + IntToStr(code);
  return EOSError(code, message);
}

[[noreturn]] void RaiseLastOSError() {
  throw MakeOSError(FileSystem().LastError());
}

}  // namespace zk::os
