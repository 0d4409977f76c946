#include "mailformat/spool.h"

#include "foundation/fd_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include "foundation/dates.h"
#include "foundation/random.h"

namespace px::mailformat {

namespace {

constexpr size_t kWriteBuffer = 256 * 1024;
const std::string_view kAllExts[] = {kRawExt, kDescriptorExt, kContentExt, kEncryptedExt,
                                     kContainerExt, kContainerDoneExt, kFailedExt};

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

bool RenameNoReplace(const std::string& src, const std::string& dst) {
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: link() refuses an existing target just as well.
  if (::link(src.c_str(), dst.c_str()) != 0) return false;
  ::unlink(src.c_str());
  return true;
}

MailSpool::MailSpool(std::string folder, RandomSource& random)
    : folder_(std::move(folder)), random_(random) {
  if (folder_.empty() || folder_.back() != '/') folder_ += '/';
  QDir().mkpath(QString::fromStdString(folder_));
}

std::string MailSpool::PathOf(std::string_view name, std::string_view ext) const {
  std::string p = folder_;
  p += name;
  p += ext;
  return p;
}

bool MailSpool::Exists(std::string_view name, std::string_view ext) const {
  struct stat st;
  return ::lstat(PathOf(name, ext).c_str(), &st) == 0;
}

std::vector<std::string> MailSpool::List(std::string_view ext) const {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder_.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    std::string_view n(e->d_name);
    if (n.empty() || n[0] == '.' || !EndsWith(n, ext) || n.size() == ext.size()) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    names.emplace_back(n.substr(0, n.size() - ext.size()));
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string MailSpool::NewName() {
  for (;;) {
    std::string name = NewUniqueId(random_);
    if (name.empty()) name = std::to_string(random_.Below(1000000000ull)) + "0";
    bool taken = false;
    for (auto ext : kAllExts)
      if (Exists(name, ext)) {
        taken = true;
        break;
      }
    if (!taken) return name;
  }
}

bool MailSpool::WriteFile(std::string_view name, std::string_view ext, std::string_view bytes,
                          std::string* error) {
  SpoolFileWriter w;
  if (!w.Open(*this, name, ext) || !w.Write(bytes) || !w.Commit()) {
    if (error) *error = w.errorText();
    return false;
  }
  return true;
}

bool MailSpool::Remove(std::string_view name, std::string_view ext) {
  return ::unlink(PathOf(name, ext).c_str()) == 0;
}

bool MailSpool::MarkFailed(std::string_view name, std::string* error) {
  std::string src = PathOf(name, kRawExt);
  std::string dst = PathOf(name, kFailedExt);
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (RenameNoReplace(src, dst)) {
      if (sync_) SyncFolder();
      return true;
    }
    if (errno != EEXIST) break;
    dst = PathOf(std::string(name) + "_" + std::to_string(random_.Below(1000000)), kFailedExt);
  }
  if (error) *error = "Cannot rename " + src + "\rto " + dst + "\r\rError " +
                      std::to_string(errno) + ": " + std::strerror(errno);
  return false;
}

void MailSpool::SyncFolder() const {
  int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// ---- SpoolFileWriter ----------------------------------------------------------------------------

SpoolFileWriter::~SpoolFileWriter() { Discard(); }

bool SpoolFileWriter::Open(MailSpool& spool, std::string_view name, std::string_view ext) {
  Discard();
  spool_ = &spool;
  name_ = std::string(name);
  ext_ = std::string(ext);
  error_ = 0;
  retryable_ = false;
  size_ = 0;
  // Hidden and with its own extension: no spool reader ever picks it up.
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmpPath_ = spool.folder() + "." + name_ + ext_ + "." +
               std::to_string(spool.random().Below(1000000)) + ".tmp";
    fd_ = ::open(tmpPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    if (errno != EEXIST) break;
  }
  error_ = errno;
  tmpPath_.clear();
  return false;
}

bool SpoolFileWriter::FlushBuffer() {
  if (!WriteAllToFd(fd_, buffer_)) {
    error_ = errno;
    return false;
  }
  buffer_.clear();
  return true;
}

bool SpoolFileWriter::Write(std::string_view bytes) {
  if (fd_ < 0 || error_) return false;
  size_ += bytes.size();
  if (buffer_.size() + bytes.size() <= kWriteBuffer) {
    buffer_.append(bytes);
    return true;
  }
  if (!FlushBuffer()) return false;
  if (bytes.size() >= kWriteBuffer) {
    // Large pieces go straight to the file.
    if (!WriteAllToFd(fd_, bytes)) {
      error_ = errno;
      return false;
    }
    return true;
  }
  if (buffer_.capacity() < kWriteBuffer) buffer_.reserve(kWriteBuffer);
  buffer_.append(bytes);
  return true;
}

bool SpoolFileWriter::Commit() { return CommitAs(name_); }

bool SpoolFileWriter::CommitAs(std::string_view name) {
  if (retryable_) {
    retryable_ = false;
    error_ = 0;
  }
  if (fd_ < 0) {
    if (!error_) error_ = EBADF;
    return false;
  }
  if (error_ || !FlushBuffer()) return false;
  if (spool_->sync() && ::fdatasync(fd_) != 0) {
    error_ = errno;
    return false;
  }
  if (::close(fd_) != 0) {
    fd_ = -1;
    error_ = errno;
    return false;
  }
  fd_ = -1;
  std::string dst = spool_->PathOf(name, ext_);
  if (!RenameNoReplace(tmpPath_, dst)) {
    error_ = errno;
    // Keep the temporary file so a retry under another name can still use it.
    fd_ = ::open(tmpPath_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    int saved = error_;
    if (fd_ < 0) {
      ::unlink(tmpPath_.c_str());
      tmpPath_.clear();
    }
    error_ = saved;
    retryable_ = fd_ >= 0;
    return false;
  }
  name_ = std::string(name);
  tmpPath_.clear();
  return true;
}

void SpoolFileWriter::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!tmpPath_.empty()) {
    ::unlink(tmpPath_.c_str());
    tmpPath_.clear();
  }
  buffer_.clear();
}

std::string SpoolFileWriter::errorText() const {
  std::string path = spool_ ? spool_->PathOf(name_, ext_) : name_ + ext_;
  return "Cannot write " + path + "\r\rError " + std::to_string(error_) + ": " +
         std::strerror(error_);
}

}  // namespace px::mailformat
