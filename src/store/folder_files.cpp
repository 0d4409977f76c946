#include "store/folder_files.h"

#include "foundation/dates.h"
#include "store/index_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <unordered_map>

namespace px::store {

namespace {

// Local wall time of file times. Offsets change only on quarter hours, so one system lookup
// per quarter hour met serves every file in it.
class LocalDates {
public:
  DateTime FromUnix(int64_t sec, int64_t nsec) {
    int64_t bucket = sec >= 0 ? sec / 900 : -((-sec + 899) / 900);
    auto it = offsets_.find(bucket);
    if (it == offsets_.end()) {
      time_t t = static_cast<time_t>(sec);
      struct tm tmv;
      if (!localtime_r(&t, &tmv)) return NowDateTime();
      it = offsets_.emplace(bucket, static_cast<int64_t>(tmv.tm_gmtoff)).first;
    }
    int64_t wall = sec + it->second;
    int64_t ms = nsec / 1000000;
    // Days since 1899-12-30 (the Unix epoch is day 25569).
    DateTime d = static_cast<double>(wall) / 86400.0 + 25569.0 + static_cast<double>(ms) / 86400000.0;
    return d == 0 ? NowDateTime() : d;
  }

private:
  std::unordered_map<int64_t, int64_t> offsets_;
};

// Real path of a folder, without the trailing "/" ("" when it cannot be resolved).
std::string RealFolder(const std::string& folder) {
  char buf[PATH_MAX];
  if (!::realpath(folder.c_str(), buf)) return {};
  return buf;
}

// Whether a symlink in folder (resolved against its real path) leads to a regular file of the
// same folder. The followed stat is returned in *st.
bool LinkStaysInFolder(int dirfd, const std::string& realFolder, const std::string& fullPath,
                       const char* name, struct stat* st) {
  if (realFolder.empty()) return false;
  if (::fstatat(dirfd, name, st, 0) != 0 || !S_ISREG(st->st_mode)) return false;
  char buf[PATH_MAX];
  if (!::realpath(fullPath.c_str(), buf)) return false;
  std::string_view resolved(buf);
  auto slash = resolved.rfind('/');
  if (slash == std::string_view::npos) return false;
  std::string_view parent = slash == 0 ? std::string_view("/") : resolved.substr(0, slash);
  return parent == realFolder;
}

}  // namespace

bool FolderExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Nothing at all (not even a dangling link) has this path.
bool PathIsGone(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// A name that can stand for a file of a folder.
bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string WithSlash(std::string s) {
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}

bool IsHiddenFileName(std::string_view name) {
  return name.empty() || name.front() == '.' || IsIndexFileName(name);
}

bool IsForeignPath(std::string_view path) { return path.empty() || path.front() != '/'; }

std::vector<FolderFile> EnumerateFolderFiles(const std::string& folder, int* error) {
  std::vector<FolderFile> files;
  if (error) *error = 0;
  std::string dirPath = WithSlash(folder);
  DIR* dir = ::opendir(dirPath.c_str());
  if (!dir) {
    if (error) *error = errno;
    return files;
  }
  const int dfd = ::dirfd(dir);
  LocalDates dates;
  std::string realFolder;
  bool realResolved = false;
  while (dirent* de = ::readdir(dir)) {
    const char* name = de->d_name;
    if (IsHiddenFileName(name)) continue;
    const unsigned char type = de->d_type;
    if (type != DT_REG && type != DT_LNK && type != DT_UNKNOWN) continue;  // dirs, FIFOs, ...
    struct stat st;
    if (::fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    if (S_ISLNK(st.st_mode)) {
      if (!realResolved) {
        realFolder = RealFolder(dirPath);
        realResolved = true;
      }
      if (!LinkStaysInFolder(dfd, realFolder, dirPath + name, name, &st)) continue;
    } else if (!S_ISREG(st.st_mode)) {
      continue;
    }
    FolderFile f;
    f.name = name;
    f.size = static_cast<uint64_t>(st.st_size);
    f.date = dates.FromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    files.push_back(std::move(f));
  }
  ::closedir(dir);
  return files;
}

bool StatListableFile(const std::string& folder, std::string_view name, FolderFile* out) {
  if (!IsPlainFileName(name) || IsHiddenFileName(name)) return false;
  std::string dirPath = WithSlash(folder);
  std::string full = dirPath + std::string(name);
  struct stat st;
  if (::lstat(full.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    int dfd = ::open(dirPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return false;
    std::string n(name);
    bool ok = LinkStaysInFolder(dfd, RealFolder(dirPath), full, n.c_str(), &st);
    ::close(dfd);
    if (!ok) return false;
  } else if (!S_ISREG(st.st_mode)) {
    return false;
  }
  if (out) {
    LocalDates dates;
    out->name = std::string(name);
    out->size = static_cast<uint64_t>(st.st_size);
    out->date = dates.FromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  }
  return true;
}

}  // namespace px::store
