#include "store/tree_ops.h"

#include "store/index_file.h"
#include "foundation/atomic_file.h"
#include "foundation/file_lock.h"
#include "foundation/fd_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace px::store {

namespace {

// Names tried for one placement before giving up (each EEXIST means another writer took one).
constexpr int kMaxPlaceAttempts = 1000;

std::string noSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}
std::string withSlash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

FileStatus fail(int err, std::string_view verb, std::string_view path, std::string_view target = {}) {
  return FileStatus::Failure(verb, path, err, target);
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
  UniqueFd fa(::open(a.c_str(), O_RDONLY | O_CLOEXEC));
  UniqueFd fb(::open(b.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fa || !fb) return false;
  struct stat sa{}, sb{};
  if (::fstat(fa.get(), &sa) != 0 || ::fstat(fb.get(), &sb) != 0 || sa.st_size != sb.st_size)
    return false;
  std::unique_ptr<char[]> ba(new char[65536]), bb(new char[65536]);
  for (;;) {
    ssize_t na = ::read(fa.get(), ba.get(), 65536);
    if (na < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    size_t got = 0;
    while (got < static_cast<size_t>(na)) {
      ssize_t nb = ::read(fb.get(), bb.get() + got, static_cast<size_t>(na) - got);
      if (nb < 0 && errno == EINTR) continue;
      if (nb <= 0) return false;
      got += static_cast<size_t>(nb);
    }
    if (na == 0) {
      char c;
      return ::read(fb.get(), &c, 1) == 0;
    }
    if (std::memcmp(ba.get(), bb.get(), static_cast<size_t>(na)) != 0) return false;
  }
}

FileStatus CopyFileKeepTime(const std::string& source, const std::string& target, bool replace,
                             const NextTarget& next, std::string* placed) {
  UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!in) return fail(errno, "copy", source, target);
  struct stat st{};
  if (::fstat(in.get(), &st) != 0) return fail(errno, "copy", source, target);
  if (!S_ISREG(st.st_mode)) return fail(EINVAL, "copy", source, target);

  AtomicFile out(target);
  if (int err = out.Open(0600)) return fail(err, "copy", source, target);
  std::unique_ptr<char[]> buf(new char[1 << 20]);
  for (;;) {
    ssize_t n = ::read(in.get(), buf.get(), 1 << 20);
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
  // The copy is written once; a name taken meanwhile only changes where it goes.
  for (int attempt = 0;; ++attempt) {
    const int err = out.Commit(replace);
    if (!err) break;
    std::string other;
    if (err == EEXIST && next && attempt < kMaxPlaceAttempts) other = next();
    if (other.empty()) {
      out.Discard();
      return fail(err, "copy", source, out.Path());
    }
    out.SetPath(other);
  }
  if (placed) *placed = out.Path();
  return {};
}

namespace {

// The folder part and last name of a path (a trailing "/" ignored).
std::pair<std::string, std::string> splitPath(const std::string& path) {
  const std::string p = noSlash(path);
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return {".", p};
  return {slash == 0 ? "/" : p.substr(0, slash), p.substr(slash + 1)};
}

int openDir(const std::string& path, bool follow) {
  return ::open(noSlash(path).c_str(),
                O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
}

int openDirAt(int parent, const std::string& name) {
  return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
}

bool sameId(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The names in an open folder; the descriptor itself stays open and unmoved.
std::vector<std::string> namesAt(int dirFd, int& err) {
  std::vector<std::string> out;
  err = 0;
  const int dup = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (dup < 0) {
    err = errno;
    return out;
  }
  DIR* d = ::fdopendir(dup);
  if (!d) {
    err = errno;
    ::close(dup);
    return out;
  }
  ::rewinddir(d);
  errno = 0;
  while (dirent* e = ::readdir(d)) {
    std::string_view n = e->d_name;
    if (n == "." || n == "..") continue;
    out.emplace_back(n);
  }
  ::closedir(d);
  return out;
}


// Renames within or between open folders without replacing; EEXIST when the name is taken.
int renameNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(fromDir, from.c_str(), toDir, to.c_str(), 0) != 0) return errno;
  ::unlinkat(fromDir, from.c_str(), 0);
  return 0;
}

// Copies one regular file between open folders: a hidden temporary beside the target, put in
// place without replacing. The tree copy flushes the whole file system once at its end, which
// costs far less than flushing every file.
FileStatus copyFileAt(int srcDir, const std::string& name, int dstDir, const std::string& shownSrc,
                       const std::string& shownDst) {
  UniqueFd in(::openat(srcDir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!in) return fail(errno, "copy", shownSrc, shownDst);
  struct stat st{};
  if (::fstat(in.get(), &st) != 0) return fail(errno, "copy", shownSrc, shownDst);
  if (!S_ISREG(st.st_mode)) return {};  // swapped for something else meanwhile: not a document
  std::string tmp;
  UniqueFd out;
  for (int attempt = 0; attempt < 32 && !out; ++attempt) {
    tmp = std::string(kTempFilePrefix) + RandomNameSuffix();
    out.reset(::openat(dstDir, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!out && errno != EEXIST) break;
  }
  if (!out) return fail(errno, "copy", shownSrc, shownDst);
  auto failAndClean = [&](int err) {
    out.reset();
    ::unlinkat(dstDir, tmp.c_str(), 0);
    return fail(err, "copy", shownSrc, shownDst);
  };
  std::unique_ptr<char[]> buf(new char[1 << 20]);
  for (;;) {
    ssize_t n = ::read(in.get(), buf.get(), 1 << 20);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failAndClean(errno);
    }
    if (n == 0) break;
    if (!WriteAllToFd(out.get(), std::string_view(buf.get(), static_cast<size_t>(n))))
      return failAndClean(errno ? errno : EIO);
  }
  if (::fchmod(out.get(), st.st_mode & 07777) != 0) return failAndClean(errno);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(out.get(), times) != 0) return failAndClean(errno);
  if (int err = out.Close()) return failAndClean(err);
  if (int err = renameNoReplaceAt(dstDir, tmp, dstDir, name)) return failAndClean(err);
  return {};
}

struct TreeWalk {
  dev_t device = 0;
  struct stat targetRoot{};  // never copied into itself, even if it appears inside the source
  bool haveTargetRoot = false;
};

FileStatus copyTreeAt(int srcDir, int dstDir, const std::string& src, const std::string& dst,
                       const TreeWalk& walk) {
  int err = 0;
  const auto names = namesAt(srcDir, err);
  if (err) return fail(err, "copy", src + "/", dst + "/");
  for (const auto& n : names) {
    if (IsLockFileName(n)) continue;  // another process's lock stays with its folder
    const std::string s = src + "/" + n, d = dst + "/" + n;
    struct stat es{};
    if (::fstatat(srcDir, n.c_str(), &es, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return fail(errno, "copy", s, d);
    }
    if (S_ISDIR(es.st_mode)) {
      if (es.st_dev != walk.device) return fail(EXDEV, "copy", s, d);  // a mount point
      if (walk.haveTargetRoot && sameId(es, walk.targetRoot)) continue;
      UniqueFd sub(openDirAt(srcDir, n));
      if (!sub) return fail(errno, "copy", s, d);
      struct stat subSt{};
      if (::fstat(sub.get(), &subSt) != 0) return fail(errno, "copy", s, d);
      if (subSt.st_dev != walk.device) return fail(EXDEV, "copy", s, d);
      if (::mkdirat(dstDir, n.c_str(), 0700) != 0) return fail(errno, "copy", s, d);
      UniqueFd made(openDirAt(dstDir, n));
      if (!made) return fail(errno, "copy", s, d);
      FileStatus f = copyTreeAt(sub.get(), made.get(), s, d, walk);
      if (f) return f;
      ::fchmod(made.get(), subSt.st_mode & 07777);
      const struct timespec times[2] = {subSt.st_atim, subSt.st_mtim};
      ::futimens(made.get(), times);
    } else if (S_ISLNK(es.st_mode)) {
      std::string link(4096, '\0');
      ssize_t len = ::readlinkat(srcDir, n.c_str(), link.data(), link.size());
      if (len < 0) return fail(errno, "copy", s, d);
      link.resize(static_cast<size_t>(len));
      if (::symlinkat(link.c_str(), dstDir, n.c_str()) != 0) return fail(errno, "copy", s, d);
    } else if (S_ISREG(es.st_mode)) {
      FileStatus f = copyFileAt(srcDir, n, dstDir, s, d);
      if (f) return f;
    }
    // FIFOs, sockets and devices are not documents: left alone.
  }
  return {};
}

// Empties an open folder: subfolders first (each opened relative to its parent, without
// following links), then the files and links.
FileStatus deleteContentsAt(int dirFd, const std::string& dir, dev_t device,
                             const TreeVisitor& removed) {
  int err = 0;
  const auto names = namesAt(dirFd, err);
  if (err) return fail(err, "delete", dir + "/");
  std::vector<std::string> files;
  for (const auto& n : names) {
    const std::string p = dir + "/" + n;
    struct stat st{};
    if (::fstatat(dirFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return fail(errno, "delete", p);
    }
    if (!S_ISDIR(st.st_mode)) {
      files.push_back(n);
      continue;
    }
    // Never reach into another file system mounted below the tree.
    if (st.st_dev != device) return fail(EXDEV, "delete", p + "/");
    UniqueFd sub(openDirAt(dirFd, n));
    if (!sub) {
      // Swapped for a link or a file since it was looked at: removed as what it is now.
      if (errno == ELOOP || errno == ENOTDIR) {
        files.push_back(n);
        continue;
      }
      if (errno == ENOENT) continue;
      return fail(errno, "delete", p + "/");
    }
    struct stat subSt{};
    if (::fstat(sub.get(), &subSt) != 0) return fail(errno, "delete", p + "/");
    if (subSt.st_dev != device) return fail(EXDEV, "delete", p + "/");
    FileStatus f = deleteContentsAt(sub.get(), p, device, removed);
    if (f) return f;
    sub.reset();
    if (::unlinkat(dirFd, n.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
      return fail(errno, "delete", p + "/");
    if (removed) removed(p + "/", true);
  }
  for (const auto& n : files) {
    const std::string p = dir + "/" + n;
    if (::unlinkat(dirFd, n.c_str(), 0) != 0 && errno != ENOENT) return fail(errno, "delete", p);
    if (removed) removed(p, false);
  }
  return {};
}

// Deletes the folder `name` of the open parent, or empties it (keepRoot).
FileStatus deleteTreeAt(int parentFd, const std::string& name, const std::string& dir,
                         bool keepRoot, const TreeVisitor& removed) {
  struct stat st{};
  if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return fail(errno, "delete", withSlash(dir));
  if (S_ISLNK(st.st_mode)) {
    // A link standing for a folder: remove the link, never what it points at.
    if (keepRoot) return {};
    if (::unlinkat(parentFd, name.c_str(), 0) != 0) return fail(errno, "delete", dir);
    if (removed) removed(dir, false);
    return {};
  }
  if (!S_ISDIR(st.st_mode)) return fail(ENOTDIR, "delete", dir);
  UniqueFd fd(openDirAt(parentFd, name));
  if (!fd) return fail(errno, "delete", withSlash(dir));
  struct stat opened{};
  if (::fstat(fd.get(), &opened) != 0) return fail(errno, "delete", withSlash(dir));
  if (!sameId(opened, st)) return fail(EAGAIN, "delete", withSlash(dir));
  FileStatus f = deleteContentsAt(fd.get(), dir, st.st_dev, removed);
  if (f) return f;
  fd.reset();
  if (!keepRoot) {
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
      return fail(errno, "delete", withSlash(dir));
    if (removed) removed(withSlash(dir), true);
  }
  return {};
}

}  // namespace

bool SameFolder(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  if (::stat(noSlash(a).c_str(), &sa) != 0 || ::stat(noSlash(b).c_str(), &sb) != 0) return false;
  return S_ISDIR(sa.st_mode) && S_ISDIR(sb.st_mode) && sameId(sa, sb);
}

bool IsSameEntry(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  if (::lstat(a.c_str(), &sa) != 0 || ::lstat(b.c_str(), &sb) != 0) return false;
  return sameId(sa, sb) && sa.st_nlink <= 1;
}

bool IsSameOrInside(const std::string& folder, const std::string& inner) {
  struct stat outer{};
  if (::stat(noSlash(folder).c_str(), &outer) != 0 || !S_ISDIR(outer.st_mode)) return false;
  UniqueFd cur(openDir(inner, true));
  if (!cur) return false;
  // Climb through the real parents ("..", not the path's spelling) up to the root.
  for (int depth = 0; depth < 4096; ++depth) {
    struct stat st{};
    if (::fstat(cur.get(), &st) != 0) return false;
    if (sameId(st, outer)) return true;
    UniqueFd up(::openat(cur.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!up) return false;
    struct stat upSt{};
    if (::fstat(up.get(), &upSt) != 0 || sameId(upSt, st)) return false;  // the root
    cur = std::move(up);
  }
  return false;
}

FileStatus MoveEntry(const std::string& source, const std::string& target, bool replace,
                      const NextTarget& next, std::string* placed) {
  const std::string src = noSlash(source);
  std::string dst = noSlash(target);
  struct stat st{};
  if (::lstat(src.c_str(), &st) != 0) return fail(errno, "move", src, dst);
  int attempt = 0;
  // The next name after EEXIST, or "" when there is none.
  auto another = [&]() -> std::string {
    if (!next || ++attempt > kMaxPlaceAttempts) return {};
    return noSlash(next());
  };
  for (;;) {
    int err = 0;
    if (replace && !S_ISDIR(st.st_mode)) {
      if (::rename(src.c_str(), dst.c_str()) != 0) err = errno;
    } else if (S_ISDIR(st.st_mode)) {
      if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) != 0) {
        err = errno;
        if (err == EINVAL || err == ENOSYS) {
          // No such flag here (nor does a folder take a hard link): check, then rename.
          struct stat there{};
          err = ::lstat(dst.c_str(), &there) == 0 ? EEXIST
                : ::rename(src.c_str(), dst.c_str()) == 0 ? 0 : errno;
        }
      }
    } else {
      err = RenameNoReplace(src, dst);
    }
    if (!err) {
      if (placed) *placed = S_ISDIR(st.st_mode) ? withSlash(dst) : dst;
      return {};
    }
    if (err == EEXIST || err == ENOTEMPTY) {
      dst = another();
      if (dst.empty()) return fail(EEXIST, "move", src, noSlash(target));
      continue;
    }
    if (err != EXDEV) return fail(err, "move", src, dst);
    break;
  }
  // Another file system: copy, then remove the source.
  if (S_ISDIR(st.st_mode)) {
    FileStatus f = CopyTree(src, dst, true, {}, next, placed);
    if (f && f.verb == "copy") f.verb = "move";
    return f;
  }
  if (S_ISLNK(st.st_mode)) {
    std::string link(4096, '\0');
    ssize_t n = ::readlink(src.c_str(), link.data(), link.size());
    if (n < 0) return fail(errno, "move", src, dst);
    link.resize(static_cast<size_t>(n));
    for (;;) {
      if (replace) ::unlink(dst.c_str());
      if (::symlink(link.c_str(), dst.c_str()) == 0) break;
      if (errno != EEXIST) return fail(errno, "move", src, dst);
      dst = another();
      if (dst.empty()) return fail(EEXIST, "move", src, noSlash(target));
    }
    if (placed) *placed = dst;
  } else {
    FileStatus f = CopyFileKeepTime(src, dst, replace, next, placed);
    if (f) {
      f.verb = "move";
      return f;
    }
  }
  if (::unlink(src.c_str()) != 0) return fail(errno, "delete", src);
  return {};
}

FileStatus MakeNewFolder(const std::string& target, const NextTarget& next, std::string* placed) {
  std::string dst = noSlash(target);
  for (int attempt = 0;; ++attempt) {
    if (::mkdir(dst.c_str(), 0777) == 0) break;
    const int err = errno;
    std::string other;
    if (err == EEXIST && next && attempt < kMaxPlaceAttempts) other = noSlash(next());
    if (other.empty()) return fail(err, "create", dst);
    dst = other;
  }
  if (placed) *placed = withSlash(dst);
  return {};
}

FileStatus CopyTree(const std::string& source, const std::string& target, bool move,
                     const TreeVisitor& removed, const NextTarget& next, std::string* placed) {
  const std::string src = noSlash(source);
  std::string dst = noSlash(target);
  const auto [srcParent, srcName] = splitPath(src);
  UniqueFd srcParentFd(openDir(srcParent, true));
  if (!srcParentFd) return fail(errno, "copy", withSlash(src), withSlash(dst));
  UniqueFd srcFd(openDirAt(srcParentFd.get(), srcName));
  if (!srcFd) return fail(errno == ELOOP ? ENOTDIR : errno, "copy", withSlash(src), withSlash(dst));
  struct stat st{};
  if (::fstat(srcFd.get(), &st) != 0) return fail(errno, "copy", withSlash(src), withSlash(dst));

  // Copying a folder into itself would never end: compared by identity, so a path through a
  // link to the source (or to a folder inside it) is caught as well.
  auto [dstParent, dstName] = splitPath(dst);
  if (IsSameOrInside(src, dstParent)) return fail(EINVAL, "copy", withSlash(src), withSlash(dst));
  UniqueFd dstParentFd(openDir(dstParent, true));
  if (!dstParentFd) return fail(errno, "copy", withSlash(src), withSlash(dst));
  for (int attempt = 0;; ++attempt) {
    if (::mkdirat(dstParentFd.get(), dstName.c_str(), 0700) == 0) break;
    const int err = errno;
    std::string other;
    if (err == EEXIST && next && attempt < kMaxPlaceAttempts) other = noSlash(next());
    if (other.empty()) return fail(err, "copy", withSlash(src), withSlash(dst));
    dst = other;
    auto parts = splitPath(dst);
    if (parts.first != dstParent) return fail(EINVAL, "copy", withSlash(src), withSlash(dst));
    dstName = parts.second;
  }
  UniqueFd dstFd(openDirAt(dstParentFd.get(), dstName));
  TreeWalk walk;
  walk.device = st.st_dev;
  FileStatus f;
  if (!dstFd) {
    f = fail(errno, "copy", withSlash(src), withSlash(dst));
  } else {
    walk.haveTargetRoot = ::fstat(dstFd.get(), &walk.targetRoot) == 0;
    f = copyTreeAt(srcFd.get(), dstFd.get(), src, dst, walk);
  }
  if (f) {
    // A copy that stopped half-way is taken away again; the source is untouched.
    dstFd.reset();
    deleteTreeAt(dstParentFd.get(), dstName, dst, false, {});
    return f;
  }
  ::fchmod(dstFd.get(), st.st_mode & 07777);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(dstFd.get(), times);
  // Everything copied is on the disk before the copy counts (and before a moved source goes).
  if (::syncfs(dstFd.get()) != 0) {
    const int err = errno;
    dstFd.reset();
    deleteTreeAt(dstParentFd.get(), dstName, dst, false, {});
    return fail(err, "copy", withSlash(src), withSlash(dst));
  }
  if (placed) *placed = withSlash(dst);
  if (move) {
    srcFd.reset();
    return deleteTreeAt(srcParentFd.get(), srcName, src, false, removed);
  }
  return {};
}

FileStatus DeleteTree(const std::string& folder, bool keepRoot, const TreeVisitor& removed) {
  const std::string dir = noSlash(folder);
  const auto [parent, name] = splitPath(dir);
  UniqueFd parentFd(openDir(parent, true));
  if (!parentFd) return fail(errno, "delete", withSlash(dir));
  return deleteTreeAt(parentFd.get(), name, dir, keepRoot, removed);
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
