#include "store/ini_file.h"

#include "foundation/text_case.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <system_error>

namespace px::store {
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

// Folded lookup key of a section name, cleaned the way the writers clean names.
std::string sectionKey(std::string_view section) {
  return hasBreaks(section) ? FoldCase(cleanText(section)) : FoldCase(section);
}

// Splits a section's joined lines; calls fn(line) for each.
template <typename Fn>
void forEachLine(const std::string& joined, uint32_t count, Fn&& fn) {
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
// File names

bool IsIndexFileName(std::string_view fileName) { return SameText(fileName, kIndexFileName); }

std::string IndexPathOf(std::string_view folder) {
  std::string dir(folder);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  std::string exact = dir + std::string(kIndexFileName);
  struct stat st;
  if (::stat(exact.c_str(), &st) == 0) return exact;
  // Indexes copied from other systems may carry another letter case.
  for (const char* variant : {"PLUMADEX.INI", "plumadex.ini", "Plumadex.INI", "PlumaDex.ini"}) {
    std::string p = dir + variant;
    if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return p;
  }
  return exact;
}

// ---------------------------------------------------------------------------------------------
// TPXIniBase

TPXIniBase::TPXIniBase(std::string path) : fileName_(std::move(path)) {
  std::lock_guard lock(mutex_);
  loadLocked();
}

TPXIniBase::~TPXIniBase() = default;

void TPXIniBase::loadLocked() {
  sections_.clear();
  modified_ = false;
  loadStatus_ = IniStatus::Ok();
  std::string text;
  IniStatus st = ReadWholeFile(fileName_, text, kMaxIniFileSize);
  if (st.error == ENOENT) return;  // a missing index reads as empty
  if (!st.ok()) {
    loadStatus_ = st;
    qWarning("%s", st.message.c_str());
    return;
  }
  parseLocked(text);
}

void TPXIniBase::parseLocked(std::string_view text) {
  sections_.clear();
  // A file saved by a text editor may start with a UTF-8 byte order mark; without this the
  // first header would not be seen and its section lost on the next save.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  Section* cur = nullptr;   // null before the first header and under a repeated header
  std::string body;         // lines of the current section, assigned once it is complete
  uint32_t count = 0;
  auto finish = [&] {
    if (cur) {
      cur->lines.assign(body);  // exact-size copy keeps big indexes compact
      cur->count = count;
    }
    body.clear();
    count = 0;
  };
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    size_t end = pos;
    while (end < n && text[end] != '\r' && text[end] != '\n') ++end;
    std::string_view line = text.substr(pos, end - pos);
    pos = end;
    if (pos < n) {
      if (text[pos] == '\r' && pos + 1 < n && text[pos + 1] == '\n') pos += 2;
      else ++pos;
    }
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      finish();
      std::string_view name = line.substr(1, line.size() - 2);
      std::string folded = FoldCase(name);
      // Sections are usually saved sorted: inserting at the end is then constant time.
      size_t before = sections_.size();
      auto it = sections_.try_emplace(sections_.end(), std::move(folded));
      if (sections_.size() != before) {
        it->second.name.assign(name);
        cur = &it->second;
      } else {
        cur = nullptr;  // a repeated header: the first one wins, these lines are dropped
      }
      continue;
    }
    if (!cur) continue;
    if (count) body += '\n';
    body.append(line);
    ++count;
  }
  finish();
}

const TPXIniBase::Section* TPXIniBase::findLocked(std::string_view section) const {
  auto it = sections_.find(sectionKey(section));
  return it == sections_.end() ? nullptr : &it->second;
}

void TPXIniBase::SetText(std::string_view text) {
  std::lock_guard lock(mutex_);
  parseLocked(text);
  modified_ = true;
}

std::string TPXIniBase::Text() const {
  std::lock_guard lock(mutex_);
  size_t total = 0;
  for (const auto& [k, s] : sections_) total += s.name.size() + s.lines.size() + s.count + 8;
  std::string out;
  out.reserve(total + sections_.size() * 2);
  for (const auto& [k, s] : sections_) {
    out += '[';
    out += s.name;
    out += "]\r\n";
    forEachLine(s.lines, s.count, [&](std::string_view line) {
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
  forEachLine(s->lines, s->count, [&](std::string_view line) {
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
  std::lock_guard lock(mutex_);
  auto [it, inserted] = sections_.try_emplace(FoldCase(name));
  Section& s = it->second;
  if (inserted) s.name = std::move(name);
  std::string rebuilt;
  rebuilt.reserve(s.lines.size() + newLine.size() + 1);
  bool replaced = false;
  forEachLine(s.lines, s.count, [&](std::string_view line) {
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
  s.lines = std::move(rebuilt);
  modified_ = true;
}

void TPXIniBase::ReadSection(std::string_view section, StringList& keys) const {
  keys.clear();
  std::lock_guard lock(mutex_);
  const Section* s = findLocked(section);
  if (!s) return;
  forEachLine(s->lines, s->count, [&](std::string_view line) {
    size_t eq = line.find('=');
    if (eq != std::string_view::npos && eq > 0) keys.emplace_back(line.substr(0, eq));
  });
}

void TPXIniBase::ReadSections(StringList& sections) const {
  sections.clear();
  std::lock_guard lock(mutex_);
  sections.reserve(sections_.size());
  for (const auto& [k, s] : sections_) sections.push_back(s.name);
}

void TPXIniBase::ReadSectionValues(std::string_view section, StringList& lines) const {
  lines.clear();
  std::lock_guard lock(mutex_);
  const Section* s = findLocked(section);
  if (!s) return;
  lines.reserve(s->count);
  forEachLine(s->lines, s->count, [&](std::string_view line) { lines.emplace_back(line); });
}

void TPXIniBase::DeleteKey(std::string_view section, std::string_view key) {
  std::lock_guard lock(mutex_);
  auto it = sections_.find(sectionKey(section));
  if (it == sections_.end()) return;
  Section& s = it->second;
  std::string rebuilt;
  uint32_t kept = 0;
  bool removed = false;
  forEachLine(s.lines, s.count, [&](std::string_view line) {
    if (!removed && lineMatchesKey(line, key)) {
      removed = true;
      return;
    }
    if (kept) rebuilt += '\n';
    rebuilt.append(line);
    ++kept;
  });
  if (!removed) return;
  s.lines = std::move(rebuilt);
  s.count = kept;
  modified_ = true;
}

void TPXIniBase::EraseSection(std::string_view section) {
  std::lock_guard lock(mutex_);
  if (sections_.erase(sectionKey(section))) modified_ = true;
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
  forEachLine(s->lines, s->count, [&](std::string_view line) {
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
  IniStatus st = SaveFileAtomic(fileName_, Text());
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
  for (const auto& [k, s] : sections_) {
    out.push_back("[" + s.name + "]");
    forEachLine(s.lines, s.count, [&](std::string_view line) { out.emplace_back(line); });
    out.emplace_back();
  }
}

void TPXIniBase::ForEachSection(
    const std::function<void(std::string_view, std::span<const std::string_view>)>& fn) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string_view> lines;
  for (const auto& [k, s] : sections_) {
    lines.clear();
    forEachLine(s.lines, s.count, [&](std::string_view line) { lines.push_back(line); });
    fn(s.name, std::span<const std::string_view>(lines));
  }
}

// ---------------------------------------------------------------------------------------------
// IniRegistry

IniRegistry::IniRegistry() = default;

IniRegistry::~IniRegistry() {
  // Handles outlive the registry only by mistake; save what they changed.
  std::lock_guard lock(mutex_);
  for (auto& [k, base] : open_) {
    std::lock_guard blk(base->mutex_);
    IniStatus st = base->saveLocked();
    if (!st.ok()) qWarning("%s", st.message.c_str());
  }
}

std::string IniRegistry::keyOf(std::string_view path) const {
  std::string p = std::filesystem::path(path).lexically_normal().string();
  size_t slash = p.rfind('/');
  std::string_view name = slash == std::string::npos ? std::string_view(p) : std::string_view(p).substr(slash + 1);
  // Folders keep their case (Linux names are case-sensitive); the index name itself does not.
  if (IsIndexFileName(name)) p = p.substr(0, p.size() - name.size()) + std::string(kIndexFileName);
  return p;
}

void IniRegistry::SetAlias(std::string_view indexPath, std::string_view target) {
  std::lock_guard lock(mutex_);
  aliases_[keyOf(indexPath)] = std::string(target);
}

void IniRegistry::RemoveAlias(std::string_view indexPath) {
  std::lock_guard lock(mutex_);
  aliases_.erase(keyOf(indexPath));
}

std::string IniRegistry::MapPath(std::string_view indexPath) const {
  std::lock_guard lock(mutex_);
  auto it = aliases_.find(keyOf(indexPath));
  return it == aliases_.end() ? std::string(indexPath) : it->second;
}

void IniRegistry::SetDesktopAlias(std::string_view desktopFolder, std::string_view dataRoot) {
  std::string folder(desktopFolder);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::string root(dataRoot);
  if (!root.empty() && root.back() != '/') root += '/';
  SetAlias(folder + std::string(kIndexFileName), root + std::string(kDesktopIndexName));
}

size_t IniRegistry::OpenCount() const {
  std::lock_guard lock(mutex_);
  return open_.size();
}

bool IniRegistry::IsOpen(std::string_view indexPath) const {
  std::lock_guard lock(mutex_);
  auto a = aliases_.find(keyOf(indexPath));
  std::string real = a == aliases_.end() ? std::string(indexPath) : a->second;
  return open_.count(keyOf(real)) > 0;
}

std::shared_ptr<TPXIniBase> IniRegistry::acquire(std::string_view path) {
  std::lock_guard lock(mutex_);
  auto a = aliases_.find(keyOf(path));
  std::string real = a == aliases_.end() ? std::string(path) : a->second;
  std::string key = keyOf(real);
  auto it = open_.find(key);
  if (it == open_.end()) {
    // Loading under the registry lock: a second opener must not read a half-saved file.
    it = open_.emplace(key, std::make_shared<TPXIniBase>(real)).first;
  }
  ++it->second->refCount_;
  return it->second;
}

std::vector<IniStatus> IniRegistry::TakeSaveErrors() {
  std::lock_guard lock(mutex_);
  std::vector<IniStatus> r;
  r.swap(saveErrors_);
  return r;
}

IniStatus IniRegistry::release(const std::shared_ptr<TPXIniBase>& base, bool fromDestructor) {
  std::lock_guard lock(mutex_);
  IniStatus st;
  {
    std::lock_guard blk(base->mutex_);
    st = base->saveLocked();
  }
  if (--base->refCount_ <= 0) {
    auto it = open_.find(keyOf(base->fileName_));
    if (it != open_.end() && it->second == base) open_.erase(it);
  }
  if (!st.ok() && fromDestructor) {
    qWarning("%s", st.message.c_str());
    saveErrors_.push_back(st);
  }
  return st;
}

// ---------------------------------------------------------------------------------------------
// TPXIniFile

TPXIniFile::TPXIniFile(IniRegistry& registry, std::string_view path)
    : registry_(&registry), base_(registry.acquire(path)) {}

TPXIniFile::~TPXIniFile() {
  if (base_) registry_->release(base_, true);
}

IniStatus TPXIniFile::Release() {
  if (!base_) return IniStatus::Ok();
  IniStatus st = registry_->release(base_, false);
  base_.reset();
  if (!st.ok()) lastError_ = st;
  return st;
}

IniStatus TPXIniFile::LoadStatus() const { return base_ ? base_->LoadStatus() : IniStatus::Ok(); }

std::string TPXIniFile::FileName() const { return base_ ? base_->FileName() : std::string(); }

std::string TPXIniFile::ReadString(std::string_view section, std::string_view key,
                                   std::string_view def) const {
  return base_ ? base_->ReadString(section, key, def) : std::string(def);
}

void TPXIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (base_) base_->WriteString(section, key, value);
}

void TPXIniFile::ReadSection(std::string_view section, StringList& keys) const {
  if (base_) base_->ReadSection(section, keys);
  else keys.clear();
}

void TPXIniFile::ReadSections(StringList& sections) const {
  if (base_) base_->ReadSections(sections);
  else sections.clear();
}

void TPXIniFile::ReadSectionValues(std::string_view section, StringList& lines) const {
  if (base_) base_->ReadSectionValues(section, lines);
  else lines.clear();
}

void TPXIniFile::DeleteKey(std::string_view section, std::string_view key) {
  if (base_) base_->DeleteKey(section, key);
}

void TPXIniFile::EraseSection(std::string_view section) {
  if (base_) base_->EraseSection(section);
}

bool TPXIniFile::SectionExists(std::string_view section) const {
  return base_ && base_->SectionExists(section);
}

bool TPXIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return base_ && base_->ValueExists(section, key);
}

IniStatus TPXIniFile::UpdateFile() {
  if (!base_) return IniStatus::Ok();
  IniStatus st = base_->UpdateFile();
  if (!st.ok()) lastError_ = st;
  return st;
}

void TPXIniFile::GetStrings(StringList& out) const {
  if (base_) base_->GetStrings(out);
  else out.clear();
}

void TPXIniFile::ForEachSection(
    const std::function<void(std::string_view, std::span<const std::string_view>)>& fn) const {
  if (base_) base_->ForEachSection(fn);
}

}  // namespace px::store
