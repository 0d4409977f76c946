#include "foundation/ini_file.h"

#include "foundation/atomic_file.h"
#include "foundation/file_lock.h"
#include "foundation/text_case.h"

#include <QDebug>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace px {
namespace {

// Section names, keys and values never carry line breaks or NUL: they would split the line.
std::string cleanText(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return r;
}

bool hasBreaks(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool isAsciiText(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

inline unsigned char lowerByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + 32) : u;
}

// Order of map keys: bytewise with ASCII letters in lower case. An ASCII key is its name as
// written, any other key is already folded, so this is the order of the folded names.
int compareKeys(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const unsigned char x = lowerByte(a[i]);
    const unsigned char y = lowerByte(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Map key of a clean section name: ASCII names need no folded copy.
std::string mapKeyOf(std::string_view name) { return isAsciiText(name) ? std::string(name) : FoldCase(name); }

// Lookup key of a section name, cleaned the way the writers clean names; no copy is made of
// the usual clean ASCII name.
class LookupKey {
public:
  explicit LookupKey(std::string_view section) {
    if (hasBreaks(section)) {
      store_ = mapKeyOf(cleanText(section));
      view_ = store_;
    } else if (!isAsciiText(section)) {
      store_ = FoldCase(section);
      view_ = store_;
    } else {
      view_ = section;
    }
  }
  LookupKey(const LookupKey&) = delete;
  LookupKey& operator=(const LookupKey&) = delete;
  std::string_view view() const { return view_; }

private:
  std::string store_;
  std::string_view view_;
};

// Splits a section's joined lines; calls fn(line) for each.
template <typename Fn>
void forEachLine(std::string_view joined, uint32_t count, Fn&& fn) {
  if (count == 0) return;
  std::string_view rest(joined);
  for (;;) {
    size_t p = rest.find('\n');
    if (p == std::string_view::npos) {
      fn(rest);
      return;
    }
    fn(rest.substr(0, p));
    rest.remove_prefix(p + 1);
  }
}

// True when the text of `line` before its first "=" equals `key` (without regard to case).
bool lineMatchesKey(std::string_view line, std::string_view key) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  if (hasBreaks(key)) return SameText(line.substr(0, eq), cleanText(key));
  return SameText(line.substr(0, eq), key);
}

FileStatus failure(const std::string& verb, const std::string& path, int err) {
  return FileStatus::Failure(verb, path, err);
}

// Bytes that no text editor writes and that the parser would not carry through a save as they
// are: NUL anywhere, or control bytes on a line that is neither a header, a comment nor a
// key=value line. Control bytes inside values (ESC of ISO-2022 titles, a stray 0x01 from a
// subject) are kept verbatim and are no damage.
bool looksDamaged(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return true;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty() || line.front() == ';' || line.front() == '[' ||
        line.find('=') != std::string_view::npos)
      continue;
    for (char c : line) {
      const auto u = static_cast<unsigned char>(c);
      if ((u < 0x20 && u != '\t' && u != 0x0B && u != 0x0C && u != 0x1B) || u == 0x7F) return true;
    }
  }
  return false;
}

bool isBlankText(std::string_view s) {
  return s.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TPXIniBase

TPXIniBase::TPXIniBase(std::string path) : fileName_(std::move(path)) {
  std::lock_guard lock(mutex_);
  LoadLocked();
}

TPXIniBase::TPXIniBase(std::string path, Kind kind) : fileName_(std::move(path)), kind_(kind) {
  std::lock_guard lock(mutex_);
  if (kind_ == Kind::FolderIndex)
    unread_ = true;  // read when first asked
  else
    LoadLocked();
}

void TPXIniBase::EnsureLoadedLocked() const {
  if (!unread_) return;
  // The contents are read on demand: to the callers this object looks loaded all along.
  auto* self = const_cast<TPXIniBase*>(this);
  self->unread_ = false;
  std::vector<Change> pending = std::move(self->changes_);
  self->LoadLocked();
  self->ReplayLocked(pending);
  self->modified_ = !pending.empty();
  self->changes_ = std::move(pending);
}

TPXIniBase::~TPXIniBase() = default;

bool TPXIniBase::KeyLess::operator()(std::string_view a, std::string_view b) const {
  return compareKeys(a, b) < 0;
}

// What a save or a read saw of the file, to tell later whether another process replaced it.
TPXIniBase::Stamp TPXIniBase::StampOf(const struct stat& st) {
  Stamp stamp;
  stamp.exists = true;
  stamp.dev = st.st_dev;
  stamp.ino = st.st_ino;
  stamp.size = st.st_size;
  stamp.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.ctimeNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

TPXIniBase::Stamp TPXIniBase::StatLocked() const {
  Stamp stamp;
  struct stat st{};
  const int r = kind_ == Kind::FolderIndex ? ::lstat(fileName_.c_str(), &st) : ::stat(fileName_.c_str(), &st);
  if (r != 0) return stamp;
  return StampOf(st);
}

FileStatus TPXIniBase::ReadLocked(std::string& text, Stamp& stamp, bool& damaged) const {
  text.clear();
  stamp = Stamp{};
  damaged = false;
  struct stat st{};
  FileStatus status = ReadWholeFile(fileName_, text, kMaxIniFileSize, kind_ == Kind::FolderIndex, &st);
  if (!status.ok()) return status;
  stamp = StampOf(st);
  // Editors on other systems save INI files as UTF-16 with a byte order mark; the program keeps
  // them as 8-bit text (UTF-8), the form they are written back in.
  if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
    QStringDecoder decode(text[0] == '\xFF' ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    const QString wide = decode(QByteArrayView(text.data() + 2, static_cast<qsizetype>(text.size() - 2)));
    // An odd byte or a broken surrogate: the conversion would lose what stood there.
    damaged = decode.hasError() || (text.size() % 2) != 0;
    text = wide.toStdString();
  }
  if (!damaged) damaged = looksDamaged(text);
  return status;
}

void TPXIniBase::LoadLocked() {
  sections_.clear();
  loaded_.clear();
  loaded_.shrink_to_fit();
  preamble_.clear();
  changes_.clear();
  modified_ = false;
  damaged_ = false;
  loadStatus_ = FileStatus::Ok();
  std::string text;
  bool damaged = false;
  FileStatus st = ReadLocked(text, stamp_, damaged);
  if (st.error == ENOENT) return;  // a missing index reads as empty
  if (!st.ok()) {
    loadStatus_ = st;
    qWarning("%s", st.message.c_str());
    return;
  }
  damaged_ = damaged;
  ParseLocked(std::move(text));
}

void TPXIniBase::ParseLocked(std::string&& text) {
  sections_.clear();
  preamble_.clear();
  // The lines are compacted within the text itself (never moving forward): each section's
  // lines joined by '\n', each header's name before them. Sections refer to their range.
  loaded_ = std::move(text);
  char* const buf = loaded_.data();
  const size_t n = loaded_.size();
  size_t pos = 0;
  // A file saved by a text editor may start with a UTF-8 byte order mark; without this the
  // first header would not be seen and its section lost on the next save.
  if (n >= 3 && std::memcmp(buf, "\xEF\xBB\xBF", 3) == 0) pos = 3;
  const size_t textStart = pos;
  struct Loaded {
    uint32_t nameOff, nameLen;
    uint32_t off, len, count;
    int32_t fold;  // index of the folded name of a non-ASCII name, else -1
  };
  std::vector<Loaded> found;
  found.reserve(n / 256 + 16);
  size_t w = 0;
  const char* const end = buf + n;
  const char* lf = nullptr;  // the next line feed at or after pos (end when none)
  while (pos < n) {
    const char* p = buf + pos;
    if (lf < p) {
      lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (!lf) lf = end;
    }
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(lf - p)));
    const char* lineEnd = cr ? cr : lf;
    const size_t len = static_cast<size_t>(lineEnd - p);
    const size_t lineStart = pos;
    if (cr)
      pos = static_cast<size_t>((cr + 1 < end && cr[1] == '\n' ? cr + 2 : cr + 1) - buf);
    else
      pos = lf < end ? static_cast<size_t>(lf + 1 - buf) : n;
    if (len == 0 || buf[lineStart] == ';') continue;
    if (buf[lineStart] == '[' && len >= 2 && buf[lineStart + len - 1] == ']') {
      // Text before the first section is kept as it was written (nothing has been moved yet).
      if (found.empty() && lineStart > textStart) preamble_.assign(buf + textStart, lineStart - textStart);
      std::memmove(buf + w, buf + lineStart + 1, len - 2);
      found.push_back({static_cast<uint32_t>(w), static_cast<uint32_t>(len - 2), 0, 0, 0, -1});
      w += len - 2;
      continue;
    }
    if (found.empty()) continue;  // lines before the first header are dropped
    Loaded& cur = found.back();
    if (cur.count)
      buf[w++] = '\n';
    else
      cur.off = static_cast<uint32_t>(w);
    std::memmove(buf + w, buf + lineStart, len);
    w += len;
    ++cur.count;
    cur.len = static_cast<uint32_t>(w - cur.off);
  }

  if (found.empty() && n > textStart) preamble_.assign(buf + textStart, n - textStart);
  if (isBlankText(preamble_)) preamble_.clear();

  const size_t m = found.size();
  std::vector<std::string> folds;
  for (Loaded& f : found) {
    std::string_view name(buf + f.nameOff, f.nameLen);
    if (!isAsciiText(name)) {
      f.fold = static_cast<int32_t>(folds.size());
      folds.push_back(FoldCase(name));
    }
  }
  auto keyOf = [&](const Loaded& f) {
    return f.fold < 0 ? std::string_view(buf + f.nameOff, f.nameLen) : std::string_view(folds[f.fold]);
  };
  // Saved files are sorted already; anything else is sorted here, repeated headers after the
  // first one of their name, which wins.
  bool sorted = true;
  for (size_t i = 1; i < m && sorted; ++i) sorted = compareKeys(keyOf(found[i - 1]), keyOf(found[i])) < 0;
  struct Ordered {
    uint64_t head;  // the key's first 8 bytes (ASCII letters in lower case), zero-padded
    uint32_t index;
  };
  std::vector<Ordered> order;
  if (!sorted) {
    order.resize(m);
    for (size_t i = 0; i < m; ++i) {
      const std::string_view key = keyOf(found[i]);
      uint64_t head = 0;
      for (size_t b = 0; b < 8; ++b) head = head << 8 | (b < key.size() ? lowerByte(key[b]) : 0u);
      order[i] = {head, static_cast<uint32_t>(i)};
    }
    // Equal keys keep their file order, so the first of repeated headers comes first.
    std::sort(order.begin(), order.end(), [&](const Ordered& a, const Ordered& b) {
      if (a.head != b.head) return a.head < b.head;
      if (int c = compareKeys(keyOf(found[a.index]), keyOf(found[b.index]))) return c < 0;
      return a.index < b.index;
    });
  }
  for (size_t k = 0; k < m; ++k) {
    const Loaded& f = found[sorted ? k : order[k].index];
    const std::string_view key = keyOf(f);
    const std::string_view name(buf + f.nameOff, f.nameLen);
    if (!sections_.empty() && compareKeys(std::prev(sections_.end())->first, key) == 0) {
      // A repeated header: the first one wins, the later copies are written back after it.
      Section& first = std::prev(sections_.end())->second;
      if (!first.repeats) first.repeats = std::make_unique<std::string>();
      std::string& r = *first.repeats;
      r += '[';
      r += name;
      r += "]\r\n";
      forEachLine(std::string_view(buf + f.off, f.len), f.count, [&](std::string_view line) {
        r.append(line);
        r += "\r\n";
      });
      r += "\r\n";
      continue;
    }
    auto it = sections_.emplace_hint(sections_.end(), std::piecewise_construct,
                                     std::forward_as_tuple(f.fold < 0 ? std::string(name) : std::move(folds[f.fold])),
                                     std::forward_as_tuple());
    Section& s = it->second;
    if (it->first != name) s.name = std::make_unique<std::string>(name);
    s.off = f.off;
    s.len = f.len;
    s.count = f.count;
    s.shared = true;
  }
}

const TPXIniBase::Section* TPXIniBase::FindLocked(std::string_view section) const {
  LookupKey key(section);
  auto it = sections_.find(key.view());
  return it == sections_.end() ? nullptr : &it->second;
}

void TPXIniBase::SetText(std::string_view text) {
  std::string copy(text);
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  changes_.clear();
  changes_.push_back(Change{Change::Text, {}, {}, copy});
  ParseLocked(std::move(copy));
  modified_ = true;
}

std::string TPXIniBase::Text() const {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  size_t total = 0;
  for (const auto& e : sections_) total += nameOf(e).size() + linesOf(e.second).size() + e.second.count + 8;
  std::string out;
  out.reserve(total + sections_.size() * 2 + preamble_.size() + 2);
  if (!preamble_.empty()) {
    out += preamble_;
    if (out.back() != '\n' && out.back() != '\r') out += "\r\n";
  }
  for (const auto& e : sections_) {
    const Section& s = e.second;
    out += '[';
    out += nameOf(e);
    out += "]\r\n";
    forEachLine(linesOf(s), s.count, [&](std::string_view line) {
      out.append(line);
      out += "\r\n";
    });
    out += "\r\n";
    if (s.repeats) out += *s.repeats;
  }
  return out;
}

FileStatus TPXIniBase::LoadStatus() const {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  return loadStatus_;
}

bool TPXIniBase::Modified() const {
  std::lock_guard lock(mutex_);
  return modified_;
}

FileStatus TPXIniBase::Reload() {
  std::lock_guard lock(mutex_);
  unread_ = false;
  LoadLocked();
  return loadStatus_;
}

bool TPXIniBase::Damaged() const {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  return damaged_;
}

std::string TPXIniBase::TakeNotice() {
  std::lock_guard lock(mutex_);
  std::string r;
  r.swap(notice_);
  return r;
}

size_t TPXIniBase::SectionCount() const {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  return sections_.size();
}

std::string TPXIniBase::FileName() const { return fileName_; }

std::string TPXIniBase::ReadString(std::string_view section, std::string_view key,
                                   std::string_view def) const {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  const Section* s = FindLocked(section);
  if (!s) return std::string(def);
  std::string result(def);
  bool found = false;
  forEachLine(linesOf(*s), s->count, [&](std::string_view line) {
    if (!found && lineMatchesKey(line, key)) {
      result.assign(line.substr(line.find('=') + 1));
      found = true;
    }
  });
  return result;
}

void TPXIniBase::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Change c{Change::Write, cleanText(section), cleanText(key), cleanText(value)};
  std::lock_guard lock(mutex_);
  if (unread_) {
    modified_ = true;
  } else {
    ApplyWrite(c.section, c.key, c.value);
  }
  changes_.push_back(std::move(c));
}

void TPXIniBase::ApplyWrite(std::string_view section, std::string_view k, std::string_view value) {
  std::string name(section);
  std::string newLine = std::string(k) + "=" + std::string(value);
  std::string sectionKey = mapKeyOf(name);
  auto [it, inserted] = sections_.try_emplace(std::move(sectionKey));
  Section& s = it->second;
  if (inserted && it->first != name) s.name = std::make_unique<std::string>(std::move(name));
  const std::string_view lines = linesOf(s);
  std::string rebuilt;
  rebuilt.reserve(lines.size() + newLine.size() + 1);
  bool replaced = false;
  forEachLine(lines, s.count, [&](std::string_view line) {
    if (!rebuilt.empty() || replaced) rebuilt += '\n';
    if (!replaced && lineMatchesKey(line, k)) {
      rebuilt += newLine;
      replaced = true;
    } else {
      rebuilt.append(line);
    }
  });
  if (!replaced) {
    if (s.count) rebuilt += '\n';
    rebuilt += newLine;
    ++s.count;
  }
  s.own = std::make_unique<std::string>(std::move(rebuilt));
  s.shared = false;
  modified_ = true;
}

void TPXIniBase::ReadSection(std::string_view section, StringList& keys) const {
  keys.clear();
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  const Section* s = FindLocked(section);
  if (!s) return;
  forEachLine(linesOf(*s), s->count, [&](std::string_view line) {
    size_t eq = line.find('=');
    if (eq != std::string_view::npos && eq > 0) keys.emplace_back(line.substr(0, eq));
  });
}

void TPXIniBase::ReadSections(StringList& sections) const {
  sections.clear();
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  sections.reserve(sections_.size());
  for (const auto& e : sections_) sections.emplace_back(nameOf(e));
}

void TPXIniBase::ReadSectionValues(std::string_view section, StringList& lines) const {
  lines.clear();
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  const Section* s = FindLocked(section);
  if (!s) return;
  lines.reserve(s->count);
  forEachLine(linesOf(*s), s->count, [&](std::string_view line) { lines.emplace_back(line); });
}

void TPXIniBase::DeleteKey(std::string_view section, std::string_view key) {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  // Only a change that took effect here is applied again to a newer file: a key this copy
  // never saw is not taken from another writer.
  if (ApplyDeleteKey(section, key))
    changes_.push_back(Change{Change::DeleteKey, std::string(section), std::string(key), {}});
}

bool TPXIniBase::ApplyDeleteKey(std::string_view section, std::string_view key) {
  LookupKey lookup(section);
  auto it = sections_.find(lookup.view());
  if (it == sections_.end()) return false;
  Section& s = it->second;
  std::string rebuilt;
  uint32_t kept = 0;
  bool removed = false;
  forEachLine(linesOf(s), s.count, [&](std::string_view line) {
    if (!removed && lineMatchesKey(line, key)) {
      removed = true;
      return;
    }
    if (kept) rebuilt += '\n';
    rebuilt.append(line);
    ++kept;
  });
  if (!removed) return false;
  s.own = std::make_unique<std::string>(std::move(rebuilt));
  s.shared = false;
  s.count = kept;
  modified_ = true;
  return true;
}

void TPXIniBase::EraseSection(std::string_view section) {
  std::lock_guard lock(mutex_);
  if (unread_) {
    // Whether the file holds the section is told when the change is saved or the file read.
    changes_.push_back(Change{Change::Erase, std::string(section), {}, {}});
    modified_ = true;
    return;
  }
  if (ApplyErase(section)) changes_.push_back(Change{Change::Erase, std::string(section), {}, {}});
}

bool TPXIniBase::ApplyErase(std::string_view section) {
  LookupKey lookup(section);
  auto it = sections_.find(lookup.view());
  if (it == sections_.end()) return false;
  // Later copies of the section go with it: they must not come back as the entry next time.
  sections_.erase(it);
  modified_ = true;
  return true;
}

void TPXIniBase::ReplayLocked(const std::vector<Change>& changes) {
  for (const Change& c : changes) {
    switch (c.op) {
      case Change::Write: ApplyWrite(c.section, c.key, c.value); break;
      case Change::DeleteKey: (void)ApplyDeleteKey(c.section, c.key); break;
      case Change::Erase: (void)ApplyErase(c.section); break;
      case Change::Text: {
        std::string copy = c.value;
        ParseLocked(std::move(copy));
        break;
      }
    }
  }
}

bool TPXIniBase::SectionExists(std::string_view section) const {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  const Section* s = FindLocked(section);
  return s && s->count > 0;
}

bool TPXIniBase::ValueExists(std::string_view section, std::string_view key) const {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  const Section* s = FindLocked(section);
  if (!s) return false;
  bool found = false;
  forEachLine(linesOf(*s), s->count, [&](std::string_view line) {
    if (!found && lineMatchesKey(line, key)) found = true;
  });
  return found;
}

FileStatus TPXIniBase::SaveLocked() {
  if (!modified_) return FileStatus::Ok();
  if (!loadStatus_.ok()) {
    // The file could not be read: writing our partial copy over it would lose its contents.
    return loadStatus_;
  }
  if (fileName_.empty()) return failure("write", fileName_, ENOENT);
  // Held for the read-change-write of the file only.
  FileLock lock;
  if (int err = lock.Lock(fileName_)) {
    // Where no lock file can be made no file can be written either: the save reports that.
    if (err != EACCES && err != EROFS && err != EPERM && err != ENOENT && err != ENOTDIR)
      return failure("lock", fileName_, err);
  }
  if (unread_) {
    bool appended = false;
    FileStatus st = TryAppendLocked(appended);
    if (!st.ok() || appended) return st;
    EnsureLoadedLocked();
    if (!modified_) return FileStatus::Ok();
    if (!loadStatus_.ok()) return loadStatus_;
  }
  if (!(StatLocked() == stamp_)) {
    // Another process saved the file since this copy was read: take its version and make our
    // changes again on top of it.
    std::string text;
    Stamp stamp;
    bool damaged = false;
    FileStatus st = ReadLocked(text, stamp, damaged);
    if (!st.ok() && st.error != ENOENT) return st;
    std::vector<Change> changes = std::move(changes_);
    ParseLocked(std::move(text));
    damaged_ = damaged;
    stamp_ = stamp;
    ReplayLocked(changes);
    changes_ = std::move(changes);
    modified_ = true;
  }
  if (damaged_) {
    FileStatus st = PutAsideLocked();
    if (!st.ok()) return st;
    DropDamagedLinesLocked();
  }
  FileStatus st = SaveFileAtomic(fileName_, Text(), kind_ != Kind::FolderIndex);
  if (st.ok() && !keptAside_.empty()) {
    notice_ = "The index file " + fileName_ + " held text that could not be read. It was kept as " + keptAside_ +
              " and a new index was written in its place.";
    qWarning("%s", notice_.c_str());
    keptAside_.clear();
  }
  if (st.ok()) {
    modified_ = false;
    changes_.clear();
    stamp_ = StatLocked();
  }
  return st;
}

FileStatus TPXIniBase::TryAppendLocked(bool& appended) {
  appended = false;
  // The sections the changes touch, by map key; any other kind of change needs the whole file.
  std::set<std::string, KeyLess> touched;
  for (const Change& c : changes_) {
    if (c.op != Change::Write && c.op != Change::Erase) return FileStatus::Ok();
    touched.insert(mapKeyOf(cleanText(c.section)));
  }
  const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return FileStatus::Ok();  // no file yet (or none we may write): the full save decides
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > kMaxIniFileSize) {
    ::close(fd);
    return FileStatus::Ok();
  }
  // One pass over the file in pieces, memory bounded: none of the touched sections may be in it,
  // and it must be text this program would write back as it is.
  constexpr size_t kPiece = 1 << 20;
  std::string piece;
  std::string carry;  // the unfinished last line of the piece before
  bool clean = true;
  char last = '\n';
  off_t at = 0;
  auto checkLines = [&](std::string_view text) {
    if (looksDamaged(text)) clean = false;
    size_t pos = 0;
    while (clean && pos < text.size()) {
      size_t end = text.find_first_of("\r\n", pos);
      if (end == std::string_view::npos) end = text.size();
      const std::string_view line = text.substr(pos, end - pos);
      pos = end + 1;
      if (line.size() >= 2 && line.front() == '[' && line.back() == ']' &&
          touched.count(mapKeyOf(line.substr(1, line.size() - 2))))
        clean = false;
    }
  };
  while (clean && at < st.st_size) {
    piece.resize(kPiece);
    const ssize_t n = ::pread(fd, piece.data(), kPiece, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      clean = false;
      break;
    }
    piece.resize(size_t(n));
    if (at == 0 && piece.size() >= 2 &&
        ((piece[0] == '\xFF' && piece[1] == '\xFE') || (piece[0] == '\xFE' && piece[1] == '\xFF')))
      clean = false;  // UTF-16: rewritten as 8-bit text by the full save
    at += n;
    last = piece.back();
    const size_t cut = piece.find_last_of("\r\n");
    if (cut == std::string::npos) {
      carry += piece;
      continue;
    }
    carry.append(piece, 0, cut + 1);
    checkLines(carry);
    carry.assign(piece, cut + 1, std::string::npos);
  }
  ::close(fd);
  if (clean && !carry.empty()) checkLines(carry);
  if (!clean || at != st.st_size) return FileStatus::Ok();

  // The new sections as the full save would write them, made from the recorded changes.
  ReplayLocked(changes_);
  std::string text = st.st_size > 0 && last != '\n' && last != '\r' ? "\r\n" : "";
  unread_ = false;  // Text() of just the new sections, without reading the file
  text += Text();
  unread_ = true;
  sections_.clear();
  if (text.empty() || text == "\r\n") {
    // The changes only erased sections the file does not hold: nothing to write.
    changes_.clear();
    modified_ = false;
    appended = true;
    return FileStatus::Ok();
  }
  const int out = ::open(fileName_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
  if (out < 0) return failure("write", fileName_, errno);
  int err = 0;
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(out, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += size_t(n);
  }
  if (!err && ::fdatasync(out) != 0) err = errno;
  if (err) {
    // A full disk: what was written of the new sections goes again, the file stays as it was.
    (void)::ftruncate(out, st.st_size);
    ::close(out);
    return failure("write", fileName_, err);
  }
  if (::close(out) != 0) return failure("write", fileName_, errno);
  changes_.clear();
  modified_ = false;
  appended = true;
  return FileStatus::Ok();
}

void TPXIniBase::DropDamagedLinesLocked() {
  // The original is kept aside: the new index takes only what was understood.
  if (looksDamaged(preamble_)) preamble_.clear();
  for (auto& [key, s] : sections_) {
    if (s.repeats && looksDamaged(*s.repeats)) s.repeats.reset();
    std::string kept;
    uint32_t count = 0;
    bool dropped = false;
    forEachLine(linesOf(s), s.count, [&](std::string_view line) {
      if (!looksDamaged(line)) {
        if (count++) kept += '\n';
        kept.append(line);
        return;
      }
      dropped = true;
      // A key=value line keeps its value: NUL bytes at its end go (a zeroed tail), the others
      // become blanks, as a writer makes them. Any other damaged line goes.
      const size_t eq = line.find('=');
      if (eq == std::string_view::npos || eq == 0 || line.substr(0, eq).find('\0') != std::string_view::npos)
        return;
      std::string fixed(line);
      while (!fixed.empty() && fixed.back() == '\0') fixed.pop_back();
      std::replace(fixed.begin(), fixed.end(), '\0', ' ');
      if (looksDamaged(fixed)) return;
      if (count++) kept += '\n';
      kept += fixed;
    });
    if (!dropped) continue;
    s.own = std::make_unique<std::string>(std::move(kept));
    s.shared = false;
    s.count = count;
  }
  // A header with NUL in its name: the name is written with blanks in their place, as every
  // name is, unless an entry of that name is there already (the original is kept aside).
  std::vector<std::string> nulNamed;
  for (const auto& e : sections_)
    if (nameOf(e).find('\0') != std::string_view::npos) nulNamed.push_back(e.first);
  for (const auto& key : nulNamed) {
    auto node = sections_.extract(key);
    const std::string clean = cleanText(node.mapped().name ? *node.mapped().name : node.key());
    const std::string cleanKey = mapKeyOf(clean);
    if (sections_.count(cleanKey)) continue;  // dropped with the node
    node.mapped().name = cleanKey != clean ? std::make_unique<std::string>(clean) : nullptr;
    if (node.mapped().repeats && looksDamaged(*node.mapped().repeats)) node.mapped().repeats.reset();
    node.key() = cleanKey;
    sections_.insert(std::move(node));
  }
}

FileStatus TPXIniBase::PutAsideLocked() {
  char date[16] = {};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  const std::string base = fileName_ + ".damaged-" + date;
  for (int i = 1;; ++i) {
    const std::string aside = i == 1 ? base : base + "-" + std::to_string(i);
    // A second name for the same file: the original stays in its place until the new index
    // replaces it in one step, so a save that fails now (a full disk) leaves the folder with
    // its index as it was, never with none.
    int err = ::link(fileName_.c_str(), aside.c_str()) == 0 ? 0 : errno;
    if (err == EEXIST) {
      // Kept already by a save that could not write the new file: that copy serves.
      struct stat live{}, kept{};
      if (::lstat(fileName_.c_str(), &live) == 0 && ::lstat(aside.c_str(), &kept) == 0 &&
          live.st_dev == kept.st_dev && live.st_ino == kept.st_ino)
        err = 0;
    }
    // A file system without hard links: moved aside instead (the save follows at once).
    if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == EMLINK) err = RenameNoReplace(fileName_, aside);
    if (err == EEXIST && i < 1000) continue;
    if (err == ENOENT) break;  // gone meanwhile: nothing left to keep
    if (err) return failure("keep aside", fileName_, err);
    (void)SyncFolderOf(fileName_);
    keptAside_ = aside;
    break;
  }
  damaged_ = false;
  stamp_ = StatLocked();
  return FileStatus::Ok();
}

FileStatus TPXIniBase::UpdateFile() {
  std::lock_guard lock(mutex_);
  return SaveLocked();
}

void TPXIniBase::GetStrings(StringList& out) const {
  out.clear();
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  for (const auto& e : sections_) {
    out.push_back("[" + std::string(nameOf(e)) + "]");
    forEachLine(linesOf(e.second), e.second.count, [&](std::string_view line) { out.emplace_back(line); });
    out.emplace_back();
  }
}

void TPXIniBase::ForEachSection(
    const std::function<void(std::string_view, std::span<const std::string_view>)>& fn) const {
  std::lock_guard lock(mutex_);
  EnsureLoadedLocked();
  std::vector<std::string_view> lines;
  for (const auto& e : sections_) {
    lines.clear();
    forEachLine(linesOf(e.second), e.second.count, [&](std::string_view line) { lines.push_back(line); });
    fn(nameOf(e), std::span<const std::string_view>(lines));
  }
}

}  // namespace px
