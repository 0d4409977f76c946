#include "mailformat/spool.h"

#include "foundation/fd_io.h"
#include "foundation/file_status.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
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

std::string KeyedRawName(std::string_view base, std::string_view key) {
  QByteArray d = QCryptographicHash::hash(QByteArray(key.data(), static_cast<qsizetype>(key.size())),
                                          QCryptographicHash::Sha256);
  return std::string(base) + "-h" + d.left(16).toHex().toStdString();
}

std::string RawKeyOf(std::string_view name) {
  const size_t dash = name.rfind("-h");
  if (dash == std::string_view::npos || name.size() - dash != 34) return {};
  std::string_view hex = name.substr(dash + 2);
  if (hex.find_first_not_of("0123456789abcdef") != std::string_view::npos) return {};
  return std::string(name.substr(dash + 1));
}

bool IsResourceError(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EIO:
    case EROFS:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
      return true;
    default:
      return false;
  }
}

bool RenameNoReplace(const std::string& src, const std::string& dst) {
  const int err = px::RenameNoReplace(src, dst);
  errno = err;
  return err == 0;
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
    errno = w.error();
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
  if (error) *error = FileErrorText("rename", src, dst, errno);
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
  // Hidden and with a name of its own: no spool reader ever picks it up.
  file_ = std::make_unique<AtomicFile>(spool.PathOf(name_, ext_));
  file_->SetSync(spool.sync());
  error_ = file_->Open();
  if (error_) file_.reset();
  return error_ == 0;
}

bool SpoolFileWriter::FlushBuffer() {
  if (!file_->Write(buffer_)) {
    error_ = file_->Error();
    return false;
  }
  buffer_.clear();
  return true;
}

bool SpoolFileWriter::Write(std::string_view bytes) {
  if (!file_ || file_->fd() < 0 || error_) return false;
  size_ += bytes.size();
  if (buffer_.size() + bytes.size() <= kWriteBuffer) {
    buffer_.append(bytes);
    return true;
  }
  if (!FlushBuffer()) return false;
  if (bytes.size() >= kWriteBuffer) {
    // Large pieces go straight to the file.
    if (!file_->Write(bytes)) {
      error_ = file_->Error();
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
  if (!file_ || !file_->IsOpen()) {
    if (!error_) error_ = EBADF;
    return false;
  }
  if (error_ || (file_->fd() >= 0 && !FlushBuffer())) return false;
  file_->SetPath(spool_->PathOf(name, ext_));
  error_ = file_->Commit(false);
  if (error_) {
    // A taken name keeps the written file, so a retry under another name can still use it.
    retryable_ = file_->IsOpen();
    if (!retryable_) file_.reset();
    return false;
  }
  name_ = std::string(name);
  file_.reset();
  return true;
}

void SpoolFileWriter::Discard() {
  file_.reset();
  buffer_.clear();
}

std::string SpoolFileWriter::errorText() const {
  std::string path = spool_ ? spool_->PathOf(name_, ext_) : name_ + ext_;
  return FileErrorText("write", path, {}, error_);
}

}  // namespace px::mailformat
