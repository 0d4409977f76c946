#include "store/leftover_sweep.h"
#include "store/run_mark.h"

#include "foundation/atomic_file.h"
#include "foundation/locations.h"
#include "store/index_file.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace px::store {
namespace {

constexpr size_t kMaxName = 255;
constexpr int kMaxDepth = 64;
constexpr time_t kSettleSeconds = kLeftoverAgeSeconds;

// Hidden work files of a writer that did not finish: the temporaries of AtomicFile, the filer's
// copy to another disk, a mail-service download under way.
bool IsWorkFile(std::string_view name) {
  return name.starts_with(kTempFilePrefix) || name.starts_with(".px-filing-") ||
         (name.size() > 10 && name[0] == '.' && name.ends_with(".$$7.part"));
}

struct Sweep {
  IniRegistry& registry;
  time_t runStart;
  SweepResult result;

  void folder(int dirFd, const std::string& path, int depth) {
    DIR* d = ::fdopendir(dirFd);
    if (!d) {
      ::close(dirFd);
      return;
    }
    std::vector<std::string> subfolders, parked, temps;
    while (dirent* e = ::readdir(d)) {
      std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      if (name.starts_with(kParkedPrefix)) {
        parked.emplace_back(name);
      } else if (IsWorkFile(name)) {
        temps.emplace_back(name);
      } else if (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN) {
        subfolders.emplace_back(name);
      }
    }
    const int fd = ::dirfd(d);
    // Another process may be writing or parking right now: only files left alone for a while
    // before this run began are its leftovers.
    const time_t settled = runStart - kSettleSeconds;
    for (const std::string& t : temps) {
      struct stat st{};
      if (::fstatat(fd, t.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      if (st.st_mtime >= settled || st.st_ctime >= settled) continue;
      if (::unlinkat(fd, t.c_str(), 0) == 0) ++result.removed;
    }
    if (!parked.empty()) {
      TPXIniFile index(registry, IndexPathOf(path));
      for (const std::string& p : parked) {
        struct stat st{};
        if (::fstatat(fd, p.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (st.st_ctime >= settled) continue;  // parked by a process running now
        // ".px-deleted-<id>-<name>": the id holds no "-".
        const size_t dash = p.find('-', kParkedPrefix.size());
        if (dash == std::string::npos) {
          ++result.kept;
          continue;
        }
        const std::string original = p.substr(dash + 1);
        struct stat ost{};
        const bool taken = ::fstatat(fd, original.c_str(), &ost, AT_SYMLINK_NOFOLLOW) == 0;
        if (!taken && index.SectionExists(original)) {
          if (::renameat2(fd, p.c_str(), fd, original.c_str(), RENAME_NOREPLACE) == 0) ++result.restored;
        } else if (::unlinkat(fd, p.c_str(), 0) == 0) {
          ++result.removed;
        }
      }
      (void)index.Release();  // only read
    }
    if (depth < kMaxDepth) {
      for (const std::string& s : subfolders) {
        const int sub = ::openat(fd, s.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) folder(sub, path + s + "/", depth + 1);
      }
    }
    ::closedir(d);
  }
};

}  // namespace

std::string ParkedName(std::string_view name, std::string_view id) {
  std::string hidden(kParkedPrefix);
  hidden += id;
  if (hidden.size() + 1 + name.size() <= kMaxName && id.find('-') == std::string_view::npos) {
    hidden += '-';
    hidden += name;
  }
  return hidden;
}

SweepResult SweepAllLeftovers(const Locations& loc, IniRegistry& registry, time_t runStart) {
  std::vector<std::string> roots;
  for (const std::string* r : {&loc.documents, &loc.inbox, &loc.contacts})
    if (!r->empty()) roots.push_back(r->back() == '/' ? *r : *r + "/");
  SweepResult all;
  for (size_t i = 0; i < roots.size(); ++i) {
    // A tree inside another (the contacts in the documents, say) is swept with it.
    bool inside = false;
    for (size_t j = 0; j < roots.size(); ++j)
      if (j != i && roots[i].starts_with(roots[j]) && (roots[i] != roots[j] || j < i)) inside = true;
    if (inside) continue;
    SweepResult r = SweepLeftovers(roots[i], registry, runStart);
    all.restored += r.restored;
    all.removed += r.removed;
    all.kept += r.kept;
  }
  return all;
}

SweepResult SweepAfterStoppedRuns(const Locations& loc, IniRegistry& registry, RunMark& mark, time_t runStart) {
  if (!mark.SweepNeeded()) return {};
  SweepResult r = SweepAllLeftovers(loc, registry, runStart);
  mark.Swept(runStart);
  return r;
}

SweepResult SweepLeftovers(const std::string& root, IniRegistry& registry, time_t runStart) {
  std::string path = root;
  if (path.empty()) return {};
  if (path.back() != '/') path += '/';
  Sweep sweep{registry, runStart, {}};
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) sweep.folder(fd, path, 0);
  return sweep.result;
}

}  // namespace px::store
