// Whole-file reading and atomic rewriting of the files the program keeps.
#include "foundation/ini_file.h"
#include "foundation/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace px {
namespace {

FileStatus failure(const char* verb, const std::string& path, int err) {
  return FileStatus::Failure(verb, path, err);
}

}  // namespace

FileStatus ReadWholeFile(const std::string& path, std::string& bytes, uint64_t maxSize, bool noFollow,
                        struct stat* info) {
  bytes.clear();
  // Non-blocking: a FIFO in the file's place must not hang the reader.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0));
  if (fd < 0) return failure("read", path, errno);
  struct stat st;
  if (::fstat(fd, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      ::close(fd);
      return failure("read", path, EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      return failure("read", path, EINVAL);
    }
    if (uint64_t(st.st_size) > maxSize) {
      ::close(fd);
      return failure("read", path, EFBIG);
    }
    if (st.st_size > 0) bytes.reserve(size_t(st.st_size));
    if (info) *info = st;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      bytes.clear();
      return failure("read", path, err);
    }
    if (n == 0) break;
    if (bytes.size() + size_t(n) > maxSize) {  // grew while being read
      ::close(fd);
      bytes.clear();
      return failure("read", path, EFBIG);
    }
    bytes.append(buf, size_t(n));
  }
  ::close(fd);
  return FileStatus::Ok();
}

FileStatus SaveFileAtomic(const std::string& path, std::string_view bytes, bool followLinks) {
  // Write through a symbolic link to the file it names, so the link stays in place.
  std::string target = path;
  struct stat lst;
  if (followLinks && ::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  struct stat old;
  bool exists = (followLinks ? ::stat(target.c_str(), &old) : ::lstat(target.c_str(), &old)) == 0;
  if (exists && !followLinks && !S_ISREG(old.st_mode) && !S_ISDIR(old.st_mode)) exists = false;
  if (exists && S_ISDIR(old.st_mode)) return failure("write", path, EISDIR);

  AtomicFile file(target);
  if (int err = file.Open(exists ? (old.st_mode & 07777) : 0666)) return failure("write", path, err);
  if (exists && ::fchmod(file.fd(), old.st_mode & 07777) != 0) {
    // Not fatal: a file of another owner may refuse; it is rewritten with the default mode.
  }
  file.Write(bytes);
  if (int err = file.Commit(true)) return failure("write", path, err);
  return FileStatus::Ok();
}

}  // namespace px
