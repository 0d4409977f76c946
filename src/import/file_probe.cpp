#include "import/file_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace px::import {

bool IsFolder(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& p, off_t* size) {
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size) *size = st.st_size;
  return true;
}

bool ReadBounded(const std::string& path, std::string& out, size_t max) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buf[64 * 1024];
  for (ssize_t n; out.size() <= max && (n = ::read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out.size() <= max;
}

}  // namespace px::import
