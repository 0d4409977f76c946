#include "foundation/atomic_file.h"

#include "foundation/fd_io.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace px {
namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}


}  // namespace

std::string RandomNameSuffix() {
  unsigned char bytes[8];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // Only a system without entropy gets here; the name only has to be free, and O_EXCL checks that.
    static unsigned counter = 0;
    const unsigned long v = static_cast<unsigned long>(::getpid()) * 2654435761ul + ++counter;
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(v >> (i * 8));
  }
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (unsigned char b : bytes) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int UniqueFd::Close() {
  if (fd_ < 0) return 0;
  const int r = ::close(fd_);
  fd_ = -1;
  return r == 0 ? 0 : errno;
}

int SyncFolderOf(const std::string& path) {
  UniqueFd dir(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return errno;
  // Some file systems cannot flush a folder; the rename itself is done all the same.
  if (::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS) return errno;
  return 0;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a hard link refuses an existing name just the same.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() { Discard(); }

int AtomicFile::Open(mode_t mode) {
  Discard();
  error_ = 0;
  const std::string dir = folderOf(path_);
  for (int attempt = 0; attempt < 32; ++attempt) {
    tmp_ = dir + "/" + std::string(kTempFilePrefix) + RandomNameSuffix();
    const int fd = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      fd_.reset(fd);
      return 0;
    }
    if (errno != EEXIST) break;
  }
  error_ = errno;
  tmp_.clear();
  return error_;
}

bool AtomicFile::Write(std::string_view bytes) {
  if (!fd_) {
    if (!error_) error_ = EBADF;
    return false;
  }
  if (WriteAllToFd(fd_.get(), bytes)) return true;
  error_ = errno ? errno : EIO;
  return false;
}

int AtomicFile::Commit(bool replace) {
  if (tmp_.empty()) return error_ = error_ ? error_ : EBADF;
  int err = 0;
  if (fd_) {
    // Still open: flush and close it first (a file kept after EEXIST is closed already).
    err = error_;
    if (!err && sync_ && ::fsync(fd_.get()) != 0) err = errno;
    const int closeErr = fd_.Close();
    if (!err) err = closeErr;
    if (err) {
      Discard();
      return error_ = err;
    }
  }
  if (replace) {
    if (::rename(tmp_.c_str(), path_.c_str()) != 0) err = errno;
  } else {
    err = RenameNoReplace(tmp_, path_);
  }
  if (err) {
    if (!(err == EEXIST && !replace)) Discard();
    return error_ = err;
  }
  tmp_.clear();
  // The file is in place: a folder that cannot be flushed does not undo that.
  if (sync_) SyncFolderOf(path_);
  return error_ = 0;
}

void AtomicFile::SetPath(std::string path) {
  path_ = std::move(path);
  if (!fd_) error_ = 0;
}

void AtomicFile::Discard() {
  fd_.reset();
  if (!tmp_.empty()) {
    ::unlink(tmp_.c_str());
    tmp_.clear();
  }
}

}  // namespace px
