#include "import/bookmarks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <map>
#include <set>

#include "foundation/locations.h"
#include "foundation/strings.h"
#include "foundation/utf8.h"
#include "import/file_probe.h"
#include "store/index_file.h"
#include "store/unique_names.h"

namespace px::import {

namespace {

constexpr int kMaxDepth = 32;
constexpr size_t kMaxFile = 64u << 20;
constexpr size_t kMaxUrl = 8192;
constexpr size_t kMaxTitle = 1024;

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string ShortcutText(const std::string& url) { return "[InternetShortcut]\r\nURL=" + url + "\r\n"; }

class Builder {
public:
  Builder(store::IniRegistry& registry, bool dryRun, BookmarkResult& r) : registry_(registry), dry_(dryRun), r_(r) {}

  // The shortcuts already in a folder: title + "\n" + address.
  const std::set<std::string>& Known(const std::string& folder) {
    auto [it, fresh] = known_.try_emplace(folder);
    if (!fresh || (dry_ && !IsFolder(folder))) return it->second;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return it->second;
    store::TPXIniFile index(registry_, store::IndexPathOf(folder));
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n.size() < 5 || n.compare(n.size() - 4, 4, ".url") != 0) continue;
      std::string text;
      if (!ReadBounded(folder + n, text, kMaxUrl + 64)) continue;
      size_t u = text.find("URL=");
      if (u == std::string::npos) continue;
      std::string url = text.substr(u + 4, text.find_first_of("\r\n", u) - u - 4);
      std::string title = index.ReadString(n, "Title", "");
      if (title.empty()) title = n.substr(0, n.size() - 4);
      it->second.insert(title + "\n" + url);
    }
    ::closedir(d);
    return it->second;
  }

  void Link(const std::string& folder, const std::string& title, const std::string& url) {
    if (url.empty() || url.size() > kMaxUrl || url.find_first_of("\r\n") != std::string::npos) return;
    const std::string shown = title.empty() ? url.substr(0, kMaxTitle) : title;
    if (Known(folder).count(shown + "\n" + url)) {
      ++r_.known;
      return;
    }
    if (dry_) {
      known_[folder].insert(shown + "\n" + url);
      ++r_.bookmarks;
      return;
    }
    // A new name, placed without replacing anything; chosen again when taken meanwhile.
    for (int attempt = 0; attempt < 5; ++attempt) {
      store::UniqueName n = store::UniqueFileName(folder, shown, "url");
      if (!n.ok) {
        r_.skipped.push_back({shown, "cannot be a file name here"});
        return;
      }
      int fd = ::open((folder + n.fileName).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd < 0) {
        r_.skipped.push_back({folder + n.fileName, std::strerror(errno)});
        return;
      }
      const std::string text = ShortcutText(url);
      const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
      ::close(fd);
      if (!ok) {
        ::unlink((folder + n.fileName).c_str());
        r_.skipped.push_back({folder + n.fileName, "cannot be written"});
        return;
      }
      if (n.name != shown) {
        store::TPXIniFile index(registry_, store::IndexPathOf(folder));
        index.WriteString(n.fileName, "Title", shown);
      }
      known_[folder].insert(shown + "\n" + url);
      ++r_.bookmarks;
      return;
    }
    r_.skipped.push_back({shown, "no free file name"});
  }

  // The folder for a heading below parent: the existing one of that title, else a new one.
  std::string Folder(const std::string& parent, const std::string& title) {
    std::string name = SafeFileName(title.empty() ? "Bookmarks" : title, 200);
    if (name.empty() || name == "." || name == "..") name = "Bookmarks";
    const std::string path = parent + name + "/";
    if (dry_ || IsFolder(path)) return path;
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
      r_.skipped.push_back({path, std::strerror(errno)});
      return {};
    }
    ++r_.folders;
    if (name != title && !title.empty()) {
      store::TPXIniFile index(registry_, store::IndexPathOf(parent));
      index.WriteString(name + ".", "Title", title);
    }
    return path;
  }

private:
  store::IniRegistry& registry_;
  bool dry_;
  BookmarkResult& r_;
  std::map<std::string, std::set<std::string>> known_;
};

}  // namespace

std::string DecodeTitle(std::string_view t) {
  std::string out;
  out.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '&') {
      out += t[i];
      continue;
    }
    const size_t semi = t.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 10) {
      out += '&';
      continue;
    }
    const std::string_view name = t.substr(i + 1, semi - i - 1);
    std::string rep;
    if (name == "amp") rep = "&";
    else if (name == "lt") rep = "<";
    else if (name == "gt") rep = ">";
    else if (name == "quot") rep = "\"";
    else if (name == "apos") rep = "'";
    else if (name == "nbsp") rep = " ";
    else if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      const std::string digits(name.substr(hex ? 2 : 1));
      char* end = nullptr;
      const unsigned long v = digits.empty() ? 0 : std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
      if (!digits.empty() && end && *end == 0) {
        uint32_t cp = static_cast<uint32_t>(std::min<unsigned long>(v, 0x110000));
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        AppendUtf8(rep, cp);
      }
    }
    if (rep.empty()) {
      out += '&';
      continue;
    }
    out += rep;
    i = semi;
  }
  // Control characters never reach a name or an index value.
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return Trim(out).substr(0, kMaxTitle);
}

BookmarkResult ImportBookmarks(const std::string& file, const std::string& targetIn, store::IniRegistry& registry,
                               bool dryRun) {
  BookmarkResult r;
  std::string text;
  if (!ReadBounded(file, text, kMaxFile)) {
    r.skipped.push_back({file, "cannot be read, or larger than 64 MiB"});
    return r;
  }
  const std::string target = WithSlash(targetIn);
  if (!dryRun && !IsFolder(target)) {
    std::string p;
    for (size_t s = 1; s <= target.size(); ++s)
      if (target[s - 1] == '/') ::mkdir(target.substr(0, s).c_str(), 0755);
    if (!IsFolder(target)) {
      r.skipped.push_back({target, "cannot be made"});
      return r;
    }
  }
  Builder b(registry, dryRun, r);
  std::vector<std::string> folders;  // the lists being read, innermost last
  std::string pending;
  bool started = false;
  size_t pos = 0;
  int ignoredDepth = 0;  // nested lists below the depth cap are read as part of their parent
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line(text.data() + pos, (nl == std::string::npos ? text.size() : nl) - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    const std::string up = Upper(line);
    if (!started) {
      if (up.find("<DL>") != std::string::npos) {
        started = true;
        folders.push_back(target);
      }
      continue;
    }
    if (folders.empty()) break;
    if (size_t a = up.find("<A HREF=\""); a != std::string::npos) {
      const size_t q = a + 9;
      const size_t qe = line.find('"', q);
      if (qe == std::string::npos) continue;
      const size_t gt = line.find('>', qe);
      if (gt == std::string::npos) continue;  // no closing ">": no bookmark
      const size_t lt = line.find('<', gt + 1);
      const std::string title = DecodeTitle(line.substr(gt + 1, lt == std::string::npos ? std::string::npos : lt - gt - 1));
      if (!folders.back().empty()) b.Link(folders.back(), title, std::string(line.substr(q, qe - q)));
    } else if (size_t h = up.find("</H"); h != std::string::npos) {
      const size_t gt = line.rfind('>', h);
      pending = gt == std::string::npos ? std::string() : DecodeTitle(line.substr(gt + 1, h - gt - 1));
    } else if (up.find("</DL>") != std::string::npos) {
      if (ignoredDepth > 0) --ignoredDepth;
      else folders.pop_back();
    } else if (up.find("<DL>") != std::string::npos) {
      if (static_cast<int>(folders.size()) > kMaxDepth || folders.back().empty()) {
        ++ignoredDepth;
      } else {
        folders.push_back(b.Folder(folders.back(), pending));
      }
      pending.clear();
    }
  }
  return r;
}

}  // namespace px::import
