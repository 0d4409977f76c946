#pragma once
// The folder index file (`Plumadex.ini`): its path and the shared handles on it.
//
// Folder indexes are opened through handles (TPXIniFile) created from an IniRegistry: every
// handle of one file shares one base, so a change made through one handle is seen at once by
// the others. Releasing a handle saves pending changes; the last release also drops the base,
// so the next open re-reads the file.
//
// Locking: the registry has one mutex (open-file table, alias table and handle counts); every
// base has its own mutex. Lock order is registry, then base. Handles themselves are not shared
// between threads: each thread opens its own.
#include "foundation/ini_file.h"
#include "foundation/types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace px::store {

// Name of the index file of a folder; any letter case is accepted on disk.
inline constexpr std::string_view kIndexFileName = "Plumadex.ini";
// Index of the desktop folder, kept in the data root (no index is written into the desktop).
inline constexpr std::string_view kDesktopIndexName = "WinDesktop.ini";

// Index file of folder `folder` (which ends in "/"). When the folder already holds an index
// under another letter case ("PLUMADEX.INI", "plumadex.ini") that file is returned.
std::string IndexPathOf(std::string_view folder);
// True when `fileName` (a bare name, no folder) names an index file, in any letter case.
bool IsIndexFileName(std::string_view fileName);

// The open-file registry and the index alias table of one running desk. Owned by the desk's
// state and passed to whoever opens index files; safe to use from several threads.
class IniRegistry {
public:
  IniRegistry();
  ~IniRegistry();
  IniRegistry(const IniRegistry&) = delete;
  IniRegistry& operator=(const IniRegistry&) = delete;

  // Index file `indexPath` is kept at `target` instead (both full paths).
  void SetAlias(std::string_view indexPath, std::string_view target);
  void RemoveAlias(std::string_view indexPath);
  // The path that is really used for `indexPath` (itself when it has no alias).
  std::string MapPath(std::string_view indexPath) const;
  // Keeps the index of the desktop folder as `WinDesktop.ini` in the data root.
  void SetDesktopAlias(std::string_view desktopFolder, std::string_view dataRoot);

  // Failed saves of handles released by their destructors, oldest first; the list is emptied.
  // An operation that lets handles go out of scope asks here before it reports success.
  std::vector<FileStatus> TakeSaveErrors();
  // Reports of damaged index files that a save kept aside, oldest first; the list is emptied.
  std::vector<std::string> TakeNotices();

  // Told the path of every index file saved with changes (the search index follows them). Set
  // once where the program is put together; called on the saving thread, under the registry's
  // lock: it must only take note.
  void SetSaveObserver(std::function<void(const std::string& indexPath)> observer);

  // Number of files with open handles (for tests and diagnostics).
  size_t OpenCount() const;
  bool IsOpen(std::string_view indexPath) const;

private:
  friend class TPXIniFile;
  std::shared_ptr<TPXIniBase> acquire(std::string_view path);
  FileStatus release(const std::shared_ptr<TPXIniBase>& base, bool fromDestructor);
  std::string keyOf(std::string_view path) const;

  mutable std::mutex mutex_;
  std::map<std::string, std::string> aliases_;                   // key of index path -> target
  struct OpenFile {
    std::shared_ptr<TPXIniBase> base;
    int handles = 0;
  };
  std::map<std::string, OpenFile> open_;                         // key of real path -> base
  std::vector<FileStatus> saveErrors_;
  std::vector<std::string> notices_;
  void NoteSaved(TPXIniBase& base, bool wrote);
  std::function<void(const std::string&)> saved_;
};

// A handle on a shared index file: opened from the registry, released by Release() or the
// destructor. Every release saves pending changes; the last one also drops the base. Release()
// returns the save status and LastError() keeps the last failed save of UpdateFile or Release;
// a save that fails in the destructor is logged and queued in IniRegistry::TakeSaveErrors().
// When the last release fails, the old file stays and the unsaved changes are dropped with the
// base. Handles must not outlive their registry.
class TPXIniFile final : public TPXCustomIni {
public:
  // Opens the index file at `path` (an index path, not a folder; see IndexPathOf).
  TPXIniFile(IniRegistry& registry, std::string_view path);
  ~TPXIniFile() override;
  TPXIniFile(const TPXIniFile&) = delete;
  TPXIniFile& operator=(const TPXIniFile&) = delete;

  // Saves pending changes and gives up the handle; later calls on it do nothing (reads give
  // the defaults). Returns the save status.
  FileStatus Release();
  bool IsOpen() const { return base_ != nullptr; }
  // The last failed save through this handle (ok when none failed).
  const FileStatus& LastError() const { return lastError_; }
  // Error of reading the file when it was first opened.
  FileStatus LoadStatus() const;
  // Number of sections (also those without lines); 0 when released.
  size_t SectionCount() const;

  std::string FileName() const override;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const override;
  void WriteString(std::string_view section, std::string_view key, std::string_view value) override;
  void ReadSection(std::string_view section, StringList& keys) const override;
  void ReadSections(StringList& sections) const override;
  void ReadSectionValues(std::string_view section, StringList& lines) const override;
  void DeleteKey(std::string_view section, std::string_view key) override;
  void EraseSection(std::string_view section) override;
  bool SectionExists(std::string_view section) const override;
  bool ValueExists(std::string_view section, std::string_view key) const override;
  FileStatus UpdateFile() override;
  void GetStrings(StringList& out) const override;
  void ForEachSection(
      const std::function<void(std::string_view name, std::span<const std::string_view> lines)>& fn)
      const override;

private:
  IniRegistry* registry_;
  std::shared_ptr<TPXIniBase> base_;
  FileStatus lastError_;
};

}  // namespace px::store
