#pragma once
// Writing a file safely: the bytes go to a private temporary file in the target's folder, are
// flushed to disk, and the temporary takes the final name in one rename (replacing the old file
// or refusing to), after which the folder itself is flushed so the new name survives a crash.
// Until then the old file (or no file) stays as it was; a temporary file that was not committed
// is removed when its AtomicFile goes away. Temporary files are named ".px-tmp-<random>": hidden
// from listings, and recognised by the start-up sweep when a crash left one behind. Every file
// the program places or rewrites goes this way (logs that are only appended to and lock files
// excepted), so that one name is all the sweep has to know.
#include "foundation/file_status.h"

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace px {

// A file descriptor that closes itself.
class UniqueFd {
public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);
  // Closes now: 0, or the errno of a failed close (a write the system had delayed may fail here).
  int Close();

private:
  int fd_ = -1;
};

// Name prefix of the program's temporary files.
inline constexpr std::string_view kTempFilePrefix = ".px-tmp-";
// 16 random hex digits for a temporary name; whoever creates the file still checks it is free.
std::string RandomNameSuffix();

class AtomicFile {
public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();  // discards an uncommitted temporary file
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file with `mode` (less the umask). 0 or errno.
  int Open(mode_t mode = 0666);
  // Opens for rewriting the file at Path(): a symbolic link there is written through to the file
  // it names (with `followLinks`; else the link itself is replaced), and an existing file keeps
  // its mode. EISDIR when a folder is in the way. 0 or errno.
  int OpenForRewrite(bool followLinks = true);
  int fd() const { return fd_.get(); }
  // Appends bytes; false (and Error() set) when the write failed.
  bool Write(std::string_view bytes);
  // Flushes the file, gives it its final name and flushes the folder (not being able to flush
  // the folder is not a failure: the file is in place). Without `replace` an existing file of
  // that name is left alone and EEXIST is returned; the written temporary file is then kept, so
  // the caller may choose another name (SetPath) and commit again, or Discard. Any other
  // failure removes the temporary file; the target is always as it was. 0 or errno.
  int Commit(bool replace = true);
  void Discard();
  // The final name for the next Commit.
  void SetPath(std::string path);
  // Without flushing (for files that may be lost in a crash, such as a spool that is refetched).
  void SetSync(bool sync) { sync_ = sync; }
  // A temporary file exists (open for writing, or written and waiting for another name).
  bool IsOpen() const { return !tmp_.empty(); }

  const std::string& Path() const { return path_; }
  const std::string& TempPath() const { return tmp_; }
  int Error() const { return error_; }

private:
  std::string path_;
  std::string tmp_;
  UniqueFd fd_;
  int error_ = 0;
  bool sync_ = true;
};

// Rewrites (or creates) `path` with `bytes` through an AtomicFile opened by OpenForRewrite; on
// failure the old file is left as it was. Without `sync` nothing is flushed (scratch files that
// may be lost in a crash).
FileStatus SaveFileAtomic(const std::string& path, std::string_view bytes, bool followLinks = true,
                          bool sync = true);
// The same, with the bytes given piece by piece by `produce` to the writer it is handed; a
// false from `produce` (or a failed write) leaves the old file.
using ByteWriter = std::function<bool(std::string_view)>;
FileStatus SaveFileAtomic(const std::string& path, const std::function<bool(const ByteWriter&)>& produce,
                          bool followLinks = true);
// Places a new file with `bytes` under the first free name `nameAt(attempt)` gives in `folder`
// (attempt 0, 1, ...; at most `attempts`), never over an existing file. Returns the name placed
// ("" with *error set when none could be).
std::string PlaceNewFile(const std::string& folder, std::string_view bytes,
                         const std::function<std::string(int attempt)>& nameAt, FileStatus* error,
                         int attempts = 50, mode_t mode = 0666);

// Copies the file `from` to `to` through an AtomicFile, never replacing a file there (EEXIST).
// A link at `from` is followed only with `followLink`; without `sync` nothing is flushed.
// 0 or errno; on failure `to` is as it was.
int CopyFileNoReplace(const std::string& from, const std::string& to, bool sync = true, bool followLink = false);

// Flushes the folder that holds `path` (its entries: a rename or a new file in it). 0 or errno.
int SyncFolderOf(const std::string& path);
// Puts `from` at `to` without replacing anything there (EEXIST when `to` exists). 0 or errno.
int RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace px
