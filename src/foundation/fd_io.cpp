#include "foundation/fd_io.h"

#include <cerrno>
#include <unistd.h>

namespace px {

bool WriteAllToFd(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= size_t(n);
  }
  return true;
}

}  // namespace px
