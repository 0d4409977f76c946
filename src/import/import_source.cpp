#include "import/import_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "foundation/locations.h"

namespace px::import {

namespace {

constexpr int kMaxDepth = 64;

bool EndsWith(const std::string& s, std::string_view end) {
  return s.size() >= end.size() && std::string_view(s).substr(s.size() - end.size()) == end;
}

// The entries of a folder, sorted, without "." and "..". False when it cannot be read.
bool ListFolder(const std::string& dir, std::vector<std::string>& names) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return false;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return true;
}

// lstat: symbolic links are never followed out of the tree being read.
bool IsDir(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool IsFile(const std::string& p, off_t* size = nullptr) {
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size) *size = st.st_size;
  return true;
}

std::string BaseName(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t s = p.rfind('/');
  return s == std::string::npos ? p : p.substr(s + 1);
}

// Files beside mailboxes that are no mailboxes: summaries, indexes, filter lists.
bool IsCompanionFile(const std::string& name) {
  static const char* const kExts[] = {".msf", ".snm", ".dat", ".json", ".sqlite", ".sqlite-wal",
                                      ".sqlite-shm", ".html", ".js", ".mozlz4", ".lock", ".toc",
                                      ".ibex", ".cmeta", ".db"};
  for (const char* e : kExts)
    if (EndsWith(name, e)) return true;
  return name == "msgFilterRules.dat" || name == "popstate.dat";
}

// A mailbox begins with "From " (an empty file is an empty mailbox).
enum class Looks { Mailbox, Empty, Other, Unreadable };
Looks LooksLikeMailbox(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Looks::Unreadable;
  char head[5];
  ssize_t n;
  do n = ::read(fd, head, sizeof head);
  while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n < 0) return Looks::Unreadable;
  if (n == 0) return Looks::Empty;
  return n == 5 && std::string_view(head, 5) == "From " ? Looks::Mailbox : Looks::Other;
}

class MboxSource final : public ImportSource {
public:
  explicit MboxSource(std::string path) : path_(std::move(path)) {}
  std::string kind() const override { return "mbox"; }
  std::string title() const override { return "Mail from mbox files: " + path_; }
  std::string root() const override { return path_; }

  std::vector<SourceFolder> Folders(std::vector<SkippedItem>& skipped) const override {
    std::vector<SourceFolder> out;
    if (IsDir(path_)) {
      Walk(WithSlash(path_), {}, 0, out, skipped);
    } else {
      AddFile(path_, {BaseName(path_)}, out, skipped, true);
    }
    return out;
  }

private:
  static void AddFile(const std::string& path, std::vector<std::string> names, std::vector<SourceFolder>& out,
                      std::vector<SkippedItem>& skipped, bool given) {
    switch (LooksLikeMailbox(path)) {
      case Looks::Mailbox: out.push_back({SourceFolder::Kind::Mbox, std::move(names), path}); break;
      case Looks::Empty: break;
      case Looks::Unreadable: skipped.push_back({path, std::strerror(errno)}); break;
      case Looks::Other:
        if (given) skipped.push_back({path, "not a mailbox (it does not begin with a \"From \" line)"});
        break;
    }
  }

  static void Walk(const std::string& dir, const std::vector<std::string>& names, int depth,
                   std::vector<SourceFolder>& out, std::vector<SkippedItem>& skipped) {
    if (depth > kMaxDepth) {
      skipped.push_back({dir, "folders nested too deeply"});
      return;
    }
    std::vector<std::string> entries;
    if (!ListFolder(dir, entries)) {
      skipped.push_back({dir, std::strerror(errno)});
      return;
    }
    // Mailbox files first (a folder before its subfolders), then the subfolder trees.
    std::vector<std::string> subdirs;
    for (const auto& e : entries) {
      if (e[0] == '.') continue;
      const std::string p = dir + e;
      if (IsDir(p)) {
        subdirs.push_back(e);
      } else if (IsFile(p) && !IsCompanionFile(e)) {
        std::vector<std::string> n = names;
        n.push_back(e);
        AddFile(p, std::move(n), out, skipped, false);
      }
    }
    for (const auto& e : subdirs) {
      std::vector<std::string> n = names;
      n.push_back(EndsWith(e, ".sbd") ? e.substr(0, e.size() - 4) : e);
      Walk(dir + e + "/", n, depth + 1, out, skipped);
    }
  }

  std::string path_;
};

bool IsMaildir(const std::string& dir) { return IsDir(dir + "cur") || IsDir(dir + "new"); }

// ".A.B" -> {"A", "B"}; empty pieces dropped.
std::vector<std::string> MaildirPlusNames(const std::string& name) {
  std::vector<std::string> r;
  size_t start = 1;
  for (size_t i = 1; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '.') {
      if (i > start) r.push_back(name.substr(start, i - start));
      start = i + 1;
    }
  }
  return r;
}

class MaildirSource final : public ImportSource {
public:
  explicit MaildirSource(std::string path) : path_(WithSlash(std::move(path))) {}
  std::string kind() const override { return "maildir"; }
  std::string title() const override { return "Mail from Maildir folders: " + path_; }
  std::string root() const override { return path_; }

  std::vector<SourceFolder> Folders(std::vector<SkippedItem>& skipped) const override {
    std::vector<SourceFolder> out;
    if (!IsDir(path_)) {
      skipped.push_back({path_, "not a folder"});
      return out;
    }
    Walk(path_, {}, 0, true, out, skipped);
    if (out.empty()) skipped.push_back({path_, "no Maildir folder (with cur/ and new/) found"});
    return out;
  }

private:
  static void Walk(const std::string& dir, const std::vector<std::string>& names, int depth, bool top,
                   std::vector<SourceFolder>& out, std::vector<SkippedItem>& skipped) {
    if (depth > kMaxDepth) {
      skipped.push_back({dir, "folders nested too deeply"});
      return;
    }
    if (IsMaildir(dir)) out.push_back({SourceFolder::Kind::Maildir, names.empty() ? std::vector<std::string>{"Inbox"} : names, dir});
    std::vector<std::string> entries;
    if (!ListFolder(dir, entries)) {
      skipped.push_back({dir, std::strerror(errno)});
      return;
    }
    // Maildir++ folders (".A.B") live only at the top; sorting puts ".A" before ".A.B".
    if (top)
      for (const auto& e : entries)
        if (e.size() > 1 && e[0] == '.' && IsMaildir(dir + e + "/")) {
          std::vector<std::string> n = MaildirPlusNames(e);
          if (n.empty()) continue;
          out.push_back({SourceFolder::Kind::Maildir, std::move(n), dir + e + "/"});
        }
    for (const auto& e : entries) {
      if (e[0] == '.' || e == "cur" || e == "new" || e == "tmp") continue;
      if (!IsDir(dir + e)) continue;
      std::vector<std::string> n = names;
      n.push_back(e);
      Walk(dir + e + "/", n, depth + 1, false, out, skipped);
    }
  }

  std::string path_;
};

std::string EnvOr(const char* name, std::string fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

}  // namespace

std::unique_ptr<ImportSource> MakeMboxSource(std::string path) { return std::make_unique<MboxSource>(std::move(path)); }
std::unique_ptr<ImportSource> MakeMaildirSource(std::string path) {
  return std::make_unique<MaildirSource>(std::move(path));
}
std::unique_ptr<ImportSource> MakeSource(const std::string& kind, std::string path) {
  if (kind == "mbox") return MakeMboxSource(std::move(path));
  if (kind == "maildir") return MakeMaildirSource(std::move(path));
  return nullptr;
}

DiscoveryPlaces DiscoveryPlaces::FromEnvironment() {
  DiscoveryPlaces p;
  p.home = EnvOr("HOME", "");
  const std::string user = EnvOr("USER", EnvOr("LOGNAME", ""));
  p.mailFile = EnvOr("MAIL", user.empty() ? std::string() : "/var/mail/" + user);
  return p;
}

std::vector<std::unique_ptr<ImportSource>> DiscoverSources(const DiscoveryPlaces& places) {
  std::vector<std::unique_ptr<ImportSource>> r;
  const std::string home = places.home.empty() ? std::string() : WithSlash(places.home);
  off_t size = 0;
  if (!places.mailFile.empty() && IsFile(places.mailFile, &size) && size > 0)
    r.push_back(MakeMboxSource(places.mailFile));
  if (!home.empty()) {
    for (const char* d : {"Mail", "mail"})
      if (IsDir(home + d) && !IsMaildir(home + d + "/")) r.push_back(MakeMboxSource(home + d));
    for (const char* d : {"Maildir", ".maildir", "Mail", "mail"}) {
      const std::string p = home + d + "/";
      if (IsDir(p) && IsMaildir(p)) r.push_back(MakeMaildirSource(p));
    }
  }
  return r;
}

std::unique_ptr<ImportSource> DiscoverSource(const DiscoveryPlaces& places, const std::string& kind) {
  for (auto& s : DiscoverSources(places))
    if (s->kind() == kind) return std::move(s);
  return nullptr;
}

}  // namespace px::import
