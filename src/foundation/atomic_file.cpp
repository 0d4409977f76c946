#include "foundation/atomic_file.h"

#include "foundation/fd_io.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

int AtomicFile::OpenForRewrite(bool followLinks) {
  struct stat lst {};
  if (followLinks && ::lstat(path_.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    // Written through to the file it names, so the link stays in place.
    if (char* real = ::realpath(path_.c_str(), nullptr)) {
      path_ = real;
      std::free(real);
    }
  }
  struct stat old {};
  bool exists = (followLinks ? ::stat(path_.c_str(), &old) : ::lstat(path_.c_str(), &old)) == 0;
  if (exists && !followLinks && !S_ISREG(old.st_mode) && !S_ISDIR(old.st_mode)) exists = false;
  if (exists && S_ISDIR(old.st_mode)) return error_ = EISDIR;
  if (int err = Open(exists ? (old.st_mode & 07777) : 0666)) return err;
  // Not fatal when it fails: a file of another owner may refuse; it is rewritten with the
  // default mode.
  if (exists) (void)::fchmod(fd_.get(), old.st_mode & 07777);
  return 0;
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

FileStatus SaveFileAtomic(const std::string& path, std::string_view bytes, bool followLinks, bool sync) {
  AtomicFile file(path);
  file.SetSync(sync);
  if (int err = file.OpenForRewrite(followLinks)) return FileStatus::Failure("write", path, err);
  file.Write(bytes);
  if (int err = file.Commit(true)) return FileStatus::Failure("write", path, err);
  return FileStatus::Ok();
}

FileStatus SaveFileAtomic(const std::string& path, const std::function<bool(const ByteWriter&)>& produce,
                          bool followLinks) {
  AtomicFile file(path);
  if (int err = file.OpenForRewrite(followLinks)) return FileStatus::Failure("write", path, err);
  const bool produced = produce([&file](std::string_view bytes) { return file.Write(bytes); });
  if (!produced) {
    const int err = file.Error();
    file.Discard();
    return FileStatus::Failure("write", path, err ? err : EIO);
  }
  if (int err = file.Commit(true)) return FileStatus::Failure("write", path, err);
  return FileStatus::Ok();
}

std::string PlaceNewFile(const std::string& folder, std::string_view bytes,
                         const std::function<std::string(int attempt)>& nameAt, FileStatus* error,
                         int attempts, mode_t mode) {
  const std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  std::string name = nameAt(0);
  AtomicFile file(dir + name);
  if (int err = file.Open(mode)) {
    if (error) *error = FileStatus::Failure("write", dir + name, err);
    return {};
  }
  file.Write(bytes);
  for (int attempt = 1;; ++attempt) {
    const int err = file.Commit(false);
    if (err == 0) return name;
    if (err != EEXIST || attempt >= attempts) {
      if (error) *error = FileStatus::Failure("write", dir + name, err);
      return {};
    }
    // The written file waits under its temporary name for a free one.
    name = nameAt(attempt);
    file.SetPath(dir + name);
  }
}

int CopyFileNoReplace(const std::string& from, const std::string& to, bool sync, bool followLink) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
  if (!in) return errno;
  AtomicFile out(to);
  out.SetSync(sync);
  if (int err = out.Open()) return err;
  std::string buf(256 * 1024, '\0');
  for (;;) {
    const ssize_t n = ::read(in.get(), buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;  // the temporary file goes with `out`
    if (n == 0) break;
    if (!out.Write(std::string_view(buf.data(), static_cast<size_t>(n)))) return out.Error();
  }
  return out.Commit(false);  // a kept temporary file (EEXIST) goes with `out`
}

}  // namespace px
