#include "store/folder_listing.h"

#include "store/move_journal.h"

#include "foundation/address.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_sort.h"
#include "store/section_lines.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
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

int64_t CountUnread(const DocRows& rows, size_t first) { return CountUnread(rows, first, rows.size()); }

namespace {

// Base and part number of a series id, the base left in place.
std::pair<std::string_view, int> SeriesPartOf(std::string_view id) {
  const size_t colon = id.find(':');
  if (colon == std::string_view::npos) return {id, 0};
  return {id.substr(0, colon), ParseSeriesId(id.substr(colon)).part};
}

}  // namespace

int64_t CountUnreadEntries(const TPXCustomIni& index) {
  struct Entry {
    std::string base;
    int part = 0;
  };
  std::vector<Entry> unread;
  std::unordered_set<std::string> messages;  // bases whose part 1 has an entry
  index.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    const std::string_view prefix = SplitTagPrefix(name).prefix;
    if (SameText(prefix, kLinkPrefix) || SameText(prefix, kContactRefPrefix)) return;
    const std::optional<std::string> id = FindKey(lines, "msgid");
    const auto [base, part] = id ? SeriesPartOf(*id) : std::pair<std::string_view, int>{};
    if (part == 1 && !base.empty()) messages.emplace(base);
    const std::optional<std::string> flags = FindKey(lines, "flags");
    if (flags && (ParseEntryFlags(*flags) & dfUnread)) unread.push_back({std::string(base), part});
  });
  int64_t count = 0;
  for (const Entry& e : unread)
    if (!(e.part >= 2 && messages.count(e.base))) ++count;  // counted with its message
  return count;
}

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
  FileStatus ReleaseAll() {
    FileStatus first;
    for (auto& [f, h] : open_) {
      FileStatus st = h->Release();
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


  std::optional<IniRegistry> privateRegistry;
  IniRegistry* registry = ctx.registry;
  if (!registry) registry = &privateRegistry.emplace();

  const size_t first = rows.size();
  const bool searching = ctx.SearchActive();
  const bool readHidden = !background && rows.empty() && ctx.hiddenContacts;

  // 3. The files of the folder are read on a second thread meanwhile: that one waits on the
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

  // 1. The folder's index.
  TPXIniFile ini(*registry, indexPath);
  const bool indexRead = ini.LoadStatus().ok();

  // 4. Every plain section that can name a file becomes a record now; its file is attached
  // once the folder has been read. Sections are counted first, so the rows are allocated once.
  const size_t sectionCount = ini.SectionCount();
  rows.reserve(first + sectionCount + 64);
  std::vector<std::optional<DateTime>> times;
  times.reserve(sectionCount);
  std::vector<TaggedSection> tagged;
  std::optional<std::string> hideContacts;
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
  });

  // 2. The hidden contacts of this folder.
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
  }

  // 5. Sections with a tag prefix, in sorted order.
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
        if (contactsIni->LoadStatus().ok() && FolderExists(contacts) && PathIsGone(contacts + split.rest))
          erase.push_back(t.name);
        continue;
      }
      DocRecord rec = BuildContactRecord(folder, kContactRefPrefix, split.rest, lines, now);
      int ownFlags = 0;
      if (auto f = FindKey(own, "flags")) ownFlags = ParseEntryFlags(*f);
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
      if (!IsPlainFileName(target.rest) || !FolderExists(path)) continue;
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

  // 6. Erasures are saved with the index. An entry that an unfinished batch names stays: its
  // file may sit in the batch's target until the batch is finished at the next start.
  if (!erase.empty() && !ctx.dataRoot.empty()) {
    const std::set<std::string> held = JournalSources(JournalFolderOf(ctx.dataRoot));
    if (!held.empty())
      std::erase_if(erase, [&](const std::string& name) { return held.count(folder + FoldCase(name)) > 0; });
  }
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

  // 7. The search thread only filters; the desk sorts and filters.
  if (background) {
    if (ctx.viewFilter) ctx.viewFilter(rows);
    return result;
  }
  if (ctx.sortAndFilter)
    ctx.sortAndFilter(rows);
  else
    SortAndFilterListing(ctx, rows, false);

  // 8. Reconcile the folder's unread count with what was found.
  if (unread >= 0) {
    result.unread = unread;
    if (ctx.unread->GetUnreadCount(folder).own != unread) ctx.unread->ChangeUnreadCount(folder, unread, false);
  }

  // 10.
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
        if (IsPlainFileName(split.rest) && rootRef.LoadStatus().ok() && FolderExists(root) &&
            PathIsGone(root + split.rest))
          erase.push_back(s.name);
        continue;
      }
    } else {
      lines = std::move(s.lines);
    }
    StringList further;
    DocRecord rec = BuildContactRecord(folder, split.prefix, split.rest, lines, now, &further);
    if (SameText(split.prefix, kContactRefPrefix)) {
      // A reference keeps its own colour, collapsed bundle and sticker; the rest is the contact's.
      auto ownLines = Views(s.lines);
      std::span<const std::string_view> own(ownLines);
      int ownFlags = 0;
      if (auto f = FindKey(own, "flags")) ownFlags = ParseEntryFlags(*f);
      constexpr int kOwn = dfColourMask | dfCollapsed;
      rec.flags = (rec.flags & ~kOwn) | (ownFlags & kOwn);
      rec.sticker = FindKey(own, "sticker").value_or(std::string());
    }
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

}  // namespace px::store
