#include "store/unread_list.h"

#include <charconv>
#include <cstdint>
#include <sys/stat.h>

namespace px::store {

std::string UnreadKeyOf(std::string_view folder) {
  std::string key(folder);
  // A foreign (Windows) path keeps its own separator.
  if (!key.empty() && key.back() != '/' && key.back() != '\\') key += '/';
  return key;
}

namespace {

bool folderExists(const std::string& key) {
  std::string path = key;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool parseCount(std::string_view text, int64_t& out) {
  if (text.empty()) return false;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && p == text.data() + text.size();
}

}  // namespace

void UnreadList::Load(const std::string& file) { LoadLines(ReadListFile(file)); }

void UnreadList::LoadLines(const StringList& lines) {
  counts_.clear();
  changed_ = false;
  for (const auto& line : lines) {
    const size_t eq = line.rfind('=');
    if (eq == std::string::npos || eq == 0) continue;
    int64_t n = 0;
    // The stored form is a 32-bit number: anything larger is not a count (and could overflow
    // the totals).
    if (!parseCount(std::string_view(line).substr(eq + 1), n) || n <= 0 || n > INT32_MAX) continue;
    // A line written by hand may lack the final separator; the key form always has it.
    std::string key = UnreadKeyOf(std::string_view(line).substr(0, eq));
    // A path this program cannot check (a Windows path from an old file) is kept as it stands;
    // only a folder known to be gone loses its line.
    if (key.front() == '/' && !folderExists(key)) continue;
    counts_.emplace(std::move(key), n);  // the first line of a folder wins
  }
}

FileStatus UnreadList::Save(const std::string& file, bool force) {
  if (!changed_ && !force) return {};
  StringList lines;
  lines.reserve(counts_.size());
  for (const auto& [folder, n] : counts_) lines.push_back(folder + "=" + std::to_string(n));
  FileStatus st = SaveListFile(file, lines);
  if (st.ok()) changed_ = false;
  return st;
}

UnreadCount UnreadList::GetUnreadCount(std::string_view folder) const {
  const std::string key = UnreadKeyOf(folder);
  UnreadCount c;
  if (key.empty()) return c;
  for (auto it = counts_.lower_bound(key); it != counts_.end(); ++it) {
    if (it->first.compare(0, key.size(), key) != 0) break;
    if (it->first.size() == key.size()) c.own = it->second;
    c.total += it->second;
  }
  return c;
}

void UnreadList::ChangeUnreadCount(std::string_view folder, int64_t value, bool relative) {
  const std::string key = UnreadKeyOf(folder);
  if (key.empty()) return;
  auto it = counts_.find(key);
  if (it == counts_.end()) {
    if (relative && value < 0) return;
    if (!relative && value <= 0) return;  // nothing to record and nothing changes
    it = counts_.emplace(key, 0).first;
  }
  const int64_t next = relative ? it->second + value : value;
  if (next == it->second) return;
  if (next <= 0) counts_.erase(it);
  else it->second = next;
  changed_ = true;
  notify(key);
}

void UnreadList::MoveFolder(std::string_view oldFolder, std::string_view newFolder) {
  const std::string from = UnreadKeyOf(oldFolder), to = UnreadKeyOf(newFolder);
  if (from.empty() || to.empty() || from == to) return;
  std::map<std::string, int64_t> moved;
  for (auto it = counts_.lower_bound(from); it != counts_.end();) {
    if (it->first.compare(0, from.size(), from) != 0) break;
    moved.emplace(to + it->first.substr(from.size()), it->second);
    it = counts_.erase(it);
  }
  if (moved.empty()) return;
  for (auto& [k, n] : moved) counts_[k] += n;
  changed_ = true;
  notify(from);
  notify(to);
}

void UnreadList::CopyFolder(std::string_view sourceFolder, std::string_view copyFolder) {
  const std::string from = UnreadKeyOf(sourceFolder), to = UnreadKeyOf(copyFolder);
  if (from.empty() || to.empty() || from == to) return;
  std::map<std::string, int64_t> copied;
  for (auto it = counts_.lower_bound(from); it != counts_.end(); ++it) {
    if (it->first.compare(0, from.size(), from) != 0) break;
    copied.emplace(to + it->first.substr(from.size()), it->second);
  }
  if (copied.empty()) return;
  for (auto& [k, n] : copied) counts_[k] += n;
  changed_ = true;
  notify(to);
}

void UnreadList::ResetTree(std::string_view folder) {
  const std::string key = UnreadKeyOf(folder);
  if (key.empty()) return;
  bool any = false;
  for (auto it = counts_.lower_bound(key); it != counts_.end();) {
    if (it->first.compare(0, key.size(), key) != 0) break;
    it = counts_.erase(it);
    any = true;
  }
  if (!any) return;
  changed_ = true;
  notify(key);
}

void UnreadList::notify(const std::string& folder) const {
  if (refresh_) refresh_(folder);
}

}  // namespace px::store
