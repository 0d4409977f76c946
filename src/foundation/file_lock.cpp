#include "foundation/file_lock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace px {

std::string LockPathOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view dir = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::string out(dir);
  out += '.';
  out += name;
  out += kLockFileSuffix;
  return out;
}

bool IsLockFileName(std::string_view name) {
  return name.size() > 1 + kLockFileSuffix.size() && name.front() == '.' && name.ends_with(kLockFileSuffix);
}

int FileLock::Lock(std::string_view path, int timeoutMs) {
  Unlock();
  const std::string lockPath = LockPathOf(path);
  // Non-blocking open: a FIFO planted at the lock's name must not hang us.
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0 && errno == EACCES)  // another user's lock file: flock needs no write access
    fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  UniqueFd owned(fd);
  struct stat st{};
  if (::fstat(fd, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return errno;
    if (std::chrono::steady_clock::now() >= deadline) return ETIMEDOUT;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(10)) pause *= 2;
  }
  fd_ = std::move(owned);
  return 0;
}

void FileLock::Unlock() {
  if (fd_) {
    ::flock(fd_.get(), LOCK_UN);
    fd_.reset();
  }
}

}  // namespace px
