#include "store/move_journal.h"

#include "foundation/fd_io.h"
#include "foundation/ini_file.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/index_entry.h"
#include "store/index_file.h"

#include <QDebug>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace px::store {
namespace {

constexpr std::string_view kJournalExt = ".journal";
constexpr std::string_view kHeader = "PXBATCH 1";
constexpr uint64_t kMaxJournalBytes = 256ull << 20;

// Values may hold any byte of a file name: line breaks and "%" are escaped.
std::string escape(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (char c : s) {
    if (c == '%') r += "%25";
    else if (c == '\n') r += "%0A";
    else if (c == '\r') r += "%0D";
    else r += c;
  }
  return r;
}

std::string unescape(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const std::string_view code = s.substr(i + 1, 2);
      if (code == "25") r += '%';
      else if (code == "0A") r += '\n';
      else if (code == "0D") r += '\r';
      else {
        r += s[i];
        continue;
      }
      i += 2;
    } else {
      r += s[i];
    }
  }
  return r;
}

int64_t nsOf(const struct timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

struct ParsedJournal {
  bool move = true;
  std::vector<JournalItem> items;  // complete items only
};

ParsedJournal parse(std::string_view text) {
  ParsedJournal out;
  JournalItem cur;
  bool inItem = false;
  size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) break;  // a line cut by a crash is not taken
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (first) {
      if (line != kHeader) return out;
      first = false;
      continue;
    }
    const size_t sp = line.find(' ');
    const std::string_view key = line.substr(0, sp);
    const std::string_view value = sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1);
    if (key == "op") {
      out.move = value == "move";
    } else if (key == "item") {
      cur = JournalItem{};
      inItem = true;
    } else if (!inItem) {
      continue;
    } else if (key == "from") {
      cur.folder = unescape(value);
    } else if (key == "section") {
      cur.section = unescape(value);
    } else if (key == "name") {
      cur.name = unescape(value);
    } else if (key == "to") {
      cur.targetFolder = unescape(value);
    } else if (key == "title") {
      cur.title = unescape(value);
    } else if (key == "file") {
      unsigned long long dev = 0, ino = 0;
      long long size = 0, mtime = 0;
      if (std::sscanf(std::string(value).c_str(), "%llu %llu %lld %lld", &dev, &ino, &size, &mtime) == 4) {
        cur.dev = dev;
        cur.ino = ino;
        cur.size = size;
        cur.mtimeNs = mtime;
      }
    } else if (key == "line") {
      cur.lines.push_back(unescape(value));
    } else if (key == "end") {
      if (!cur.folder.empty() && !cur.name.empty() && !cur.targetFolder.empty() && !cur.section.empty())
        out.items.push_back(std::move(cur));
      inItem = false;
    }
  }
  return out;
}

std::vector<std::string> journalNames(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string_view n = e->d_name;
      if (n.size() > kJournalExt.size() && n.ends_with(kJournalExt) && n.front() != '.') names.emplace_back(n);
    }
    ::closedir(d);
  }
  return names;
}

std::string withSlash(std::string s) {
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}

// The files of a target folder, read once per journal.
struct FolderScan {
  struct File {
    std::string name;
    uint64_t dev, ino;
    int64_t size, mtimeNs;
  };
  std::vector<File> files;
  explicit FolderScan(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return;
    const int fd = ::dirfd(d);
    while (dirent* e = ::readdir(d)) {
      std::string_view n = e->d_name;
      if (n.empty() || n.front() == '.') continue;
      struct stat st{};
      if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      files.push_back({std::string(n), uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), nsOf(st.st_mtim)});
    }
    ::closedir(d);
  }
};

std::string extOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : FoldCase(name.substr(dot));
}

// Where the item's file is in the target: the same file (a rename keeps it), or for a copy or a
// move across file systems a file of the same size, time and extension, the same name first.
std::string findInTarget(const FolderScan& scan, const JournalItem& it, bool move) {
  if (move)
    for (const auto& f : scan.files)
      if (f.dev == it.dev && f.ino == it.ino) return f.name;
  std::string candidate;
  const std::string ext = extOf(it.name);
  for (const auto& f : scan.files) {
    if (f.size != it.size || f.mtimeNs != it.mtimeNs || extOf(f.name) != ext) continue;
    if (move && f.dev == it.dev && f.ino != it.ino && f.name != it.name) continue;
    if (f.name == it.name) return f.name;
    if (candidate.empty()) candidate = f.name;
  }
  return candidate;
}

std::string valueOf(const StringList& lines, std::string_view key) {
  return std::string(EntryValue(lines, key).value_or(std::string_view()));
}

void writeLines(TPXIniFile& ini, const std::string& section, const StringList& lines, bool copy) {
  bool any = false;
  for (const auto& l : lines) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string_view key = std::string_view(l).substr(0, eq);
    std::string value = l.substr(eq + 1);
    if (SameText(key, "Recv")) continue;  // a moved or copied message is no longer new here
    if (copy && SameText(key, "Flags")) {
      // A copy of a pending message is not pending.
      const int flags = ParseEntryFlags(value);
      if (IsPendingFlags(flags)) value = std::to_string(flags & ~(dfPending | dfResent));
    }
    ini.WriteString(section, key, value);
    any = true;
  }
  if (!any) {
    ini.WriteString(section, "Flags", "0");
    ini.DeleteKey(section, "Flags");
  }
}

class Recovery {
public:
  explicit Recovery(IniRegistry& registry) : registry_(registry) {}
  ~Recovery() { (void)Close(); }

  bool Close() {
    bool ok = true;
    for (auto& [f, ix] : indexes_) ok = ix->Release().ok() && ok;
    indexes_.clear();
    return ok;
  }

  void Item(const JournalItem& it, bool move, JournalRecovery& result) {
    TPXIniFile& src = index(it.folder);
    struct stat st{};
    const std::string srcPath = it.folder + it.name;
    const bool srcHere = ::lstat(srcPath.c_str(), &st) == 0 &&
                         (!move || (uint64_t(st.st_dev) == it.dev && uint64_t(st.st_ino) == it.ino));
    if (move && srcHere) {
      // Not moved, or moved back: the entry stays with the file.
      if (!hasSection(src, it.section) && !it.lines.empty()) {
        writeLines(src, it.section, it.lines, false);
        ++result.restored;
      }
      return;
    }
    const std::string found = findInTarget(scan(it.targetFolder), it, move);
    if (found.empty()) {
      if (move) ++result.unknown;  // found nowhere: no entry is erased for it
      return;
    }
    TPXIniFile& tgt = index(it.targetFolder);
    std::vector<std::string> described;
    StringList sections;
    tgt.ReadSections(sections);
    for (const auto& s : sections)
      if (SameText(SplitTagPrefix(s).rest, found)) described.push_back(s);
    if (described.empty()) {
      writeLines(tgt, found, it.lines, !move);
    } else {
      // The file already has entries (a twin found there): a mail entry that none of them is
      // gets its own tagged entry, as the move itself would have given it.
      const int flags = EntryFlags(it.lines, 0);
      if (flags & (dfReceived | dfOutgoing)) {
        bool same = false;
        for (const auto& s : described) {
          StringList l;
          tgt.ReadSectionValues(s, l);
          same = same || (valueOf(l, "Address") == valueOf(it.lines, "Address") &&
                          valueOf(l, "Time") == valueOf(it.lines, "Time"));
        }
        if (!same) {
          std::string prefix;
          for (int n = 1; prefix.empty() || tgt.SectionExists(prefix + found); ++n)
            prefix = "$$$" + std::to_string(n) + ".";
          writeLines(tgt, prefix + found, it.lines, !move);
        }
      }
    }
    if (move && hasSection(src, it.section)) src.EraseSection(it.section);
    ++result.finished;
  }

private:
  static bool hasSection(const TPXIniFile& ini, const std::string& section) {
    if (ini.SectionExists(section)) return true;
    StringList all;
    ini.ReadSections(all);
    for (const auto& s : all)
      if (SameText(s, section)) return true;
    return false;
  }
  TPXIniFile& index(const std::string& folder) {
    auto& slot = indexes_[folder];
    if (!slot) slot = std::make_unique<TPXIniFile>(registry_, IndexPathOf(folder));
    return *slot;
  }
  const FolderScan& scan(const std::string& folder) {
    auto& slot = scans_[folder];
    if (!slot) slot = std::make_unique<FolderScan>(folder);
    return *slot;
  }

  IniRegistry& registry_;
  std::map<std::string, std::unique_ptr<TPXIniFile>> indexes_;
  std::map<std::string, std::unique_ptr<FolderScan>> scans_;
};

}  // namespace

std::string JournalFolderOf(const std::string& dataRoot) {
  if (dataRoot.empty()) return {};
  return withSlash(dataRoot) + std::string(kJournalFolderName) + "/";
}

bool FillFileIdentity(JournalItem& item) {
  struct stat st{};
  if (::lstat((item.folder + item.name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  item.dev = uint64_t(st.st_dev);
  item.ino = uint64_t(st.st_ino);
  item.size = int64_t(st.st_size);
  item.mtimeNs = nsOf(st.st_mtim);
  return true;
}

BatchJournal::BatchJournal(std::string folder) : folder_(withSlash(std::move(folder))) {}

BatchJournal::~BatchJournal() = default;

int BatchJournal::Begin(const std::vector<JournalItem>& items, bool move) {
  End();
  if (folder_.empty() || items.empty()) return 0;
  if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
    const int err = errno;
    path_ = folder_;  // named in the failure
    return err;
  }
  std::string text(kHeader);
  text += "\nop ";
  text += move ? "move" : "copy";
  text += '\n';
  for (const JournalItem& it : items) {
    text += "item\nfrom " + escape(it.folder) + "\nsection " + escape(it.section) + "\nname " +
            escape(it.name) + "\nto " + escape(it.targetFolder) + "\ntitle " + escape(it.title) +
            "\nfile " + std::to_string(it.dev) + " " + std::to_string(it.ino) + " " +
            std::to_string(it.size) + " " + std::to_string(it.mtimeNs) + "\n";
    for (const auto& l : it.lines) text += "line " + escape(l) + "\n";
    text += "end\n";
  }
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = folder_ + "batch-" + std::to_string(::getpid()) + "-" + std::to_string(stamp) + std::string(kJournalExt);
  UniqueFd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) return errno;  // path_ names the file
  // Locked before a byte is written: a start-up elsewhere leaves a running batch alone.
  if (::flock(fd.get(), LOCK_EX) != 0 || !WriteAllToFd(fd.get(), text) || ::fsync(fd.get()) != 0) {
    const int err = errno ? errno : EIO;
    ::unlink(path_.c_str());
    return err;  // path_ still names the file, for the failure
  }
  (void)SyncFolderOf(path_);
  fd_ = std::move(fd);
  return 0;
}

void BatchJournal::End() {
  if (!fd_) return;
  ::unlink(path_.c_str());
  (void)SyncFolderOf(path_);
  fd_.reset();  // unlocks
  path_.clear();
}

JournalRecovery RecoverJournals(const std::string& folder, IniRegistry& registry) {
  JournalRecovery result;
  const std::string dir = withSlash(folder);
  if (dir.empty()) return result;
  for (const std::string& name : journalNames(dir)) {
    const std::string path = dir + name;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd) continue;
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its batch is running
    std::string text;
    if (!ReadWholeFile(path, text, kMaxJournalBytes, true).ok()) continue;
    const ParsedJournal j = parse(text);
    Recovery r(registry);
    for (const JournalItem& it : j.items) r.Item(it, j.move, result);
    if (!r.Close()) {
      qWarning("Cannot finish the interrupted batch of %s: an index could not be saved", path.c_str());
      continue;  // tried again at the next start
    }
    ::unlink(path.c_str());
    ++result.journals;
  }
  if (result.journals) (void)SyncFolderOf(dir + ".");
  return result;
}

std::set<std::string> JournalSources(const std::string& folder) {
  std::set<std::string> out;
  const std::string dir = withSlash(folder);
  if (dir.empty()) return out;
  for (const std::string& name : journalNames(dir)) {
    std::string text;
    if (!ReadWholeFile(dir + name, text, kMaxJournalBytes, true).ok()) continue;
    for (const JournalItem& it : parse(text).items) out.insert(it.folder + FoldCase(it.section));
  }
  return out;
}

}  // namespace px::store
