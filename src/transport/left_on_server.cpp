#include "transport/left_on_server.h"

#include <algorithm>

#include "store/list_file.h"

namespace px::transport {

void LeftOnServerList::SetPath(std::string path) {
  std::lock_guard lock(mutex_);
  path_ = std::move(path);
}

void LeftOnServerList::LoadIfNeeded() {
  std::lock_guard lock(mutex_);
  if (loaded_) return;
  lines_ = path_.empty() ? StringList{} : store::ReadListFile(path_);
  std::erase_if(lines_, [](const std::string& l) { return l.empty(); });
  std::sort(lines_.begin(), lines_.end());
  lines_.erase(std::unique(lines_.begin(), lines_.end()), lines_.end());
  loaded_ = true;
  modified_ = false;
}

bool LeftOnServerList::loaded() const {
  std::lock_guard lock(mutex_);
  return loaded_;
}

bool LeftOnServerList::modified() const {
  std::lock_guard lock(mutex_);
  return modified_;
}

bool LeftOnServerList::SaveIfModified(std::string* error) {
  std::lock_guard lock(mutex_);
  if (!modified_ || path_.empty()) return true;
  auto st = store::SaveListFile(path_, lines_);
  if (!st.ok()) {
    if (error) *error = st.message;
    return false;
  }
  modified_ = false;
  return true;
}

void LeftOnServerList::Release() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  lines_.shrink_to_fit();
  loaded_ = false;
  modified_ = false;
}

bool LeftOnServerList::Contains(std::string_view line) const {
  std::lock_guard lock(mutex_);
  return std::binary_search(lines_.begin(), lines_.end(), line, std::less<>());
}

void LeftOnServerList::Add(std::string_view line) {
  if (line.empty()) return;
  std::lock_guard lock(mutex_);
  auto it = std::lower_bound(lines_.begin(), lines_.end(), line, std::less<>());
  if (it != lines_.end() && *it == line) return;
  lines_.insert(it, std::string(line));
  modified_ = true;
}

void LeftOnServerList::Remove(std::string_view line) {
  std::lock_guard lock(mutex_);
  auto it = std::lower_bound(lines_.begin(), lines_.end(), line, std::less<>());
  if (it == lines_.end() || *it != line) return;
  lines_.erase(it);
  modified_ = true;
}

size_t LeftOnServerList::RemovePrefix(std::string_view prefix) {
  std::lock_guard lock(mutex_);
  auto first = std::lower_bound(lines_.begin(), lines_.end(), prefix, std::less<>());
  auto last = first;
  while (last != lines_.end() && std::string_view(*last).starts_with(prefix)) ++last;
  size_t n = static_cast<size_t>(last - first);
  if (n) {
    lines_.erase(first, last);
    modified_ = true;
  }
  return n;
}

StringList LeftOnServerList::WithPrefix(std::string_view prefix) const {
  std::lock_guard lock(mutex_);
  StringList r;
  for (auto it = std::lower_bound(lines_.begin(), lines_.end(), prefix, std::less<>());
       it != lines_.end() && std::string_view(*it).starts_with(prefix); ++it)
    r.push_back(*it);
  return r;
}

size_t LeftOnServerList::ReplacePrefix(std::string_view from, std::string_view to) {
  if (from == to) return 0;
  StringList moved = WithPrefix(from);
  if (moved.empty()) return 0;
  std::lock_guard lock(mutex_);
  auto first = std::lower_bound(lines_.begin(), lines_.end(), from, std::less<>());
  lines_.erase(first, first + static_cast<std::ptrdiff_t>(moved.size()));
  for (auto& l : moved) lines_.push_back(std::string(to) + l.substr(from.size()));
  std::sort(lines_.begin(), lines_.end());
  lines_.erase(std::unique(lines_.begin(), lines_.end()), lines_.end());
  modified_ = true;
  return moved.size();
}

size_t LeftOnServerList::size() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

}  // namespace px::transport
