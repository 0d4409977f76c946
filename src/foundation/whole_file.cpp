// Whole-file reading of the files the program keeps.
#include "foundation/ini_file.h"

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

}  // namespace px
