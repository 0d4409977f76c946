#include "store/tree_ops.h"

#include "foundation/file_lock.h"

#include "store/index_file.h"
#include "foundation/atomic_file.h"
#include "foundation/fd_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace px::store {

namespace {

std::string noSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}
std::string withSlash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

FileFailure fail(int err, std::string verb, std::string path, std::string target = {}) {
  FileFailure f;
  f.error = err ? err : EIO;
  f.verb = std::move(verb);
  f.path = std::move(path);
  f.target = std::move(target);
  return f;
}

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

std::vector<std::string> entriesOf(const std::string& folder, int& err) {
  std::vector<std::string> out;
  err = 0;
  DIR* d = ::opendir(folder.c_str());
  if (!d) {
    err = errno;
    return out;
  }
  while (dirent* e = ::readdir(d)) {
    std::string_view n = e->d_name;
    if (n == "." || n == "..") continue;
    out.emplace_back(n);
  }
  ::closedir(d);
  return out;
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat st{};
  return ::lstat(noSlash(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return ::lstat(noSlash(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SameContent(const std::string& a, const std::string& b) {
  Fd fa(::open(a.c_str(), O_RDONLY | O_CLOEXEC));
  Fd fb(::open(b.c_str(), O_RDONLY | O_CLOEXEC));
  if (fa.fd < 0 || fb.fd < 0) return false;
  struct stat sa{}, sb{};
  if (::fstat(fa.fd, &sa) != 0 || ::fstat(fb.fd, &sb) != 0 || sa.st_size != sb.st_size)
    return false;
  std::unique_ptr<char[]> ba(new char[65536]), bb(new char[65536]);
  for (;;) {
    ssize_t na = ::read(fa.fd, ba.get(), 65536);
    if (na < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    size_t got = 0;
    while (got < static_cast<size_t>(na)) {
      ssize_t nb = ::read(fb.fd, bb.get() + got, static_cast<size_t>(na) - got);
      if (nb < 0 && errno == EINTR) continue;
      if (nb <= 0) return false;
      got += static_cast<size_t>(nb);
    }
    if (na == 0) {
      char c;
      return ::read(fb.fd, &c, 1) == 0;
    }
    if (std::memcmp(ba.get(), bb.get(), static_cast<size_t>(na)) != 0) return false;
  }
}

FileFailure CopyFileKeepTime(const std::string& source, const std::string& target) {
  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (in.fd < 0) return fail(errno, "copy", source, target);
  struct stat st{};
  if (::fstat(in.fd, &st) != 0) return fail(errno, "copy", source, target);
  if (!S_ISREG(st.st_mode)) return fail(EINVAL, "copy", source, target);

  AtomicFile out(target);
  if (int err = out.Open(0600)) return fail(err, "copy", source, target);
  std::unique_ptr<char[]> buf(new char[1 << 20]);
  for (;;) {
    ssize_t n = ::read(in.fd, buf.get(), 1 << 20);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno, "copy", source, target);
    }
    if (n == 0) break;
    if (!out.Write(std::string_view(buf.get(), static_cast<size_t>(n)))) return fail(out.Error(), "copy", source, target);
  }
  if (::fchmod(out.fd(), st.st_mode & 07777) != 0) return fail(errno, "copy", source, target);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(out.fd(), times) != 0) return fail(errno, "copy", source, target);
  if (int err = out.Commit(true)) return fail(err, "copy", source, target);
  return {};
}

FileFailure MoveEntry(const std::string& source, const std::string& target) {
  const std::string src = noSlash(source), dst = noSlash(target);
  if (::rename(src.c_str(), dst.c_str()) == 0) return {};
  const int err = errno;
  if (err != EXDEV) return fail(err, "move", src, dst);
  struct stat st{};
  if (::lstat(src.c_str(), &st) != 0) return fail(errno, "move", src, dst);
  if (S_ISDIR(st.st_mode)) {
    FileFailure f = CopyTree(src, dst, true);
    if (f) f.verb = "move";
    return f;
  }
  if (S_ISLNK(st.st_mode)) {
    std::string link(4096, '\0');
    ssize_t n = ::readlink(src.c_str(), link.data(), link.size());
    if (n < 0) return fail(errno, "move", src, dst);
    link.resize(static_cast<size_t>(n));
    ::unlink(dst.c_str());
    if (::symlink(link.c_str(), dst.c_str()) != 0) return fail(errno, "move", src, dst);
  } else {
    FileFailure f = CopyFileKeepTime(src, dst);
    if (f) {
      f.verb = "move";
      return f;
    }
  }
  if (::unlink(src.c_str()) != 0) return fail(errno, "delete", src);
  return {};
}

namespace {

FileFailure copyTreeInto(const std::string& src, const std::string& dst, dev_t device) {
  struct stat st{};
  if (::lstat(src.c_str(), &st) != 0) return fail(errno, "copy", src, dst);
  struct stat dstSt{};
  if (::lstat(dst.c_str(), &dstSt) != 0) {
    if (::mkdir(dst.c_str(), st.st_mode & 07777) != 0) return fail(errno, "copy", src, dst);
  } else if (!S_ISDIR(dstSt.st_mode)) {
    return fail(ENOTDIR, "copy", src, dst);
  }
  int err = 0;
  const auto names = entriesOf(src, err);
  if (err) return fail(err, "copy", src, dst);
  for (const auto& n : names) {
    if (IsLockFileName(n)) continue;  // another process's lock stays with its folder
    const std::string s = src + "/" + n, d = dst + "/" + n;
    struct stat es{};
    if (::lstat(s.c_str(), &es) != 0) return fail(errno, "copy", s, d);
    if (S_ISDIR(es.st_mode)) {
      if (es.st_dev != device) return fail(EXDEV, "copy", s, d);  // a mount point
      FileFailure f = copyTreeInto(s, d, device);
      if (f) return f;
    } else if (S_ISLNK(es.st_mode)) {
      std::string link(4096, '\0');
      ssize_t len = ::readlink(s.c_str(), link.data(), link.size());
      if (len < 0) return fail(errno, "copy", s, d);
      link.resize(static_cast<size_t>(len));
      ::unlink(d.c_str());
      if (::symlink(link.c_str(), d.c_str()) != 0) return fail(errno, "copy", s, d);
    } else if (S_ISREG(es.st_mode)) {
      FileFailure f = CopyFileKeepTime(s, d);
      if (f) return f;
    }
    // FIFOs, sockets and devices are not documents: left alone.
  }
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::utimensat(AT_FDCWD, dst.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return {};
}

FileFailure deleteTree(const std::string& dir, dev_t device, bool keepRoot,
                       const TreeVisitor& removed) {
  int err = 0;
  const auto names = entriesOf(dir, err);
  if (err) return fail(err, "delete", dir + "/");
  // Subfolders first, then the files.
  std::vector<std::string> files;
  for (const auto& n : names) {
    const std::string p = dir + "/" + n;
    struct stat st{};
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;
      return fail(errno, "delete", p);
    }
    if (S_ISDIR(st.st_mode)) {
      // Never reach into another file system mounted below the tree.
      if (st.st_dev != device) return fail(EXDEV, "delete", p + "/");
      FileFailure f = deleteTree(p, device, false, removed);
      if (f) return f;
    } else {
      files.push_back(p);
    }
  }
  for (const auto& p : files) {
    if (::unlink(p.c_str()) != 0 && errno != ENOENT) return fail(errno, "delete", p);
    if (removed) removed(p, false);
  }
  if (!keepRoot) {
    if (::rmdir(dir.c_str()) != 0 && errno != ENOENT) return fail(errno, "delete", dir + "/");
    if (removed) removed(dir + "/", true);
  }
  return {};
}

}  // namespace

FileFailure CopyTree(const std::string& source, const std::string& target, bool move,
                     const TreeVisitor& removed) {
  const std::string src = noSlash(source), dst = noSlash(target);
  struct stat st{};
  if (::lstat(src.c_str(), &st) != 0) return fail(errno, "copy", src + "/", dst + "/");
  if (!S_ISDIR(st.st_mode)) return fail(ENOTDIR, "copy", src, dst);
  // Copying a folder into itself would never end.
  const std::string s = withSlash(src), d = withSlash(dst);
  if (d.compare(0, s.size(), s) == 0) return fail(EINVAL, "copy", s, d);
  const bool fresh = !PathExists(dst);
  FileFailure f = copyTreeInto(src, dst, st.st_dev);
  if (f) {
    // A copy that stopped half-way is taken away again; the source is untouched.
    if (fresh) DeleteTree(dst, false);
    return f;
  }
  if (move) return deleteTree(src, st.st_dev, false, removed);
  return {};
}

FileFailure DeleteTree(const std::string& folder, bool keepRoot, const TreeVisitor& removed) {
  const std::string dir = noSlash(folder);
  struct stat st{};
  if (::lstat(dir.c_str(), &st) != 0) return fail(errno, "delete", withSlash(dir));
  if (S_ISLNK(st.st_mode)) {
    // A link standing for a folder: remove the link, never what it points at.
    if (keepRoot) return {};
    if (::unlink(dir.c_str()) != 0) return fail(errno, "delete", dir);
    if (removed) removed(dir, false);
    return {};
  }
  if (!S_ISDIR(st.st_mode)) return fail(ENOTDIR, "delete", dir);
  return deleteTree(dir, st.st_dev, keepRoot, removed);
}

bool IsTrashFull(const std::string& trashFolder) {
  bool full = false;
  if (DIR* d = ::opendir(noSlash(trashFolder).c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string_view n = e->d_name;
      if (n.empty() || n[0] == '.' || IsIndexFileName(n)) continue;
      full = true;
      break;
    }
    ::closedir(d);
  }
  return full;
}

}  // namespace px::store
