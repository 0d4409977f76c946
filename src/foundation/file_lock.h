#pragma once
// An exclusive lock across processes on a file that is read, changed and saved whole.
//
// The lock is an flock on a hidden companion file beside the locked one ("." + name + ".lock"),
// never on the file itself: the file is replaced by a rename on every save, so a lock on it
// would be lost with the old inode. The companion file stays in place (removing it would let
// two processes lock two different files of the same name); listings skip it as a dot-file and
// folder copies leave it behind.
#include "foundation/atomic_file.h"

#include <string>
#include <string_view>

namespace px {

// Suffix of lock files.
inline constexpr std::string_view kLockFileSuffix = ".lock";

// The lock file of `path` (a full path of the locked file).
std::string LockPathOf(std::string_view path);
// True when the bare name `name` is a lock file of ours ("." + something + ".lock").
bool IsLockFileName(std::string_view name);

class FileLock {
public:
  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the exclusive lock of `path`, waiting at most `timeoutMs` for another holder.
  // 0, or errno: ETIMEDOUT when the lock stayed taken, ELOOP/EINVAL when something other than a
  // regular file sits at the lock file's name. A folder where no lock file can be made
  // (read-only, another owner's) gives EACCES or EROFS; a save there fails on its own.
  int Lock(std::string_view path, int timeoutMs = 20000);
  void Unlock();
  bool Locked() const { return static_cast<bool>(fd_); }

private:
  UniqueFd fd_;
};

}  // namespace px
