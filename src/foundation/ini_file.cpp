#include "foundation/ini_file.h"

#include "foundation/text_case.h"

#include <QDebug>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <system_error>

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

}  // namespace

// ---------------------------------------------------------------------------------------------
// TPXIniBase

TPXIniBase::TPXIniBase(std::string path) : fileName_(std::move(path)) {
  std::lock_guard lock(mutex_);
  loadLocked();
}

TPXIniBase::TPXIniBase(std::string path, Kind kind) : fileName_(std::move(path)), kind_(kind) {
  std::lock_guard lock(mutex_);
  loadLocked();
}

TPXIniBase::~TPXIniBase() = default;

bool TPXIniBase::KeyLess::operator()(std::string_view a, std::string_view b) const {
  return compareKeys(a, b) < 0;
}

void TPXIniBase::loadLocked() {
  sections_.clear();
  loaded_.clear();
  loaded_.shrink_to_fit();
  modified_ = false;
  loadStatus_ = IniStatus::Ok();
  std::string text;
  IniStatus st = ReadWholeFile(fileName_, text, kMaxIniFileSize, kind_ == Kind::FolderIndex);
  if (st.error == ENOENT) return;  // a missing index reads as empty
  if (!st.ok()) {
    loadStatus_ = st;
    qWarning("%s", st.message.c_str());
    return;
  }
  // Editors on other systems save INI files as UTF-16 with a byte order mark; the program keeps
  // them as 8-bit text (UTF-8), the form they are written back in.
  if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
    QStringDecoder decode(text[0] == '\xFF' ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    const QString wide = decode(QByteArrayView(text.data() + 2, static_cast<qsizetype>(text.size() - 2)));
    text = wide.toStdString();
  }
  parseLocked(std::move(text));
}

void TPXIniBase::parseLocked(std::string&& text) {
  sections_.clear();
  // The lines are compacted within the text itself (never moving forward): each section's
  // lines joined by '\n', each header's name before them. Sections refer to their range.
  loaded_ = std::move(text);
  char* const buf = loaded_.data();
  const size_t n = loaded_.size();
  size_t pos = 0;
  // A file saved by a text editor may start with a UTF-8 byte order mark; without this the
  // first header would not be seen and its section lost on the next save.
  if (n >= 3 && std::memcmp(buf, "\xEF\xBB\xBF", 3) == 0) pos = 3;
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
    if (!sections_.empty() && compareKeys(std::prev(sections_.end())->first, key) == 0) continue;
    const std::string_view name(buf + f.nameOff, f.nameLen);
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

const TPXIniBase::Section* TPXIniBase::findLocked(std::string_view section) const {
  LookupKey key(section);
  auto it = sections_.find(key.view());
  return it == sections_.end() ? nullptr : &it->second;
}

void TPXIniBase::SetText(std::string_view text) {
  std::string copy(text);
  std::lock_guard lock(mutex_);
  parseLocked(std::move(copy));
  modified_ = true;
}

std::string TPXIniBase::Text() const {
  std::lock_guard lock(mutex_);
  size_t total = 0;
  for (const auto& e : sections_) total += nameOf(e).size() + linesOf(e.second).size() + e.second.count + 8;
  std::string out;
  out.reserve(total + sections_.size() * 2);
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
  }
  return out;
}

IniStatus TPXIniBase::LoadStatus() const {
  std::lock_guard lock(mutex_);
  return loadStatus_;
}

bool TPXIniBase::Modified() const {
  std::lock_guard lock(mutex_);
  return modified_;
}

IniStatus TPXIniBase::Reload() {
  std::lock_guard lock(mutex_);
  loadLocked();
  return loadStatus_;
}

size_t TPXIniBase::SectionCount() const {
  std::lock_guard lock(mutex_);
  return sections_.size();
}

std::string TPXIniBase::FileName() const { return fileName_; }

std::string TPXIniBase::ReadString(std::string_view section, std::string_view key,
                                   std::string_view def) const {
  std::lock_guard lock(mutex_);
  const Section* s = findLocked(section);
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
  std::string name = cleanText(section);
  std::string k = cleanText(key);
  std::string newLine = k + "=" + cleanText(value);
  std::string sectionKey = mapKeyOf(name);
  std::lock_guard lock(mutex_);
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
  const Section* s = findLocked(section);
  if (!s) return;
  forEachLine(linesOf(*s), s->count, [&](std::string_view line) {
    size_t eq = line.find('=');
    if (eq != std::string_view::npos && eq > 0) keys.emplace_back(line.substr(0, eq));
  });
}

void TPXIniBase::ReadSections(StringList& sections) const {
  sections.clear();
  std::lock_guard lock(mutex_);
  sections.reserve(sections_.size());
  for (const auto& e : sections_) sections.emplace_back(nameOf(e));
}

void TPXIniBase::ReadSectionValues(std::string_view section, StringList& lines) const {
  lines.clear();
  std::lock_guard lock(mutex_);
  const Section* s = findLocked(section);
  if (!s) return;
  lines.reserve(s->count);
  forEachLine(linesOf(*s), s->count, [&](std::string_view line) { lines.emplace_back(line); });
}

void TPXIniBase::DeleteKey(std::string_view section, std::string_view key) {
  std::lock_guard lock(mutex_);
  LookupKey lookup(section);
  auto it = sections_.find(lookup.view());
  if (it == sections_.end()) return;
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
  if (!removed) return;
  s.own = std::make_unique<std::string>(std::move(rebuilt));
  s.shared = false;
  s.count = kept;
  modified_ = true;
}

void TPXIniBase::EraseSection(std::string_view section) {
  std::lock_guard lock(mutex_);
  LookupKey lookup(section);
  auto it = sections_.find(lookup.view());
  if (it == sections_.end()) return;
  sections_.erase(it);
  modified_ = true;
}

bool TPXIniBase::SectionExists(std::string_view section) const {
  std::lock_guard lock(mutex_);
  const Section* s = findLocked(section);
  return s && s->count > 0;
}

bool TPXIniBase::ValueExists(std::string_view section, std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Section* s = findLocked(section);
  if (!s) return false;
  bool found = false;
  forEachLine(linesOf(*s), s->count, [&](std::string_view line) {
    if (!found && lineMatchesKey(line, key)) found = true;
  });
  return found;
}

IniStatus TPXIniBase::saveLocked() {
  if (!modified_) return IniStatus::Ok();
  if (!loadStatus_.ok()) {
    // The file could not be read: writing our partial copy over it would lose its contents.
    return loadStatus_;
  }
  IniStatus st = SaveFileAtomic(fileName_, Text(), kind_ != Kind::FolderIndex);
  if (st.ok()) modified_ = false;
  return st;
}

IniStatus TPXIniBase::UpdateFile() {
  std::lock_guard lock(mutex_);
  return saveLocked();
}

void TPXIniBase::GetStrings(StringList& out) const {
  out.clear();
  std::lock_guard lock(mutex_);
  for (const auto& e : sections_) {
    out.push_back("[" + std::string(nameOf(e)) + "]");
    forEachLine(linesOf(e.second), e.second.count, [&](std::string_view line) { out.emplace_back(line); });
    out.emplace_back();
  }
}

void TPXIniBase::ForEachSection(
    const std::function<void(std::string_view, std::span<const std::string_view>)>& fn) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string_view> lines;
  for (const auto& e : sections_) {
    lines.clear();
    forEachLine(linesOf(e.second), e.second.count, [&](std::string_view line) { lines.push_back(line); });
    fn(nameOf(e), std::span<const std::string_view>(lines));
  }
}

}  // namespace px
