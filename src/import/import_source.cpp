#include "import/import_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "foundation/locations.h"
#include "import/dbx_reader.h"
#include "import/file_probe.h"

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
bool IsDir(const std::string& p) { return IsFolder(p); }
bool IsFile(const std::string& p, off_t* size = nullptr) { return IsRegularFile(p, size); }

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
  MboxSource(std::string path, std::string kind = "mbox", std::string label = "Mail from mbox files: ")
      : path_(std::move(path)), kind_(std::move(kind)), label_(std::move(label)) {}
  std::string kind() const override { return kind_; }
  std::string title() const override { return label_ + path_; }
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

  std::string path_, kind_, label_;
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
  MaildirSource(std::string path, std::string kind = "maildir", std::string label = "Mail from Maildir folders: ")
      : path_(WithSlash(std::move(path))), kind_(std::move(kind)), label_(std::move(label)) {}
  std::string kind() const override { return kind_; }
  std::string title() const override { return label_ + path_; }
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
        if (e.size() > 1 && e[0] == '.' && IsDir(dir + e) && IsMaildir(dir + e + "/")) {
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

  std::string path_, kind_, label_;
};

class ThunderbirdSource final : public ImportSource {
public:
  explicit ThunderbirdSource(std::string profile) : path_(WithSlash(std::move(profile))) {}
  std::string kind() const override { return "thunderbird"; }
  std::string title() const override { return "Mail from Thunderbird: " + path_; }
  std::string root() const override { return path_; }

  std::vector<SourceFolder> Folders(std::vector<SkippedItem>& skipped) const override {
    std::vector<SourceFolder> out;
    bool any = false;
    for (const char* area : {"Mail/", "ImapMail/"}) {
      std::vector<std::string> accounts;
      if (!ListFolder(path_ + area, accounts)) continue;
      any = true;
      for (const auto& a : accounts) {
        if (a[0] == '.' || !IsDir(path_ + area + a)) continue;
        auto tree = MakeMboxSource(path_ + area + a)->Folders(skipped);
        for (auto& f : tree) {
          f.names.insert(f.names.begin(), a);
          out.push_back(std::move(f));
        }
      }
    }
    if (!any) skipped.push_back({path_, "no Thunderbird mail folders (Mail/ or ImapMail/) found"});
    return out;
  }

private:
  std::string path_;
};

class DbxSource final : public ImportSource {
public:
  explicit DbxSource(std::string path) : path_(std::move(path)) {}
  std::string kind() const override { return "dbx"; }
  std::string title() const override { return "Mail from Outlook Express: " + path_; }
  std::string root() const override { return path_; }

  std::vector<SourceFolder> Folders(std::vector<SkippedItem>& skipped) const override {
    std::vector<SourceFolder> out;
    if (!IsDir(path_)) {
      // One folder file given by itself: its name (without .dbx) is the folder.
      std::string name = BaseName(path_);
      if (EndsWith(name, ".dbx") || EndsWith(name, ".DBX")) name.resize(name.size() - 4);
      out.push_back({SourceFolder::Kind::Dbx, {name}, path_});
      return out;
    }
    const std::string dir = WithSlash(path_);
    DbxBytes list;
    if (!list.Open(dir + "folders.dbx") && !list.Open(dir + "Folders.dbx")) {
      skipped.push_back({dir, "no Outlook Express folder list (folders.dbx) found"});
      return out;
    }
    std::vector<DbxFolder> folders = ReadDbxFolders(list);
    if (folders.empty()) skipped.push_back({dir + "folders.dbx", "not an Outlook Express folder list, or it lists no folder"});
    for (auto& f : folders) {
      if (f.file.empty()) continue;
      // The file name comes from the store: only a plain name inside the store folder is read.
      if (f.file.find('/') != std::string::npos || f.file.find('\\') != std::string::npos || f.file[0] == '.') {
        skipped.push_back({f.file, "a folder file name that leads outside the store"});
        continue;
      }
      if (!IsFile(dir + f.file)) {
        skipped.push_back({dir + f.file, "missing"});
        continue;
      }
      out.push_back({SourceFolder::Kind::Dbx, std::move(f.names), dir + f.file});
    }
    return out;
  }

private:
  std::string path_;
};

std::string EnvOr(const char* name, std::string fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

}  // namespace

// The path a user names may be a link (a mail folder kept on another disk): it is followed;
// links inside the tree are not.
std::string Resolved(std::string path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::unique_ptr<ImportSource> MakeMboxSource(std::string path) {
  return std::make_unique<MboxSource>(Resolved(std::move(path)));
}
std::unique_ptr<ImportSource> MakeMaildirSource(std::string path) {
  return std::make_unique<MaildirSource>(Resolved(std::move(path)));
}
std::unique_ptr<ImportSource> MakeThunderbirdSource(std::string profile) {
  return std::make_unique<ThunderbirdSource>(Resolved(std::move(profile)));
}

std::unique_ptr<ImportSource> MakeDbxSource(std::string path) {
  return std::make_unique<DbxSource>(Resolved(std::move(path)));
}

std::unique_ptr<ImportSource> MakeSource(const std::string& kind, std::string path) {
  if (kind == "dbx") return MakeDbxSource(std::move(path));
  if (kind == "mbox") return MakeMboxSource(std::move(path));
  if (kind == "thunderbird") {
    // A profiles.ini, or the folder that holds one, stands for its default profile.
    std::string ini = IsDir(path) ? WithSlash(path) + "profiles.ini" : path;
    if (EndsWith(ini, "profiles.ini") && IsFile(ini)) {
      auto profiles = ThunderbirdProfiles(ini);
      if (!profiles.empty()) return MakeThunderbirdSource(profiles.front());
    }
    return MakeThunderbirdSource(std::move(path));
  }
  if (kind == "maildir") return MakeMaildirSource(std::move(path));
  if (kind == "evolution") {
    // Evolution's local mail is a Maildir++ tree; its data folder stands for it.
    std::string p = WithSlash(path);
    if (IsDir(p + "mail/local/")) p += "mail/local/";
    else if (IsDir(p + "local/")) p += "local/";
    return std::make_unique<MaildirSource>(Resolved(p), "evolution", "Mail from Evolution: ");
  }
  if (kind == "netscape") {
    // A Netscape or Mozilla mail folder: mailbox files with .snm/.msf summaries, .sbd subfolders.
    return std::make_unique<MboxSource>(Resolved(std::move(path)), "netscape", "Mail from Netscape: ");
  }
  return nullptr;
}

std::vector<std::string> ThunderbirdProfiles(const std::string& profilesIni) {
  // A small INI reader of its own: the file is another program's, read only, keys as written.
  std::vector<std::string> all;
  std::string installDefault, markedDefault;
  int fd = ::open(profilesIni.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return all;
  std::string text, buf(16 * 1024, '\0');
  for (ssize_t n; text.size() < (1u << 20) && (n = ::read(fd, buf.data(), buf.size())) > 0;)
    text.append(buf.data(), static_cast<size_t>(n));
  ::close(fd);
  const std::string dir = profilesIni.substr(0, profilesIni.rfind('/') + 1);
  std::string section, path;
  bool relative = true, isDefault = false;
  auto endSection = [&] {
    if (section.rfind("Profile", 0) == 0 && !path.empty()) {
      std::string full = relative && path[0] != '/' ? dir + path : path;
      all.push_back(WithSlash(full));
      if (isDefault && markedDefault.empty()) markedDefault = all.back();
    }
    path.clear();
    relative = true;
    isDefault = false;
  };
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      endSection();
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (value.empty()) continue;
    if (section.rfind("Install", 0) == 0 && key == "Default" && installDefault.empty())
      installDefault = WithSlash(value[0] == '/' ? value : dir + value);
    else if (key == "Path") path = value;
    else if (key == "IsRelative") relative = value != "0";
    else if (key == "Default") isDefault = value == "1";
  }
  endSection();
  const std::string first = !installDefault.empty() ? installDefault : markedDefault;
  auto it = std::find(all.begin(), all.end(), first);
  if (it != all.end()) std::rotate(all.begin(), it, it + 1);
  return all;
}

std::vector<std::string> ThunderbirdProfileLists(const std::string& home) {
  std::vector<std::string> r;
  if (home.empty()) return r;
  const std::string h = WithSlash(home);
  for (const char* p : {".thunderbird/profiles.ini", ".var/app/org.mozilla.Thunderbird/.thunderbird/profiles.ini",
                        "snap/thunderbird/common/.thunderbird/profiles.ini"})
    if (IsFile(h + p)) r.push_back(h + p);
  return r;
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
    for (const auto& ini : ThunderbirdProfileLists(home))
      for (const auto& profile : ThunderbirdProfiles(ini))
        if (IsDir(profile)) r.push_back(MakeThunderbirdSource(profile));
    if (const std::string evo = home + ".local/share/evolution/mail/local/"; IsDir(evo) && IsMaildir(evo))
      r.push_back(MakeSource("evolution", evo));
  }
  return r;
}

std::unique_ptr<ImportSource> DiscoverSource(const DiscoveryPlaces& places, const std::string& kind) {
  for (auto& s : DiscoverSources(places))
    if (s->kind() == kind) return std::move(s);
  return nullptr;
}

}  // namespace px::import
