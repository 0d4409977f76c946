#include "store/folder_listing.h"

#include "foundation/address.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_sort.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <exception>
#include <system_error>
#include <thread>

namespace px::store {

namespace {

using Clock = std::chrono::steady_clock;

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view lowerAscii) {
  if (a.size() != lowerAscii.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerAscii[i]) return false;
  }
  return true;
}

bool StartsWithDollars(std::string_view s) { return s.size() >= 3 && s.substr(0, 3) == "$$$"; }

// A decimal integer (or "$"/"0x" hexadecimal, as the program's INI readers accept); invalid
// text gives 0. Only the low 16 bits are flag bits.
int ParseFlags(std::string_view v) {
  v = TrimView(v);
  if (v.empty()) return 0;
  int base = 10;
  bool neg = false;
  if (v.front() == '-' || v.front() == '+') {
    neg = v.front() == '-';
    v.remove_prefix(1);
  }
  if (!v.empty() && v.front() == '$') {
    base = 16;
    v.remove_prefix(1);
  } else if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  if (v.empty()) return 0;
  int64_t n = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n, base);
  if (ec != std::errc() || p != v.data() + v.size()) return 0;
  if (neg) n = -n;
  return static_cast<int>(static_cast<uint64_t>(n) & 0xFFFF);
}

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

bool IsDirectory(const std::string& path) {
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

// The lines of a section as views (for the StringList form of the builders).
std::vector<std::string_view> Views(const StringList& lines) {
  return std::vector<std::string_view>(lines.begin(), lines.end());
}

// Value of `key` in a section's lines (keys without regard to case, trimmed); the last line wins.
std::optional<std::string> FindKey(std::span<const std::string_view> lines, std::string_view keyLower) {
  std::optional<std::string> out;
  for (std::string_view line : lines) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (EqualsNoCase(TrimView(line.substr(0, eq)), keyLower)) out = std::string(TrimView(line.substr(eq + 1)));
  }
  return out;
}

StringList SplitAddresses(std::string_view value) {
  StringList out;
  for (std::string& s : SplitCommaList(value))
    if (!s.empty()) out.push_back(std::move(s));
  return out;
}

bool IsAsciiText(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Finds the files of a folder by name without regard to case, without building a folded copy
// of every name: ASCII names (nearly all) are folded on the fly.
class NameTable {
public:
  static constexpr size_t npos = SIZE_MAX;

  explicit NameTable(const std::vector<FolderFile>& files) : files_(files) {
    size_t cap = 16;
    while (cap < files.size() * 2) cap <<= 1;
    slots_.assign(cap, Slot{});
    next_.assign(files.size(), npos);
    tail_.assign(files.size(), npos);
    isFolded_.assign(files.size(), false);
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string& name = files[i].name;
      if (!IsAsciiText(name)) {
        isFolded_[i] = true;
        folded_.emplace(i, FoldCase(name));
      }
      std::string_view key = keyOf(i);
      const uint32_t h = Hash(key);
      for (size_t p = h & (cap - 1);; p = (p + 1) & (cap - 1)) {
        Slot& s = slots_[p];
        if (s.index1 == 0) {
          s = Slot{h, static_cast<uint32_t>(i + 1)};
          tail_[i] = i;
          break;
        }
        if (s.hash == h && Same(keyOf(s.index1 - 1), key)) {
          const size_t head = s.index1 - 1;
          next_[tail_[head]] = i;
          tail_[head] = i;
          break;
        }
      }
    }
  }

  // The first file of that name, or npos; Next gives the others of the same name.
  size_t Find(std::string_view name) const {
    std::string folded;
    std::string_view key = name;
    if (!IsAsciiText(name)) {
      folded = FoldCase(name);
      key = folded;
    }
    const uint32_t h = Hash(key);
    const size_t mask = slots_.size() - 1;
    for (size_t p = h & mask;; p = (p + 1) & mask) {
      const Slot& s = slots_[p];
      if (s.index1 == 0) return npos;
      if (s.hash == h && Same(keyOf(s.index1 - 1), key)) return s.index1 - 1;
    }
  }
  size_t Next(size_t i) const { return next_[i]; }

private:
  struct Slot {
    uint32_t hash = 0;
    uint32_t index1 = 0;  // file index + 1; 0 = empty
  };
  std::string_view keyOf(size_t i) const {
    return isFolded_[i] ? std::string_view(folded_.at(i)) : std::string_view(files_[i].name);
  }
  // Keys are folded text or raw ASCII; ASCII letters compare in lower case either way.
  static uint32_t Hash(std::string_view k) {
    uint32_t h = 2166136261u;
    for (char c : k) h = (h ^ static_cast<unsigned char>(LowerAscii(c))) * 16777619u;
    return h;
  }
  static bool Same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
  }

  const std::vector<FolderFile>& files_;
  std::vector<Slot> slots_;
  std::vector<size_t> next_;
  std::vector<size_t> tail_;
  std::vector<bool> isFolded_;                      // the name is not ASCII
  std::unordered_map<size_t, std::string> folded_;  // folded forms of those names
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Files of a folder

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

// ---------------------------------------------------------------------------------------------
// Records

namespace {

// The part of a record that comes from its index section. `time` receives the `Time` key when
// there is one (it dates mail).
void ParseSectionLines(DocRecord& r, std::span<const std::string_view> lines,
                       std::optional<DateTime>& time, const AddressLookup& lookup) {
  constexpr size_t kExtraKeys = static_cast<size_t>(DocKey::Charset) + 1;
  std::string_view extra[kExtraKeys];
  bool anyExtra = false;
  auto keep = [&](DocKey k, std::string_view v) {
    extra[static_cast<size_t>(k)] = v;
    anyExtra = true;
  };
  std::optional<std::string_view> timeText;
  for (std::string_view line : lines) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = TrimView(line.substr(0, eq));
    std::string_view value = TrimView(line.substr(eq + 1));
    if (key.size() < 2 || key.size() > 9) continue;
    // The first letter picks the one name a key of this length can be.
    switch (key.size() * 256 + static_cast<unsigned char>(LowerAscii(key[0]))) {
      case 2 * 256 + 'c':
        if (EqualsNoCase(key, "cc")) keep(DocKey::Cc, value);
        break;
      case 2 * 256 + 't':
        if (EqualsNoCase(key, "to")) keep(DocKey::To, value);
        break;
      case 3 * 256 + 'b':
        if (EqualsNoCase(key, "bcc")) keep(DocKey::Bcc, value);
        break;
      case 4 * 256 + 't':
        if (EqualsNoCase(key, "time")) timeText = value;
        break;
      case 4 * 256 + 'f':
        if (EqualsNoCase(key, "from")) keep(DocKey::From, value);
        break;
      case 4 * 256 + 's':
        if (EqualsNoCase(key, "sent")) keep(DocKey::Sent, value);
        break;
      case 5 * 256 + 't':
        if (EqualsNoCase(key, "title")) r.title.assign(value);
        break;
      case 5 * 256 + 'f':
        if (EqualsNoCase(key, "flags")) r.flags = ParseFlags(value);
        break;
      case 5 * 256 + 'm':
        if (EqualsNoCase(key, "msgid")) r.msgId.assign(value);
        break;
      case 7 * 256 + 'a':
        if (EqualsNoCase(key, "address")) r.address.assign(value);
        break;
      case 7 * 256 + 's':
        if (EqualsNoCase(key, "sticker")) r.sticker.assign(value);
        break;
      case 7 * 256 + 'r':
        if (EqualsNoCase(key, "replied")) keep(DocKey::Replied, value);
        break;
      case 7 * 256 + 'c':
        if (EqualsNoCase(key, "charset")) keep(DocKey::Charset, value);
        break;
      case 8 * 256 + 'o':
        if (EqualsNoCase(key, "original")) keep(DocKey::Original, value);
        break;
      case 9 * 256 + 'e':
        if (EqualsNoCase(key, "excludeto")) keep(DocKey::ExcludeTo, value);
        break;
      case 9 * 256 + 'd':
        if (EqualsNoCase(key, "delivered")) keep(DocKey::Delivered, value);
        break;
      case 9 * 256 + 'f':
        if (EqualsNoCase(key, "forwarded")) keep(DocKey::Forwarded, value);
        break;
      default:
        break;
    }
  }
  if (anyExtra) {
    std::pair<DocKey, std::string_view> present[kExtraKeys];
    size_t n = 0;
    for (size_t k = 0; k < kExtraKeys; ++k)
      if (!extra[k].empty()) present[n++] = {static_cast<DocKey>(k), extra[k]};
    r.SetExtras(std::span<const std::pair<DocKey, std::string_view>>(present, n));
  }
  time.reset();
  if (timeText) time = ParseShortDate(*timeText);
  ComputeShownAddress(r, lookup);
}

// The part of a record that comes from its file.
void CompleteWithFile(DocRecord& r, std::string_view folder, std::string_view name, std::string_view prefix,
                      std::string_view target, uint64_t size, DateTime fileDate,
                      const std::optional<DateTime>& time) {
  r.folder.assign(folder);
  r.name.assign(name);
  r.prefix.assign(prefix);
  r.target.assign(target);
  if (!target.empty()) {
    std::string_view t = target;
    auto slash = t.rfind('/');
    if (slash != std::string_view::npos) t.remove_prefix(slash + 1);
    r.ext = ExtensionOf(SplitTagPrefix(t).rest);
  } else {
    r.ext = ExtensionOf(name);
  }
  r.size = size;
  r.date = (r.flags & dfMailMask) && time ? *time : fileDate;
  if (r.title.empty()) r.title = StripExtension(name);
}

}  // namespace

void FillDocRecord(DocRecord& r, std::string_view folder, std::string_view name, std::string_view prefix,
                   std::string_view target, uint64_t size, DateTime fileDate,
                   std::span<const std::string_view> lines, const AddressLookup& lookup) {
  std::optional<DateTime> time;
  ParseSectionLines(r, lines, time, lookup);
  CompleteWithFile(r, folder, name, prefix, target, size, fileDate, time);
}

DocRecord BuildDocRecord(std::string_view folder, std::string_view name, std::string_view prefix,
                         std::string_view target, uint64_t size, DateTime fileDate,
                         std::span<const std::string_view> lines, const AddressLookup& lookup) {
  DocRecord r;
  FillDocRecord(r, folder, name, prefix, target, size, fileDate, lines, lookup);
  return r;
}

DocRecord BuildDocRecord(std::string_view folder, std::string_view name, std::string_view prefix,
                         std::string_view target, uint64_t size, DateTime fileDate,
                         const StringList& lines, const AddressLookup& lookup) {
  auto views = Views(lines);
  return BuildDocRecord(folder, name, prefix, target, size, fileDate,
                        std::span<const std::string_view>(views), lookup);
}

DocRecord BuildContactRecord(std::string_view folder, std::string_view prefix, std::string_view name,
                             const StringList& lines, DateTime now, StringList* furtherAddresses) {
  DocRecord r;
  r.folder = std::string(folder);
  r.prefix = std::string(prefix);
  r.name = std::string(name);
  r.date = now + kContactDateOffset;
  r.size = 0;
  for (const std::string& l : lines) {
    std::string_view line = l;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = TrimView(line.substr(0, eq));
    std::string_view value = TrimView(line.substr(eq + 1));
    if (EqualsNoCase(key, "title")) r.title.assign(value);
    else if (EqualsNoCase(key, "flags")) r.flags = ParseFlags(value);
    else if (EqualsNoCase(key, "sticker")) r.sticker.assign(value);
    else if (EqualsNoCase(key, "address")) r.address.assign(value);
    else if (furtherAddresses && EqualsNoCase(key, "addresses")) *furtherAddresses = SplitAddresses(value);
  }
  if (IsGroupAddress(name)) {
    r.ext = std::string(1, kGroupMarkerExt);
    r.address = std::string(name);
    r.shownAddress = std::string(kGroupMarker);
  } else {
    r.ext = "vcf";
    r.shownAddress = r.address;
    // An empty last name before the first name, so the name reads as "last, first".
    if (r.title.find(',') == std::string::npos) r.title.insert(0, ",");
  }
  return r;
}

int64_t CountUnread(const DocRows& rows, size_t first) { return CountUnread(rows, first, rows.size()); }

namespace {

// Base and part number of a series id, the base left in place.
std::pair<std::string_view, int> SeriesPartOf(std::string_view id) {
  const size_t colon = id.find(':');
  if (colon == std::string_view::npos) return {id, 0};
  return {id.substr(0, colon), ParseSeriesId(id.substr(colon)).part};
}

}  // namespace

int64_t CountUnread(const DocRows& rows, size_t first, size_t last) {
  last = std::min(last, rows.size());
  std::unordered_set<std::string_view> messages;  // bases whose part 1 is listed
  for (size_t i = first; i < last; ++i) {
    const DocRecord& r = rows[i];
    if (r.msgId.empty() || r.IsLink()) continue;
    const auto [base, part] = SeriesPartOf(r.msgId);
    if (part == 1 && !base.empty()) messages.insert(base);
  }
  int64_t unread = 0;
  for (size_t i = first; i < last; ++i) {
    const DocRecord& r = rows[i];
    if (!(r.flags & dfUnread) || r.IsLink() || r.IsContactRef()) continue;
    if (!r.msgId.empty() && !messages.empty()) {
      const auto [base, part] = SeriesPartOf(r.msgId);
      if (part >= 2 && messages.count(base)) continue;  // counted with its message
    }
    ++unread;
  }
  return unread;
}

void SortAndFilterListing(const ListingContext& ctx, DocRows& rows, bool contactsView, size_t first) {
  SortOptions opt;
  opt.sorting = contactsView ? ctx.addressSorting : ctx.sorting;
  opt.contactsTab = contactsView;
  opt.firstNameFirst = ctx.firstNameFirst;
  SortDocRecords(rows, opt, first);
  if (ctx.viewFilter) ctx.viewFilter(rows);
}

// ---------------------------------------------------------------------------------------------
// FetchDocs

namespace {

struct TaggedSection {
  std::string name;
  StringList lines;
};

// The busy display of one foreground listing: on once after 250 ms, off at the end.
class BusyDisplay {
public:
  BusyDisplay(const ListingContext& ctx, bool background)
      : ctx_(ctx), enabled_(!background && static_cast<bool>(ctx.busy)), start_(Clock::now()) {}
  void Tick() {
    if (!enabled_ || shown_) return;
    if (Clock::now() - start_ > std::chrono::milliseconds(250)) {
      shown_ = true;
      ctx_.busy(true, ctx_.SearchActive());
    }
  }
  // Off again unless the search thread still runs (it keeps the display on).
  void Finish() {
    if (!shown_) return;
    if (ctx_.searchThreadRunning && ctx_.searchThreadRunning()) return;
    ctx_.busy(false, false);
  }
  bool Shown() const { return shown_; }

private:
  const ListingContext& ctx_;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_;
};

// Offers freshly built records to the search, with message bundles kept together.
class SearchFeed {
public:
  SearchFeed(const ListingContext& ctx, bool background, DocRows& rows)
      : ctx_(ctx), background_(background), rows_(rows) {}

  void Offer(DocRecord&& rec) {
    std::string base = rec.msgId.empty() ? std::string() : SeriesBase(rec.msgId);
    const bool bundled = ctx_.bundlesTogether && !base.empty();
    bool match = bundled && bases_.count(base);
    if (!match) match = ctx_.searchMatches(rec);
    if (match) {
      rec.searchState &= ~rsSearchMiss;
      if (background_) rec.searchState |= rsBundleMatch;
      const bool newBase = bundled && bases_.insert(base).second;
      rows_.push_back(std::move(rec));
      if (bundled && !background_) members_[base].push_back(rows_.size() - 1);
      if (newBase) {
        if (background_) {
          auto it = held_.find(base);
          if (it != held_.end()) {
            for (DocRecord& h : it->second) {
              h.searchState = rsBundleMatch;
              rows_.push_back(std::move(h));
            }
            held_.erase(it);
          }
        } else {
          for (size_t i : members_[base]) rows_[i].searchState = 0;
        }
      }
      return;
    }
    rec.searchState |= rsSearchMiss;
    if (background_) {
      if (bundled) held_[base].push_back(std::move(rec));
      return;  // dropped, or held back until a part of its bundle matches
    }
    rows_.push_back(std::move(rec));
    if (bundled) members_[base].push_back(rows_.size() - 1);
  }

private:
  const ListingContext& ctx_;
  bool background_;
  DocRows& rows_;
  std::unordered_set<std::string> bases_;
  std::unordered_map<std::string, std::vector<DocRecord>> held_;
  std::unordered_map<std::string, std::vector<size_t>> members_;
};

// Opened index files of other folders, each opened once per listing.
class IndexCache {
public:
  explicit IndexCache(IniRegistry& registry) : registry_(registry) {}
  TPXIniFile& Of(const std::string& folder) {
    auto it = open_.find(folder);
    if (it == open_.end())
      it = open_.emplace(folder, std::make_unique<TPXIniFile>(registry_, IndexPathOf(folder))).first;
    return *it->second;
  }
  // Releases every handle; returns the first failed save.
  IniStatus ReleaseAll() {
    IniStatus first;
    for (auto& [f, h] : open_) {
      IniStatus st = h->Release();
      if (first.ok() && !st.ok()) first = st;
    }
    open_.clear();
    return first;
  }

private:
  IniRegistry& registry_;
  std::map<std::string, std::unique_ptr<TPXIniFile>> open_;
};

}  // namespace

ListingResult FetchDocs(const ListingContext& ctx, bool background, const std::string& folderIn,
                        DocRows& rows) {
  ListingResult result;
  const std::string folder = WithSlash(folderIn);
  if (folder.empty()) return result;

  // 1. The main thread lists a folder itself only once the background search has stopped.
  if (!background && ctx.searchThreadRunning && ctx.searchThreadRunning() && ctx.stopSearchThread)
    ctx.stopSearchThread();
  BusyDisplay busy(ctx, background);

  std::optional<IniRegistry> privateRegistry;
  IniRegistry* registry = ctx.registry;
  if (!registry) registry = &privateRegistry.emplace();

  const size_t first = rows.size();
  const bool searching = ctx.SearchActive();
  const bool readHidden = !background && rows.empty() && ctx.hiddenContacts;

  // 4. The files of the folder are read on a second thread meanwhile: that one waits on the
  // file system while this one loads and parses the index.
  std::vector<FolderFile> files;
  std::exception_ptr enumerateFailure;
  auto enumerate = [&] {
    try {
      files = EnumerateFolderFiles(folder, &result.folderError);
    } catch (...) {
      enumerateFailure = std::current_exception();
    }
  };
  const std::string indexPath = IndexPathOf(folder);
  std::optional<std::thread> lister;
  {
    // Only a large index is worth a thread (the search lists many small folders).
    struct stat st;
    const bool large = ::stat(indexPath.c_str(), &st) == 0 && st.st_size > 256 * 1024;
    try {
      if (large) lister.emplace(enumerate);
    } catch (const std::system_error&) {
    }
    if (!lister) enumerate();
  }
  struct Joiner {
    std::optional<std::thread>& t;
    void Join() {
      if (t && t->joinable()) t->join();
    }
    ~Joiner() { Join(); }
  } joiner{lister};

  // 2. The folder's index.
  TPXIniFile ini(*registry, indexPath);
  const bool indexRead = ini.LoadStatus().ok();

  // 5. Every plain section that can name a file becomes a record now; its file is attached
  // once the folder has been read. Sections are counted first, so the rows are allocated once.
  const size_t sectionCount = ini.SectionCount();
  rows.reserve(first + sectionCount + 64);
  std::vector<std::optional<DateTime>> times;
  times.reserve(sectionCount);
  std::vector<TaggedSection> tagged;
  std::optional<std::string> hideContacts;
  size_t tick = 0;
  ini.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    if (StartsWithDollars(name)) {
      TaggedSection t;
      t.name = std::string(name);
      t.lines.assign(lines.begin(), lines.end());
      tagged.push_back(std::move(t));
      return;
    }
    // Only ASCII text of the same length folds to this name: non-ASCII letters fold to ASCII
    // only as text with "f", "k" or "s", which it lacks. Other lengths need no comparison.
    if (name.size() == kFolderSection.size() && SameText(name, kFolderSection)) {
      if (readHidden) hideContacts = FindKey(lines, "hide contacts");
      return;
    }
    if (!IsPlainFileName(name) || IsHiddenFileName(name)) return;  // never a listed file
    DocRecord& r = rows.emplace_back();
    r.name.assign(name);  // the section's name until the file is attached
    ParseSectionLines(r, lines, times.emplace_back(), ctx.addressLookup);
    if ((++tick & 255) == 0) busy.Tick();
  });

  // 3. The hidden contacts of this folder.
  if (readHidden) {
    ctx.hiddenContacts->clear();
    if (hideContacts) {
      for (std::string& a : SplitCommaList(*hideContacts))
        if (!a.empty()) ctx.hiddenContacts->push_back(LowerCase(a));
      std::sort(ctx.hiddenContacts->begin(), ctx.hiddenContacts->end());
      ctx.hiddenContacts->erase(std::unique(ctx.hiddenContacts->begin(), ctx.hiddenContacts->end()),
                                ctx.hiddenContacts->end());
    }
  }

  joiner.Join();
  if (enumerateFailure) std::rethrow_exception(enumerateFailure);
  std::optional<NameTable> nameTable(std::in_place, files);
  const NameTable& byName = *nameTable;

  // Attach each file to its section's record. A section whose file is gone stays in the index
  // but shows nothing; files differing only in letter case share one section.
  std::vector<bool> used(files.size(), false);
  DocRows sameSection;
  size_t kept = first;
  for (size_t k = first; k < rows.size(); ++k) {
    const size_t found = byName.Find(rows[k].name);
    if (found == NameTable::npos) continue;
    const std::optional<DateTime>& time = times[k - first];
    DocRecord& r = rows[kept];
    if (kept != k) r = std::move(rows[k]);
    DocRecord parsed;
    if (byName.Next(found) != NameTable::npos) parsed = r;
    for (size_t i = found; i != NameTable::npos; i = byName.Next(i)) {
      const FolderFile& f = files[i];
      used[i] = true;
      DocRecord& target = i == found ? r : sameSection.emplace_back(parsed);
      CompleteWithFile(target, folder, f.name, {}, {}, f.size, f.date, time);
    }
    ++kept;
    if ((++tick & 255) == 0) busy.Tick();
  }
  rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(kept), rows.end());
  times = {};
  size_t unused = 0;
  for (bool u : used) unused += u ? 0 : 1;
  rows.reserve(rows.size() + sameSection.size() + unused + tagged.size() + 64);
  for (DocRecord& r : sameSection) rows.push_back(std::move(r));
  sameSection = {};

  // Files without a section of their own.
  for (size_t i = 0; i < files.size(); ++i) {
    if (used[i]) continue;
    const FolderFile& f = files[i];
    FillDocRecord(rows.emplace_back(), folder, f.name, {}, {}, f.size, f.date,
                  std::span<const std::string_view>(), ctx.addressLookup);
    if ((++tick & 255) == 0) busy.Tick();
  }

  // 6. Sections with a tag prefix, in sorted order.
  DocRows extra;
  StringList erase;
  IndexCache others(*registry);
  std::optional<TPXIniFile> contactsIni;
  const DateTime now = NowDateTime();
  for (TaggedSection& t : tagged) {
    TagSplit split = SplitTagPrefix(t.name);
    if (split.prefix.empty()) continue;  // "$$$" without a dot: not a tag, nothing to resolve
    auto ownLines = Views(t.lines);
    std::span<const std::string_view> own(ownLines);
    if ((++tick & 255) == 0) busy.Tick();

    if (SameText(split.prefix, kContactRefPrefix)) {
      if (searching && !ctx.contactsTabShown) continue;
      if (ctx.contactsFolder.empty() || !IsPlainFileName(split.rest)) continue;
      const std::string contacts = WithSlash(ctx.contactsFolder);
      if (!contactsIni) contactsIni.emplace(*registry, IndexPathOf(contacts));
      StringList lines;
      contactsIni->ReadSectionValues(split.rest, lines);
      if (lines.empty()) {
        // The contact was deleted: drop the reference. An unreadable contacts folder or index
        // (unmounted disk, damaged file) proves nothing, so the reference stays.
        if (contactsIni->LoadStatus().ok() && IsDirectory(contacts) && PathIsGone(contacts + split.rest))
          erase.push_back(t.name);
        continue;
      }
      DocRecord rec = BuildContactRecord(folder, kContactRefPrefix, split.rest, lines, now);
      int ownFlags = 0;
      if (auto f = FindKey(own, "flags")) ownFlags = ParseFlags(*f);
      rec.flags = (ownFlags & dfColourMask) | (rec.flags & dfEncrypted);
      rec.sticker = FindKey(own, "sticker").value_or(std::string());
      extra.push_back(std::move(rec));
      continue;
    }

    if (SameText(split.prefix, kLinkPrefix)) {
      std::string path = FindKey(own, "path").value_or(std::string());
      if (path.empty()) path = folder;
      std::string id = FindKey(own, "id").value_or(std::string());
      if (id.empty()) id = split.rest;
      if (IsForeignPath(path)) continue;  // written elsewhere: cannot be checked here
      path = WithSlash(path);
      TagSplit target = SplitTagPrefix(id);
      if (!IsPlainFileName(target.rest) || !IsDirectory(path)) continue;
      FolderFile tf;
      if (!StatListableFile(path, target.rest, &tf)) {
        if (PathIsGone(path + target.rest)) erase.push_back(t.name);
        continue;
      }
      TPXIniFile& tini = path == folder ? ini : others.Of(path);
      StringList lines;
      tini.ReadSectionValues(id, lines);
      if (lines.empty()) {
        if (tini.LoadStatus().ok()) erase.push_back(t.name);
        continue;
      }
      extra.push_back(BuildDocRecord(folder, split.rest, kLinkPrefix, path + id, tf.size, tf.date,
                                     lines, ctx.addressLookup));
      continue;
    }

    // A document of this folder stored under a tag prefix.
    if (!IsPlainFileName(split.rest)) continue;
    const size_t found = byName.Find(split.rest);
    if (found == NameTable::npos) {
      if (result.folderError == 0 && PathIsGone(folder + split.rest)) erase.push_back(t.name);
      continue;
    }
    const FolderFile& f = files[found];
    extra.push_back(BuildDocRecord(folder, split.rest, split.prefix, {}, f.size, f.date, own,
                                   ctx.addressLookup));
  }

  // 7. Erasures are saved with the index.
  for (const std::string& name : erase) ini.EraseSection(name);
  result.erased = erase.size();
  if (contactsIni) contactsIni->Release();
  others.ReleaseAll();
  result.saveStatus = ini.Release();
  nameTable.reset();
  files = {};

  // Search: records are offered in listing order.
  if (searching && !ctx.contactsTabShown) {
    DocRows fresh;
    fresh.reserve(rows.size() - first + extra.size());
    for (size_t i = first; i < rows.size(); ++i) fresh.push_back(std::move(rows[i]));
    rows.resize(first);
    SearchFeed feed(ctx, background, rows);
    for (DocRecord& r : fresh) {
      if (r.IsContactRef())
        rows.push_back(std::move(r));
      else
        feed.Offer(std::move(r));
    }
    for (DocRecord& r : extra) {
      if (r.IsContactRef())
        rows.push_back(std::move(r));
      else
        feed.Offer(std::move(r));
    }
  } else {
    rows.reserve(rows.size() + extra.size());
    for (DocRecord& r : extra) rows.push_back(std::move(r));
  }
  extra.clear();
  result.added = rows.size() - first;
  // Counted before sorting, while this folder's records are still together.
  const int64_t unread =
      // An unreadable folder or index shows too little to count.
      !background && !searching && ctx.unread && result.folderError == 0 && indexRead ? CountUnread(rows, first) : -1;

  // 8. The search thread only filters; the desk sorts and filters.
  if (background) {
    if (ctx.viewFilter) ctx.viewFilter(rows);
    return result;
  }
  if (ctx.sortAndFilter)
    ctx.sortAndFilter(rows);
  else
    SortAndFilterListing(ctx, rows, false);

  // 9. Reconcile the folder's unread count with what was found.
  if (unread >= 0) {
    result.unread = unread;
    if (ctx.unread->GetUnreadCount(folder).own != unread) ctx.unread->ChangeUnreadCount(folder, unread, false);
  }

  // 10.
  busy.Finish();
  result.busyShown = busy.Shown();
  return result;
}

// ---------------------------------------------------------------------------------------------
// FetchContacts

ListingResult FetchContacts(const ListingContext& ctx, const std::string& folderIn, DocRows& rows) {
  ListingResult result;
  const std::string folder = WithSlash(folderIn);
  if (folder.empty()) return result;
  std::optional<IniRegistry> privateRegistry;
  IniRegistry* registry = ctx.registry;
  if (!registry) registry = &privateRegistry.emplace();

  const std::string root = ctx.contactsFolder.empty() ? folder : WithSlash(ctx.contactsFolder);
  TPXIniFile ini(*registry, IndexPathOf(folder));
  std::optional<TPXIniFile> rootIni;
  if (root != folder) rootIni.emplace(*registry, IndexPathOf(root));
  TPXIniFile& rootRef = rootIni ? *rootIni : ini;

  std::vector<TaggedSection> sections;
  ini.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    if (SameText(name, kFolderSection)) return;
    TaggedSection t;
    t.name = std::string(name);
    t.lines.assign(lines.begin(), lines.end());
    sections.push_back(std::move(t));
  });

  const DateTime now = NowDateTime();
  const size_t first = rows.size();
  StringList erase;
  for (TaggedSection& s : sections) {
    TagSplit split = SplitTagPrefix(s.name);
    StringList lines;
    if (SameText(split.prefix, kContactRefPrefix)) {
      rootRef.ReadSectionValues(split.rest, lines);
      if (lines.empty()) {
        if (IsPlainFileName(split.rest) && rootRef.LoadStatus().ok() && IsDirectory(root) &&
            PathIsGone(root + split.rest))
          erase.push_back(s.name);
        continue;
      }
    } else {
      lines = std::move(s.lines);
    }
    StringList further;
    DocRecord rec = BuildContactRecord(folder, split.prefix, split.rest, lines, now, &further);
    if (!ctx.contactsTabShown || rec.ext == std::string(1, kGroupMarkerExt)) {
      rows.push_back(std::move(rec));
      continue;
    }
    ContactCardDetails card;
    if (ctx.contactDetails) card = ctx.contactDetails(rec);
    if (card.hasFurtherAddresses) further = card.furtherAddresses;
    const StringList& details = card.detailLines;
    if (!details.empty()) rec.detail = details[0];
    const size_t children = std::max(details.size() > 0 ? details.size() - 1 : 0, further.size());
    if (details.size() < 2 && further.empty()) {
      rows.push_back(std::move(rec));
      continue;
    }
    rec.msgId = FormatSeriesId(split.rest, 1);
    DocRecord parent = rec;
    rows.push_back(std::move(rec));
    for (size_t i = 1; i <= children; ++i) {
      DocRecord child = parent;
      child.address = i - 1 < further.size() ? further[i - 1] : std::string();
      child.shownAddress = child.address;
      child.detail = i < details.size() ? details[i] : std::string();
      child.msgId = FormatSeriesId(split.rest, static_cast<int>(i + 1));
      rows.push_back(std::move(child));
    }
  }
  for (const std::string& name : erase) ini.EraseSection(name);
  result.erased = erase.size();
  if (rootIni) rootIni->Release();
  result.saveStatus = ini.Release();
  result.added = rows.size() - first;

  if (ctx.sortAndFilter)
    ctx.sortAndFilter(rows);
  else
    SortAndFilterListing(ctx, rows, true);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Pending folders

IniStatus RefreshPendingFolders(TPXCustomIni& sentIni, PendingFolders& pending) {
  pending.Clear();
  struct Entry {
    std::string name;
    int flags = 0;
    std::string path;
    std::string id;
  };
  std::vector<Entry> entries;
  sentIni.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    Entry e;
    e.name = std::string(name);
    if (auto f = FindKey(lines, "flags")) e.flags = ParseFlags(*f);
    if (!IsPendingFlags(e.flags)) return;
    e.path = FindKey(lines, "path").value_or(std::string());
    e.id = FindKey(lines, "id").value_or(std::string());
    entries.push_back(std::move(e));
  });
  bool erased = false;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    // An entry without a place, or with one this system cannot check, is left for the sender.
    if (it->path.empty() || it->id.empty() || IsForeignPath(it->path)) continue;
    const std::string path = WithSlash(it->path);
    const std::string rest = SplitTagPrefix(it->id).rest;
    if (!IsPlainFileName(rest)) continue;
    struct stat st;
    if (::lstat((path + rest).c_str(), &st) == 0) {
      pending.Add(path);
      continue;
    }
    if (IsDirectory(path) && PathIsGone(path + rest)) {
      sentIni.EraseSection(it->name);
      erased = true;
    }
  }
  return erased ? sentIni.UpdateFile() : IniStatus::Ok();
}

}  // namespace px::store
