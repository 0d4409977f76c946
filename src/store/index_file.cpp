#include "store/index_file.h"

#include "foundation/text_case.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <system_error>

namespace px::store {
namespace {

inline unsigned char lowerByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + 32) : u;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// File names

bool IsIndexFileName(std::string_view fileName) {
  // Only ASCII text folds to this name (non-ASCII letters fold to ASCII only as text with
  // "f", "k" or "s", which it lacks), so no name of another length can be it.
  if (fileName.size() != kIndexFileName.size()) return false;
  for (size_t i = 0; i < fileName.size(); ++i)
    if (lowerByte(fileName[i]) != lowerByte(kIndexFileName[i])) return false;
  return true;
}

std::string IndexPathOf(std::string_view folder) {
  std::string dir(folder);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  std::string exact = dir + std::string(kIndexFileName);
  struct stat st;
  if (::stat(exact.c_str(), &st) == 0) return exact;
  // Indexes copied from other systems may carry any letter case: look at the folder itself,
  // so that such a file is read and updated instead of getting a second index beside it.
  // Several spellings in one folder: a regular file wins, then the first name in order. A
  // spelling that is no regular file is still returned, so that opening it fails instead of
  // writing a second index beside it.
  std::string found;
  bool foundRegular = false;
  if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      if (!IsIndexFileName(e->d_name)) continue;
      const std::string p = dir + e->d_name;
      const bool regular = ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
      if (found.empty() || (regular && !foundRegular) || (regular == foundRegular && p < found)) {
        found = p;
        foundRegular = regular;
      }
    }
    ::closedir(d);
  }
  return found.empty() ? exact : found;
}

// ---------------------------------------------------------------------------------------------
// IniRegistry

IniRegistry::IniRegistry() = default;

IniRegistry::~IniRegistry() {
  // Handles outlive the registry only by mistake; save what they changed.
  std::lock_guard lock(mutex_);
  for (auto& [k, file] : open_) {
    FileStatus st = file.base->UpdateFile();
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
    it = open_.emplace(key, OpenFile{std::make_shared<TPXIniBase>(real, TPXIniBase::Kind::FolderIndex), 0}).first;
  }
  ++it->second.handles;
  return it->second.base;
}

std::vector<FileStatus> IniRegistry::TakeSaveErrors() {
  std::lock_guard lock(mutex_);
  std::vector<FileStatus> r;
  r.swap(saveErrors_);
  return r;
}

std::vector<std::string> IniRegistry::TakeNotices() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> r;
  r.swap(notices_);
  return r;
}

void IniRegistry::NoteSaved(TPXIniBase& base, bool wrote) {
  std::string notice = base.TakeNotice();
  if (!notice.empty()) notices_.push_back(std::move(notice));
  if (wrote && saved_) saved_(base.FileName());
}

void IniRegistry::SetSaveObserver(std::function<void(const std::string& indexPath)> observer) {
  std::lock_guard lock(mutex_);
  saved_ = std::move(observer);
}

FileStatus IniRegistry::release(const std::shared_ptr<TPXIniBase>& base, bool fromDestructor) {
  std::lock_guard lock(mutex_);
  const bool changed = base->Modified();
  FileStatus st = base->UpdateFile();
  NoteSaved(*base, changed && st.ok());
  auto it = open_.find(keyOf(base->FileName()));
  if (it != open_.end() && it->second.base == base && --it->second.handles <= 0) open_.erase(it);
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
  // A failed save is kept for IniRegistry::TakeSaveErrors().
  if (base_) (void)registry_->release(base_, true);
}

FileStatus TPXIniFile::Release() {
  if (!base_) return FileStatus::Ok();
  FileStatus st = registry_->release(base_, false);
  base_.reset();
  if (!st.ok()) lastError_ = st;
  return st;
}

FileStatus TPXIniFile::LoadStatus() const { return base_ ? base_->LoadStatus() : FileStatus::Ok(); }

size_t TPXIniFile::SectionCount() const { return base_ ? base_->SectionCount() : 0; }

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

FileStatus TPXIniFile::UpdateFile() {
  if (!base_) return FileStatus::Ok();
  const bool changed = base_->Modified();
  FileStatus st = base_->UpdateFile();
  if (!st.ok()) lastError_ = st;
  {
    std::lock_guard lock(registry_->mutex_);
    registry_->NoteSaved(*base_, changed && st.ok());
  }
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
